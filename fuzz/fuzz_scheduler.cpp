// The download scheduler (the program's core as shell::Wavetrap wires it)
// with one or two ftp:// URLs of a loopback server that plays the fuzz
// input. The scheduler is ticked by hand: every turn of the event loop
// follows a number of visits; past the end of the script the server closes
// everything and every slot must then end within a bound of visits.
//
// Input: byte 0 flags (1 a partial local file "song.mp3" first, 2 a second
// URL, 4 ... of the same file name in another directory, 8 the URLs come
// back from the pending list of an earlier run, 16 no splice, 32 the slot
// shows data pieces, 64/128 visits a turn: 14, 1, 3, 28), byte 1 a size n
// (the local file holds n*7+3 bytes), then "U path" lines for the URLs'
// paths (optional: /pub/song.mp3, and /pub/other.mp3 or /new/song.mp3),
// then the server's script a step a line, as in fuzz_ftp_client:
//   S text   reply line (CR LF added)      R text  raw control bytes (\r \n)
//   W        wait for the client's next command line
//   E / Q    open a new passive port and send the 229 / 227 reply naming it
//   P        a new data connection: to the last PORT address, or the
//            client's connection to the last passive port
//   D text   data bytes (\r \n)      F n  n bytes of a fill pattern
//   C        close the data connection      X  close the control connection
//   T n      n turns of the event loop
//   A        wait for a new control connection from the client (the
//            scheduler connects again after errors); it replaces the one
//            before, as every new one does
//
// Checked: the run ends (every slot idle, nothing parked) within its bound;
// nothing is written outside the working directory, and in it no name but
// "*.mp3" not beginning with "."; a file reported fetched holds exactly what
// the server sent on the last transfer's data connection until the file was
// taken as finished, after the local part when REST was answered, has the
// announced size, and keeps it to the end of the run; a file refused before
// any 125/150 reply and any data byte is as it was (or still absent); no
// file grows past the largest size announced for it; each URL is reported
// done at most once.
#include "download/ftp_slot_session.h"
#include "loopback_peer.h"
#include "net/ftpreply.h"
#include "shell/wavetrap.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <netinet/tcp.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

// The FTP client of slot n (every site here is an FTP site).
net::TFtpClient& ftpClient(const download::Scheduler& s, int n) {
    return dynamic_cast<download::FtpSlotSession&>(*s.slot(n).session).client();
}

namespace fs = std::filesystem;

constexpr int WaitTurns = 60;     // for one awaited event of the script
constexpr int ScriptTurns = 3000; // for the whole script
constexpr int EndRounds = 1500;   // rounds of SlotCount visits after the server closed
constexpr std::int64_t MaxFill = 1 << 20;
const char* const LocalName = "song.mp3";

bool verbose = false;
std::string rootDir, workDir, configDir;

using fuzzpeer::check;
using fuzzpeer::fill;
using fuzzpeer::startDir;

// The server's sockets send every piece at once: held back until the
// client's delayed acknowledgement (up to 40 ms), a reply would come only
// after hundreds of visits, long after the stall rule broke the transfer off.
int noDelay(int fd) {
    const int on = 1;
    if (fd >= 0) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// A file's state: absent, or its bytes.
struct FileState {
    bool exists = false;
    std::string bytes;
    bool operator==(const FileState&) const = default;
};

FileState fileState(const std::string& name) {
    FileState f;
    f.exists = fuzzpeer::readFile(name, f.bytes);
    return f;
}

// A name the download directory may hold.
bool allowedName(const std::string& n) {
    if (n.size() < 5 || n[0] == '.') return false;
    std::string ext = n.substr(n.size() - 4);
    for (char& ch : ext)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return ext == ".mp3";
}

// One transfer the client asked for: from a data command (PORT, EPSV, PASV)
// to the next.
struct Attempt {
    std::string url;                              // the file the slot was fetching
    std::string local;                            // its local file name then
    FileState before;                             // that file when the data command came
    std::int64_t rest = -1;                       // the REST position asked (-1: none)
    std::int64_t announced;                       // the size the client took from SIZE (0: none)
    std::string data;                             // bytes the server sent on its data connection
    std::size_t sentAtFinish = std::string::npos; // ... when the slot took the file as finished
    int connections = 0;                          // data connections made for it
    bool unclear = false;                         // the server's data may have gone to another transfer
    int port = 0;                                 // the PORT address's port
    bool passive = false;
};

struct Run {
    shell::Wavetrap w;
    download::Scheduler& s = w.scheduler;
    int visitsPerTurn = download::SlotCount;
    long visits = 0;

    int listener = -1, control = -1, pasv = -1, data = -1;
    int pasvPort = 0;
    int pasvAttempt = -1; // the attempt under way when the passive port was named
    int dataAttempt = -1; // the attempt the data connection belongs to
    std::vector<std::string> controlSent{std::string()}; // per control connection
    std::string fromClient;
    std::vector<std::string> lines;
    std::size_t linesTaken = 0;
    std::int64_t dataBytes = 0;
    int turnsLeft = ScriptTurns;

    std::vector<Attempt> attempts;
    std::map<std::string, int> doneCount;
    std::map<std::string, FileState> fetched; // URL -> the file when it was reported fetched
    // Per URL: the server's acceptances and data bytes when it became the
    // slot's file, and whether it has been the slot's file.
    std::map<std::string, std::int64_t> eventsAtStart;
    std::string current;

    ~Run() {
        for (int* fd : {&listener, &control, &pasv, &data})
            fuzzpeer::closeFd(*fd);
    }

    // The slot at work (there is one site, so one slot at most).
    const download::Slot* busySlot() const {
        for (int n = 1; n <= download::SlotCount; ++n)
            if (s.slot(n).phase != download::Phase::Idle) return &s.slot(n);
        return nullptr;
    }

    // 125 and 150 lines sent, and data bytes: the server took a transfer on.
    std::int64_t events() const {
        std::int64_t k = dataBytes;
        for (const std::string& sent : controlSent) {
            std::size_t pos = 0;
            while (pos < sent.size()) {
                std::size_t end = sent.find("\r\n", pos);
                if (end == std::string::npos) end = sent.size();
                const int code = net::ftp::ReplyCode(std::string_view(sent).substr(pos, end - pos));
                if (code == 125 || code == 150) ++k;
                pos = end + 2;
            }
        }
        return k;
    }

    void track() {
        const download::Slot* b = busySlot();
        if (b && b->record.url != current) {
            current = b->record.url;
            if (!eventsAtStart.count(current)) eventsAtStart[current] = events();
        }
    }

    void turn() {
        for (int v = 0; v < visitsPerTurn; ++v, ++visits)
            s.dfatimerTimer();
        fuzzpeer::turn();
        if (turnsLeft > 0) --turnsLeft;
        poll();
    }

    void newAttempt(const std::string& word, const std::string& line) {
        track();
        Attempt a;
        const download::Slot* b = busySlot();
        a.url = b ? b->record.url : std::string();
        a.local = b ? b->localName : std::string();
        a.announced = b ? b->remoteSize() : 0;
        a.before = a.local.empty() ? FileState{} : fileState(a.local);
        a.passive = word != "PORT";
        unsigned h[4], p[2];
        if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &p[0], &p[1]) ==
            6)
            a.port = static_cast<int>(p[0] * 256 + p[1]);
        attempts.push_back(std::move(a));
    }

    void poll() {
        // A new connection from the client replaces the one before.
        for (int fd; (fd = fuzzpeer::acceptOne(listener)) >= 0;) {
            fuzzpeer::closeFd(control);
            control = noDelay(fd);
            controlSent.emplace_back();
        }
        if (control < 0) return;
        if (!fuzzpeer::readAvailable(control, fromClient)) fuzzpeer::closeFd(control);
        std::size_t nl;
        while ((nl = fromClient.find("\r\n")) != std::string::npos) {
            const std::string line = fromClient.substr(0, nl);
            fromClient.erase(0, nl + 2);
            lines.push_back(line);
            const std::string word = line.substr(0, line.find(' '));
            if (word == "PORT" || word == "EPSV" || word == "PASV") newAttempt(word, line);
            if (word == "REST" && !attempts.empty())
                attempts.back().rest = std::strtoll(line.c_str() + 5, nullptr, 10);
        }
        if (control < 0) fromClient.clear();
    }

    template <class F> void waitFor(F&& cond) {
        for (int t = 0; t < WaitTurns && turnsLeft > 0 && !cond(); ++t)
            turn();
    }

    void sendControl(std::string_view text) {
        waitFor([&] { return control >= 0; });
        if (control < 0) return;
        controlSent.back().append(text.substr(0, fuzzpeer::sendAll(control, text, WaitTurns)));
    }

    void openPassive(bool epsv) {
        fuzzpeer::closeFd(pasv);
        pasv = fuzzpeer::listenLoopback(pasvPort);
        pasvAttempt = static_cast<int>(attempts.size()) - 1;
        sendControl(fuzzpeer::passiveReply(epsv, pasvPort));
    }

    void dataConnect() {
        if (data >= 0) ::shutdown(data, SHUT_WR);
        fuzzpeer::closeFd(data);
        dataAttempt = -1;
        waitFor([&] { return !attempts.empty(); });
        if (attempts.empty()) return;
        const int latest = static_cast<int>(attempts.size()) - 1;
        if (attempts.back().passive) {
            waitFor([&] { return (data = noDelay(fuzzpeer::acceptOne(pasv))) >= 0; });
            if (data < 0) return;
            // The client connected to the port of the reply it read last,
            // which may have been sent for an earlier transfer.
            const int from = std::max(0, std::min(pasvAttempt, latest));
            for (int k = from; k < latest; ++k)
                attempts[static_cast<std::size_t>(k)].unclear = true;
            if (pasvAttempt != latest) attempts.back().unclear = true;
            dataAttempt = static_cast<int>(attempts.size()) - 1;
        } else {
            if (attempts.back().port <= 0) return;
            data = noDelay(fuzzpeer::connectLoopback(attempts.back().port));
            if (data < 0) return;
            dataAttempt = latest;
        }
        Attempt& a = attempts[static_cast<std::size_t>(dataAttempt)];
        if (++a.connections > 1) a.unclear = true;
    }

    void sendData(std::string_view bytes) {
        if (data < 0) return;
        const std::size_t sent = fuzzpeer::sendAll(data, bytes, WaitTurns);
        dataBytes += static_cast<std::int64_t>(sent);
        if (dataAttempt >= 0 && dataAttempt < static_cast<int>(attempts.size()))
            attempts[static_cast<std::size_t>(dataAttempt)].data.append(bytes.substr(0, sent));
    }

    void shutData() {
        if (data >= 0) ::shutdown(data, SHUT_WR);
    }
    bool goOn() const { return turnsLeft > 0 && !s.idle(); }
    void onStep(std::string_view line) const {
        if (verbose)
            std::fprintf(stderr, "  visit %ld: step %.*s\n", visits,
                         static_cast<int>(std::min<std::size_t>(line.size(), 60)), line.data());
    }
    void otherStep(char letter) {
        if (letter == 'A') {
            const std::size_t k = controlSent.size();
            waitFor([&] { return controlSent.size() > k; });
        } else if (letter == 'X') {
            fuzzpeer::closeFd(control);
            turn();
        }
    }

    // The last transfer of url, or null.
    const Attempt* lastAttempt(const std::string& url) const {
        for (auto it = attempts.rbegin(); it != attempts.rend(); ++it)
            if (it->url == url) return &*it;
        return nullptr;
    }
    const Attempt* firstAttempt(const std::string& url) const {
        for (const Attempt& a : attempts)
            if (a.url == url) return &a;
        return nullptr;
    }

    void fileDone(const std::string& url, bool ok) {
        poll(); // the client's last lines first
        check(++doneCount[url] == 1, "each URL is reported done at most once");
        if (ok)
            doneFetched(url);
        else
            doneRefused(url);
        track();
    }

    void doneFetched(const std::string& url) {
        const Attempt* a = lastAttempt(url);
        check(a != nullptr, "a file reported fetched was transferred");
        const FileState now = fileState(a->local);
        fetched[url] = now;
        check(now.exists, "a file reported fetched exists");
        const std::int64_t size = static_cast<std::int64_t>(now.bytes.size());
        if (a->announced > 0) check(size == a->announced, "a fetched file has the announced size");
        if (a->unclear) return;
        // REST answered with 350: the local part, then the server's bytes;
        // else the server's bytes alone.
        std::vector<std::string> prefixes{std::string()};
        if (a->rest > 0 && a->rest <= static_cast<std::int64_t>(a->before.bytes.size()))
            prefixes.push_back(a->before.bytes.substr(0, static_cast<std::size_t>(a->rest)));
        // What came after the file was taken as finished is no part of it.
        const std::string sent = a->data.substr(0, a->sentAtFinish);
        bool same = false;
        for (const std::string& p : prefixes) {
            const std::string whole = p + sent;
            same = same || whole == now.bytes;
        }
        check(same, "a fetched file is exactly what the server sent after any honoured REST");
    }

    void doneRefused(const std::string& url) {
        const Attempt* a = firstAttempt(url);
        const auto at = eventsAtStart.find(url);
        if (!a || at == eventsAtStart.end() || events() != at->second) return;
        check(fileState(a->local) == a->before, "a refused transfer leaves the local file as it was");
    }

    void finalChecks() {
        // Nothing outside the working directory, and only download names in it.
        for (const auto& e : fs::directory_iterator(rootDir)) {
            const std::string n = e.path().filename().string();
            check(n == "work" || n == "config", "nothing is written outside the working directory");
        }
        for (const auto& e : fs::directory_iterator(workDir)) {
            check(allowedName(e.path().filename().string()) && e.is_regular_file(),
                  "only *.mp3 files not beginning with \".\" are written");
        }
        // Fetched files stay as they were reported.
        for (const auto& [url, state] : fetched)
            check(fileState(lastAttempt(url)->local) == state, "a fetched file is left alone");
        // No file past the largest size announced for it (when every
        // transfer of its URL had one).
        std::map<std::string, std::int64_t> largest;
        for (const Attempt& a : attempts) {
            if (a.local.empty()) continue;
            auto [it, fresh] = largest.emplace(a.local, a.announced);
            if (a.announced <= 0 || it->second <= 0)
                it->second = 0;
            else
                it->second = std::max(it->second, a.announced);
        }
        for (const auto& [name, limit] : largest) {
            if (limit <= 0) continue;
            const FileState now = fileState(name);
            const Attempt* first = nullptr;
            for (const Attempt& a : attempts)
                if (a.local == name && !first) first = &a;
            if (now == first->before) continue; // not written in this run
            check(static_cast<std::int64_t>(now.bytes.size()) <= limit,
                  "no local file is larger than the announced size");
        }
    }

    void dump() const {
        for (const std::string& l : lines)
            std::fprintf(stderr, "  > %s\n", l.c_str());
        for (const auto& l : s.errorlog())
            std::fprintf(stderr, "  errorlog: %s\n", l.c_str());
        for (const auto& l : s.abortout())
            std::fprintf(stderr, "  abortout: %s\n", l.c_str());
        for (const Attempt& a : attempts)
            std::fprintf(stderr, "  attempt %s -> %s: rest %lld, size %lld, data %zu, %s%s\n", a.url.c_str(),
                         a.local.c_str(), static_cast<long long>(a.rest), static_cast<long long>(a.announced),
                         a.data.size(), a.passive ? "passive" : "active", a.unclear ? ", unclear" : "");
        for (std::size_t k = 1; k < controlSent.size(); ++k)
            std::fprintf(
                stderr, "  connection %zu: sent %zu bytes, last: %s\n", k, controlSent[k].size(),
                controlSent[k].substr(controlSent[k].size() > 40 ? controlSent[k].size() - 40 : 0).c_str());
        for (const auto& [url, k] : doneCount)
            std::fprintf(stderr, "  done %s: %d\n", url.c_str(), k);
    }
};

void emptyDir(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir))
        fs::remove_all(e.path());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzpeer::initApp(argc, argv);
    verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzzsched.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) std::abort();
    rootDir = buf.data();
    workDir = rootDir + "/work";
    configDir = rootDir + "/config";
    if (::mkdir(workDir.c_str(), 0700) != 0 || ::mkdir(configDir.c_str(), 0700) != 0) std::abort();
    ::setenv("WAVETRAP_CONFIG_DIR", configDir.c_str(), 1);
    // The directories go when the fuzzer ends (an abort leaves them for a look).
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(rootDir, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = bytes[0], n = bytes[1];
    std::string_view script(reinterpret_cast<const char*>(bytes) + 2, size - 2);

    // The URLs' paths.
    std::vector<std::string> paths{"/pub/song.mp3", (flags & 4) ? "/new/song.mp3" : "/pub/other.mp3"};
    for (std::size_t k = 0; k < 2 && script.size() > 1 && script[0] == 'U'; ++k) {
        std::size_t end = script.find('\n');
        if (end == std::string_view::npos) end = script.size();
        std::string p(script.substr(script[1] == ' ' ? 2 : 1, end - (script[1] == ' ' ? 2 : 1)));
        paths[k] = p.empty() || p[0] != '/' ? "/" + p : p;
        script.remove_prefix(std::min(end + 1, script.size()));
    }
    if (!(flags & 2)) paths.resize(1);

    emptyDir(workDir);
    emptyDir(configDir);
    // The working directory for the run (the fuzzer's own paths are relative
    // to the one before).
    startDir = fs::current_path().string();
    fs::current_path(workDir);
    if (flags & 1) check(fuzzpeer::writeFile(LocalName, "abc" + fill(n * 7)), "local file written");
    net::setSpliceReceive(!(flags & 16));
    {
        Run r;
        r.visitsPerTurn = std::vector<int>{download::SlotCount, 1, 3, 2 * download::SlotCount}[flags >> 6];
        int port = 0;
        r.listener = fuzzpeer::listenLoopback(port);
        std::vector<std::string> urls;
        for (const std::string& p : paths)
            urls.push_back("ftp://127.0.0.1:" + std::to_string(port) + p);
        if (urls.size() == 2 && urls[0] == urls[1]) urls.pop_back();

        r.s.hooks.fileDone.connect([&r](const std::string& url, bool ok) { r.fileDone(url, ok); });
        r.s.hooks.slotChanged.connect([&r](int k) {
            if (r.s.slot(k).phase == download::Phase::Finishing && !r.attempts.empty())
                r.attempts.back().sentAtFinish = r.attempts.back().data.size();
        });
        if (verbose) {
            r.s.hooks.statusmemo.connect(
                [](const std::string& l) { std::fprintf(stderr, "    %s\n", l.c_str()); });
            ftpClient(r.s, download::SlotCount)
                .OnProgress.connect([&r](net::TFtpClient& c, std::int64_t count, bool&) {
                    std::fprintf(stderr, "  progress %lld%s, slot state %d\n", static_cast<long long>(count),
                                 c.Overran() ? " (overran)" : "",
                                 download::stateNumber(r.s.slot(download::SlotCount)));
                });
            r.s.hooks.slotChanged.connect([&r](int k) {
                std::fprintf(stderr, "  visit %ld: slot %d state %d, bytes %lld\n", r.visits, k,
                             download::stateNumber(r.s.slot(k)),
                             static_cast<long long>(ftpClient(r.s, k).ByteCount()));
            });
            r.s.hooks.fileFailed.connect([](const std::string& url, const download::TransferResult& why) {
                std::fprintf(stderr, "  failed %s: %s: %s\n", url.c_str(), download::outcomeName(why.outcome),
                             why.detail.c_str());
            });
        }
        // Slot 14, the one the first file goes to, shows no data pieces;
        // the others do.
        ftpClient(r.s, download::SlotCount).DisplayFlag = flags & 32;
        if (flags & 8) {
            for (const std::string& u : urls) {
                r.w.pending.downloading.push_back(u);
                r.w.pending.downloadingsize.push_back("0");
            }
            r.w.resumePendingDownloads();
        } else {
            for (const std::string& u : urls)
                r.s.launchftp(r.w.urlinfo.info(u));
        }
        r.track();
        fuzzpeer::playScript(r, script, MaxFill);
        if (verbose) {
            const net::TFtpClient& c = ftpClient(r.s, download::SlotCount);
            std::fprintf(stderr, "script ends: client state %d, connected %d, last reply %s\n",
                         static_cast<int>(c.State()), c.Connected() ? 1 : 0, c.LastReply().c_str());
        }

        // The server goes away; every slot must end.
        if (r.data >= 0) ::shutdown(r.data, SHUT_WR);
        fuzzpeer::closeFd(r.control);
        fuzzpeer::closeFd(r.listener);
        fuzzpeer::closeFd(r.pasv);
        r.visitsPerTurn = download::SlotCount;
        for (int t = 0; t < EndRounds && !r.s.idle(); ++t) {
            r.turn();
            if (t == 20) fuzzpeer::closeFd(r.data);
        }
        if (verbose) {
            std::fprintf(stderr, "visits %ld, idle %d\n", r.visits, r.s.idle() ? 1 : 0);
            r.dump();
        }
        check(r.s.idle(), "the run ends within its bound of visits");
        for (int t = 0; t < 3; ++t)
            r.turn(); // a second report would show here
        r.finalChecks();
    }
    fs::current_path(startDir);
    return 0;
}
