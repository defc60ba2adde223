// The real TFtpClient against a loopback server that plays the fuzz input:
// log-in, TYPE, then RestGet (or Get) into a scratch directory, in active or
// passive mode. The client runs until its last request ends; past the end of
// the script the server closes everything and the request must then end
// within a bounded number of event-loop turns.
//
// Built three times: fuzz_ftp_client (127.0.0.1: PORT, EPSV, PASV),
// fuzz_ftp_client6 (FUZZ_FTP_IPV6, over ::1: EPRT and EPSV, PASV after a
// refused EPSV) and fuzz_ftps_client (FUZZ_FTP_TLS: the control connection
// and every data connection in TLS, with a test certificate the client
// verifies; explicit AUTH TLS, which the server takes up after any reply
// line of code 234 it sends, or implicit with flag 64).
//
// Input: byte 0 flags (1 passive, 2 Get instead of RestGet, 4 no splice,
// 8 a partial local file first, 16 MaxFileSize, 32 DisplayFlag, 64 implicit
// TLS), byte 1 a size (local file n*7 bytes, MaxFileSize 1+n*37), then one
// step a line:
//   S text   reply line (CR LF added)      R text  raw control bytes (\r \n)
//   W        wait for the client's next command line
//   E / Q    open a passive port and send the 229 / 227 reply naming it
//   P        data connection: connect to the PORT (EPRT) address (active) or
//            take the client's connection (passive); one per run
//   D text   data bytes (\r \n)      F n  n bytes of a fill pattern
//   C        close the data connection (TLS: close_notify first)
//   K        cut the data connection (TLS: without close_notify)
//   X        close the control connection
//   T n      n turns of the event loop
// Checked: each request completes exactly once, with its own number; no name
// but the local file's appears in the directory; a transfer that succeeds
// leaves exactly the bytes sent (after the local part when REST was
// honoured); one refused before any 125/150 reply and any data byte leaves
// the local file as it was; no file grows past MaxFileSize.
#include "loopback_peer.h"
#include "net/ftpcli.h"
#include "net/ftpreply.h"
#include "tls_link.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int WaitTurns = 20;     // for one awaited event of the script
constexpr int ScriptTurns = 1500; // for the whole script
constexpr int EndTurns = 20000;   // for the last request after the server closed
constexpr std::int64_t MaxFill = 1 << 20;
const char* const LocalName = "song.mp3";
#ifdef FUZZ_FTP_IPV6
constexpr bool V6 = true;
#else
constexpr bool V6 = false;
#endif
#ifdef FUZZ_FTP_TLS
constexpr bool Tls = true;
#else
constexpr bool Tls = false;
#endif

using fuzzpeer::check;
using fuzzpeer::fill;

struct Run {
    net::TFtpClient c;
    int listener = -1, pasv = -1;
    fuzzpeer::Link control, data;
    bool implicitTls = false;
    int pasvPort = 0, activePort = 0;
    bool dataUsed = false;
    int dataCommands = 0;           // PORT, EPSV and PASV lines from the client
    int dataCommandsAtConnect = 0;  // ... when the data connection was made
    std::string fromClient;         // control bytes from the client
    std::vector<std::string> lines; // ... cut into lines
    std::size_t linesTaken = 0;
    std::string controlSent, dataSent;
    int turnsLeft = ScriptTurns;
    bool useGet = false;

    // Requests: the one under way, its number, and the completions seen.
    int expected = -1;
    int outstanding = 0;
    int transferResult = -1;
    int step = 0; // 0 Open, 1 User, 2 Pass, 3 TypeSet, 4 transfer, 5 done
    std::int64_t firstProgress = -1;

    ~Run() {
        for (int* fd : {&listener, &pasv})
            fuzzpeer::closeFd(*fd);
    }

    void turn() {
        fuzzpeer::turn();
        if (turnsLeft > 0) --turnsLeft;
        poll();
        drive();
    }

    void poll() {
        if (!control.open() && listener >= 0) {
            control.adopt(fuzzpeer::acceptOne(listener));
            if (control.open() && implicitTls) control.startTls();
        }
        if (!control.open()) return;
        control.readAvailable(fromClient);
        if (data.tls()) {
            std::string none; // (the client sends nothing there: this moves the handshake on)
            data.readAvailable(none);
        }
        std::size_t nl;
        while ((nl = fromClient.find("\r\n")) != std::string::npos) {
            const std::string line = fromClient.substr(0, nl);
            fromClient.erase(0, nl + 2);
            lines.push_back(line);
            for (const char* word : {"PORT", "EPRT", "EPSV", "PASV"})
                if (line.rfind(word, 0) == 0) ++dataCommands;
            unsigned h[4], p[2];
            int port = 0;
            if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0],
                            &p[1]) == 6)
                activePort = static_cast<int>(p[0] * 256 + p[1]);
            else if (std::sscanf(line.c_str(), "EPRT |2|%*[^|]|%d|", &port) == 1)
                activePort = port;
        }
    }

    // Starts the next request of the download once the last one succeeded.
    void drive() {
        if (outstanding > 0 || step >= 5) return;
        if (step > 0 && !c.Connected()) {
            step = 5; // nothing more can be asked
            return;
        }
        if (step == 2 && c.StatusCode() != 331) step = 3;
        ++outstanding;
        switch (step++) {
        case 0:
            expected = net::ftpOpenAsync;
            c.Open();
            break;
        case 1:
            expected = net::ftpUserAsync;
            c.User();
            break;
        case 2:
            expected = net::ftpPassAsync;
            c.Pass();
            break;
        case 3:
            expected = net::ftpTypeSetAsync;
            c.TypeSet();
            break;
        default:
            expected = useGet ? net::ftpGetAsync : net::ftpRestGetAsync;
            if (useGet)
                c.Get();
            else
                c.RestGet();
            break;
        }
    }

    void done(net::TFtpRequest rq, std::uint16_t error) {
        if (std::getenv("FUZZ_VERBOSE")) std::fprintf(stderr, "  request %d done: %d\n", rq, error);
        check(outstanding == 1, "one completion per request");
        check(static_cast<int>(rq) == expected, "the completion names its request");
        --outstanding;
        if (step == 5 || expected == net::ftpGetAsync || expected == net::ftpRestGetAsync) {
            transferResult = error;
            step = 5;
        } else if (error != 0) {
            step = 5;
        }
    }

    void sendControl(std::string_view text) {
        waitFor([&] { return control.open(); });
        if (!control.open()) return;
        const std::size_t sent = control.send(text, WaitTurns);
        controlSent.append(text.substr(0, sent));
        // After a 234 reply (to AUTH TLS) the server speaks TLS.
        if (Tls && !control.tls() && sent == text.size() && acceptanceOf(text, {234})) control.startTls();
    }

    template <class F> void waitFor(F&& cond) {
        for (int t = 0; t < WaitTurns && turnsLeft > 0 && !cond(); ++t)
            turn();
    }

    void openPassive(bool epsv) {
        if (pasv < 0) pasv = fuzzpeer::listenLoopback(pasvPort, V6);
        sendControl(fuzzpeer::passiveReply(epsv, pasvPort));
    }

    void dataConnect() {
        if (dataUsed) return;
        dataCommandsAtConnect = dataCommands;
        int fd = -1;
        if (c.Passive) {
            waitFor([&] { return (fd = fuzzpeer::acceptOne(pasv)) >= 0; });
        } else {
            waitFor([&] { return activePort > 0; });
            if (activePort > 0) fd = fuzzpeer::connectLoopback(activePort, V6);
        }
        data.adopt(fd);
        // The client protects every data connection of a TLS session.
        if (control.tls()) data.startTls();
        dataUsed = data.open();
    }

    void sendData(std::string_view bytes) {
        if (!data.open()) return;
        dataSent.append(bytes.substr(0, data.send(bytes, WaitTurns)));
    }

    void shutData() { data.shutWrite(); }
    bool goOn() const { return turnsLeft > 0; }
    void onStep(std::string_view) {}
    void otherStep(char letter) {
        if (letter == 'K') {
            data.shutWrite(true);
            turn();
        }
        if (letter != 'X') return;
        control.close();
        fuzzpeer::closeFd(listener); // no second connection
        turn();
    }

    // A line of text begins with one of the codes.
    static bool acceptanceOf(std::string_view text, std::initializer_list<int> codes) {
        std::size_t pos = 0;
        while (pos <= text.size()) {
            std::size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            const int code = net::ftp::ReplyCode(text.substr(pos, end - pos));
            for (const int c : codes)
                if (code == c) return true;
            pos = end + 2;
        }
        return false;
    }

    // A 125 or 150 line went to the client: it may have taken the transfer
    // as accepted.
    bool acceptanceSent() const { return acceptanceOf(controlSent, {125, 150}); }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzpeer::initApp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = bytes[0], n = bytes[1];
    const std::string_view script(reinterpret_cast<const char*>(bytes) + 2, size - 2);

    fuzzpeer::ScratchDir dir;
    const std::string local = (flags & 8) ? "abc" + fill(n * 7) : std::string();
    if (flags & 8) check(fuzzpeer::writeFile(LocalName, local), "local file written");
    net::setSpliceReceive(!(flags & 4));
    {
        Run r;
        r.useGet = flags & 2;
        int port = 0;
        r.listener = fuzzpeer::listenLoopback(port, V6);
        net::TFtpClient& c = r.c;
        c.HostName = V6 ? "::1" : "127.0.0.1";
        if (Tls) {
            fuzzpeer::serverTls(); // (trusted by the client from here on)
            r.implicitTls = flags & 64;
            c.Tls = r.implicitTls ? net::FtpTls::Implicit : net::FtpTls::Explicit;
            c.TlsVerify = true;
        }
        c.Port = std::to_string(port);
        c.UserName = "anonymous";
        c.PassWord = "fuzz@";
        c.HostFileName = c.LocalFileName = LocalName;
        c.Passive = flags & 1;
        c.DisplayFlag = flags & 32;
        c.Timeout = 0;
        if (flags & 16) c.MaxFileSize = 1 + n * 37;
        c.OnRequestDone.connect(
            [&r](net::TFtpClient&, net::TFtpRequest rq, std::uint16_t e) { r.done(rq, e); });
        c.OnProgress.connect([&r](net::TFtpClient&, std::int64_t count, bool&) {
            if (r.firstProgress < 0) r.firstProgress = count;
        });

        if (std::getenv("FUZZ_VERBOSE"))
            c.OnDisplay.connect(
                [](net::TFtpClient&, std::string& m) { std::fprintf(stderr, "    %s\n", m.c_str()); });
        r.drive();
        fuzzpeer::playScript(r, script, MaxFill);
        // The server goes away; the request under way must end.
        r.data.shutWrite();
        r.control.close();
        fuzzpeer::closeFd(r.listener);
        fuzzpeer::closeFd(r.pasv);
        for (int t = 0; t < EndTurns && (r.outstanding > 0 || r.step < 5); ++t) {
            r.turn();
            if (t == 20) r.data.close();
        }
        check(r.outstanding == 0, "the request ends once the server closed");
        for (int t = 0; t < 5; ++t)
            r.turn(); // a second completion would show here

        if (std::getenv("FUZZ_VERBOSE")) {
            std::fprintf(stderr,
                         "steps %d, transfer %d, passive %d, data sent %zu, overran %d, last reply: %s\n",
                         r.step, r.transferResult, c.Passive ? 1 : 0, r.dataSent.size(), c.Overran() ? 1 : 0,
                         c.LastReply().c_str());
            for (const std::string& l : r.lines)
                std::fprintf(stderr, "  > %s\n", l.c_str());
        }
        // Only the local file, nowhere else.
        for (const std::string& name : dir.names())
            check(name == LocalName, "nothing but the local file is written");
        std::string now;
        const bool exists = fuzzpeer::readFile(LocalName, now);
        if (c.MaxFileSize > 0)
            check(static_cast<std::int64_t>(now.size()) <=
                      std::max<std::int64_t>(c.MaxFileSize, local.size()),
                  "no file past MaxFileSize");
        for (const std::string& line : r.lines)
            if (line.rfind("REST ", 0) == 0)
                check(line == "REST " + std::to_string(local.size()), "REST names the local size");
        if (r.transferResult == 0) {
            check(exists, "a finished transfer leaves its file");
            const bool resumed =
                r.firstProgress > 0 || (r.firstProgress < 0 && now == local && !local.empty());
            if (resumed)
                check(r.firstProgress < 0 || r.firstProgress == static_cast<std::int64_t>(local.size()),
                      "resumed at the local size");
            // (Unless the client asked for another data connection after
            // the one the server sent on: then the bytes went elsewhere.)
            if (!r.dataUsed || r.dataCommands == r.dataCommandsAtConnect)
                check(now == (resumed ? local : std::string()) + r.dataSent,
                      "a finished file is what the server sent");
            check(!c.Overran(), "an overrun never succeeds");
        } else if (r.transferResult > 0) {
            if (!r.acceptanceSent() && r.dataSent.empty()) {
                check(exists == ((flags & 8) != 0) && (!exists || now == local),
                      "a refused transfer leaves the file as it was");
            }
            if (c.Overran()) check(r.transferResult == 426, "an overrun fails with 426");
        }
    }
    return 0;
}
