// The answers of the fourteen FTP clients: completions move a slot from step
// to step, shown lines are logged and watched for refusals, progress is kept
// and finishes a file that reached its size.

#include "download/scheduler.h"

#include "platform/text.h"

namespace download {

using platform::contains;

namespace {

// The line with every occurrence of the file's name blanked out.
std::string withoutFileName(std::string line, const std::string& fname) {
    if (fname.empty()) return line;
    for (std::size_t at = line.find(fname); at != std::string::npos; at = line.find(fname, at + 1))
        line.replace(at, fname.size(), fname.size(), ' ');
    return line;
}

// The server confirmed the transfer (226 or 250 was the last reply).
bool confirmed(const net::TFtpClient& c) {
    return c.StatusCode() == 226 || c.StatusCode() == 250;
}

} // namespace

void Scheduler::ftp11RequestDone(net::TFtpClient& sender, net::TFtpRequest rqType, std::uint16_t error) {
    const int n = sender.Tag;
    if (n < 1 || n > SlotCount) return;
    Slot& s = slotAt(n);
    auto isTransfer = [](net::TFtpRequest rq) {
        return rq == net::ftpRestGetAsync || rq == net::ftpGetAsync;
    };
    const bool transfer = isTransfer(rqType);
    if (s.request != net::ftpNone && rqType != s.request) {
        // Applied to the request under way, it would end that one: a second
        // transfer could then start while the first still writes the file.
        // (Its bytes still count, unless a newer transfer has reset the count.)
        if (transfer && !isTransfer(s.request)) receivedBytes += sender.ByteCount();
        memo(errorlog, std::to_string(n) + ": late completion ignored: request " + std::to_string(rqType) +
                           ", error " + std::to_string(error) + ", state " + std::to_string(number(s.state)));
        return;
    }
    s.request = net::ftpNone;
    s.awaiting = false;
    // A transfer that ends (also broken off by a stall) with bytes received
    // made progress; the progress events come before each block is counted,
    // so a transfer whose data came in one block never reports it there.
    if (transfer && sender.ByteCount() > 0) s.gotData = true;
    if (transfer) receivedBytes += sender.ByteCount();
    const SlotState at = s.state;
    if (sender.Passive && !s.record.site.empty()) passiveSites.insert(s.record.site + ":" + s.record.port);
    // A slot already ended has no site left to blame.
    if (error != 0 && !s.record.site.empty()) stats_.addbad(s.record.site);

    bool handled = false;
    applyRow(n, at, error, handled);
    if (error != 0 && !handled)
        memo(errorlog, std::to_string(n) + ": error " + std::to_string(error) + ": state " +
                           std::to_string(number(at)));
    // The next step goes on without waiting for the slot's visit.
    advanceSoon(n);
}

void Scheduler::applyRow(int n, SlotState at, std::uint16_t error, bool& handled) {
    Slot& s = slotAt(n);
    switch (at) {
    case Idle:
    case FileFinished:
        break;
    case Connecting:
        setState(n, Connected);
        if (error != 0 && !s.client->TlsFailure().empty()) {
            // No TLS where it was required, a certificate that does not
            // verify, one that changed: no other try would do better.
            abort(n, Outcome::Tls, s.client->TlsFailure());
            handled = true;
            break;
        }
        if (error == 421 || error == 550) handled = true;
        if (error > 10000) {
            if (!s.record.site.empty()) stats_.addbad(s.record.site);
            abort(n, Outcome::SiteDown, "Site Down");
            handled = true;
        }
        break;
    case Connected:
        setState(n, UserSent);
        handled = true;
        if (error == 11002) abort(n, Outcome::SiteDown, "Site Down");
        break;
    case UserSent:
        setState(n, error ? Connecting : LoggedIn);
        if (error == 0) s.refusals = s.loginRefusals = 0; // logged in: the refusals in a row end
        if (error == 421) handled = true;
        break;
    case LoggedIn:
        setState(n, SizeAnswered);
        break;
    case SizeAnswered:
        setState(n, error ? Connecting : TypeSent);
        break;
    case TypeSent:
        setState(n, error ? Connecting : StartTransfer);
        if (error == 0) s.binarySet = true;
        break;
    case StartTransfer:
    case TransferAnswered:
    case TransferConfirmed:
    case ResumeRefused:
        transferEnded(n, at, error, handled);
        break;
    default:
        break;
    }
}

// The end of a transfer request. Bytes are honest: with a known size only the
// exact size is a finished file, a transfer that brings more is cut at the
// size (the server ignored REST, or lied), and a file the site does not have
// is no success.
void Scheduler::transferEnded(int n, SlotState at, std::uint16_t error, bool& handled) {
    Slot& s = slotAt(n);
    const net::TFtpClient& c = *s.client;
    const std::int64_t rs = c.RemoteSize();
    const std::int64_t whole = s.resumeAt + c.ByteCount();
    const std::string reply = platform::printable(c.LastReply());
    if (c.Overran()) {
        handled = true;
        overran(n, c.Connected());
        return;
    }
    if (!c.LocalError().empty()) {
        handled = true;
        failFile(n, Outcome::LocalError, c.LocalError());
        return;
    }
    if (rs > 0 && whole == rs) {
        // Every byte is here: whatever the server said after it (a 426 for
        // a data connection it closed, a control connection that dropped).
        s.fetched = true;
        setState(n, FileFinished);
        return;
    }
    if (error == 0 && confirmed(c)) {
        if (rs > 0 && whole < rs) {
            // Confirmed but short: resumed (the attempts are bounded).
            memo(errorlog, std::to_string(n) + ": transfer short: " + std::to_string(whole) + " of " +
                               std::to_string(rs) + " bytes");
            s.failure = "short: " + std::to_string(whole) + " of " + std::to_string(rs) + " bytes";
            retryTransfer(n);
        } else {
            s.fetched = true;
            setState(n, FileFinished);
        }
        return;
    }
    if (error == 0) {
        // The control connection went down in the middle: connect again
        // and resume the partial file.
        if (!s.record.site.empty()) stats_.addbad(s.record.site);
        memo(errorlog, std::to_string(n) + ": transfer broken off: state " + std::to_string(number(at)));
        s.failure = "transfer broken off";
        setState(n, Connecting);
        return;
    }
    if (s.lastCommand == "REST") {
        // Resume refused: the file is fetched from its start.
        setState(n, ResumeRefused);
        return;
    }
    if (s.lastCommand == "RETR" && error >= 500 && error < 600 && error != 530) {
        handled = true;
        if (error == 550)
            failFile(n, Outcome::NotFound, "not found on the site (" + reply + ")");
        else
            failFile(n, Outcome::Refused, "refused by the site (" + reply + ")");
        return;
    }
    if (at == TransferAnswered) {
        abort(n, Outcome::Broken, "5");
        return;
    }
    if (at == TransferConfirmed) {
        abort(n, Outcome::Broken, "10");
        return;
    }
    // A data connection that failed, a transient refusal (4xx), a broken
    // connection: tried again, a bounded number of times.
    s.failure = reply.empty() ? "error " + std::to_string(error) : reply;
    retryTransfer(n);
}

// More bytes came than the size the server announced, and the client kept
// none past it. After an honoured-looking REST the server sent the file from
// its first byte: the site's files are fetched whole from now on, this one at
// once. Without REST the server lied about the size: the file fails.
void Scheduler::overran(int n, bool connected) {
    Slot& s = slotAt(n);
    if (s.resumeAt > 0) {
        noRestSites.insert(s.record.site + ":" + s.record.port);
        memo(errorlog, std::to_string(n) + ": server ignored REST: fetching from the start");
        setState(n, connected ? ResumeRefused : Connecting);
    } else {
        failFile(n, Outcome::Overran,
                 "server sent more than its SIZE of " + std::to_string(s.client->RemoteSize()) + " bytes");
    }
}

void Scheduler::retryTransfer(int n) {
    setState(n, slotAt(n).client->Connected() ? StartTransfer : Connecting);
}

void Scheduler::failFile(int n, Outcome outcome, const std::string& why) {
    Slot& s = slotAt(n);
    s.failure = why;
    s.fetched = false;
    s.outcome = outcome;
    setState(n, FileFinished);
}

bool Scheduler::attempt(int n, std::map<std::string, int>& tries, const char* what) {
    Slot& s = slotAt(n);
    if (++tries[s.record.url] <= MaxAttempts) return true;
    const std::string last = s.failure.empty() ? platform::printable(s.client->LastReply()) : s.failure;
    failFile(n, Outcome::GivenUp,
             "given up after " + std::to_string(MaxAttempts) + " " + what + " (last: " + last + ")");
    return false;
}

void Scheduler::ftp1Display(net::TFtpClient& sender, std::string& msg) {
    const int n = sender.Tag;
    if (n < 1 || n > SlotCount) return;
    Slot& s = slotAt(n);
    // The rules read the server's replies only ("< ..."), and not the name of
    // the file they may echo: the client's own notes ("! ...": data pieces,
    // the transfer line) and its commands ("> SIZE track530.mp3") hold file
    // content and names, and a file "Lion den.mp3" must not end its site.
    const bool reply = msg.rfind("< ", 0) == 0;
    if (msg.rfind("> ", 0) == 0)
        s.lastCommand =
            msg.substr(2, msg.find(' ', 2) == std::string::npos ? std::string::npos : msg.find(' ', 2) - 2);
    const std::string text = reply ? withoutFileName(msg, s.record.fname) : std::string();
    // A refused PORT or EPRT ("550 Permission denied." from a server that
    // wants passive mode) only sends the client to passive mode.
    const bool dataCommand = s.lastCommand == "PORT" || s.lastCommand == "EPRT" || s.lastCommand == "PASV" ||
                             s.lastCommand == "EPSV";
    // A refusal of AUTH, PBSZ or PROT (530 and 534 included) says only that
    // the server has no TLS; the client itself ends what needed it.
    if (s.lastCommand == "AUTH" || s.lastCommand == "PBSZ" || s.lastCommand == "PROT") {
        std::string line = std::to_string(n) + ": " + platform::printable(msg);
        hooks.statusmemo(line);
        memo(ftpstatus, std::move(line));
        return;
    }
    if (reply && contains(text, "530")) {
        // Every refused log-in counts, on a new connection or the same one.
        if ((s.lastCommand == "USER" || s.lastCommand == "PASS") && ++s.loginRefusals >= MaxRefusals) {
            abort(n, Outcome::LoginRefused,
                  "log-in refused " + std::to_string(MaxRefusals) + " times (" +
                      platform::printable(msg.substr(2)) + ")");
            return;
        }
        if (numberedAboveLoggedIn(s.state)) setState(n, Connecting);
    }
    // The server accepted the transfer: one mark for the site.
    if (reply && (msg.rfind("< 150", 0) == 0 || msg.rfind("< 125", 0) == 0) && !s.startMarked &&
        (s.state == StartTransfer || s.state == ResumeRefused || s.state == TransferAnswered)) {
        s.startMarked = true;
        if (!s.record.site.empty()) stats_.addgood(s.record.site);
    }
    if (!contains(msg, "Data")) {
        std::string line = std::to_string(n) + ": " + platform::printable(msg);
        hooks.statusmemo(line);
        memo(ftpstatus, std::move(line));
    } else {
        memo(ftpstatus, std::to_string(n) + ".");
    }
    if (reply && !dataCommand &&
        (contains(text, "ion den") || contains(text, "word inco") || contains(text, "ect to hos") ||
         contains(text, "exeeded"))) {
        if (!s.record.site.empty())
            for (int i = 0; i < RefusalMarks; ++i)
                stats_.addbad(s.record.site);
        abort(n, Outcome::Refused, platform::printable(msg));
    }
}

void Scheduler::ftp1Progress(net::TFtpClient& sender, std::int64_t count, bool& abortFlag) {
    const int n = sender.Tag;
    if (n < 1 || n > SlotCount) return;
    Slot& s = slotAt(n);
    s.byteCount = count;
    if (sender.ByteCount() > 0) s.gotData = true;
    s.resumeAt = count - sender.ByteCount();
    s.record.tag = static_cast<std::int32_t>(count);
    abortFlag = s.reset;
    // The count reaching the size finishes nothing: more may follow (a server
    // that ignored REST), and only the end of the transfer tells.
}

} // namespace download
