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

// A confirmed transfer that is short of the size SIZE reported by more than
// the finish margin (50 bytes). Without a known size the confirmation stands.
bool isShort(const net::TFtpClient& c, const Slot& s) {
    const std::int64_t rs = c.RemoteSize();
    return rs > 0 && c.ByteCount() + s.resumeAt <= rs - 50;
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
    s.awaiting = false;
    // A transfer that ends (also broken off by a stall) with bytes received
    // made progress; the progress events come before each block is counted,
    // so a transfer whose data came in one block never reports it there.
    if ((rqType == net::ftpRestGetAsync || rqType == net::ftpGetAsync) && sender.ByteCount() > 0)
        s.gotData = true;
    const SlotState at = s.state;
    if (sender.Passive && !s.record.site.empty()) passiveSites.insert(s.record.site + ":" + s.record.port);
    // A slot already ended has no site left to blame.
    if (error != 0 && !s.record.site.empty()) stats_.addbad(s.record.site);

    const bool transferDone = error == 0 && confirmed(sender);
    if (transferDone && (at == StartTransfer || at == TransferAnswered || at == TransferConfirmed ||
                         at == ResumeRefused || at == FileFinished))
        s.fetched = true;

    bool handled = false;
    applyRow(n, at, error, handled);
    if (error != 0 && !handled)
        memo(errorlog, std::to_string(n) + ": error " + std::to_string(error) + ": state " +
                           std::to_string(number(at)));
}

void Scheduler::applyRow(int n, SlotState at, std::uint16_t error, bool& handled) {
    Slot& s = slotAt(n);
    const net::TFtpClient& c = *s.client;
    switch (at) {
    case Idle:
    case FileFinished:
        break;
    case Connecting:
        setState(n, Connected);
        if (error == 421 || error == 550) handled = true;
        if (error > 10000) {
            if (!s.record.site.empty()) stats_.addbad(s.record.site);
            abort(n, "Site Down");
            handled = true;
        }
        break;
    case Connected:
        setState(n, UserSent);
        handled = true;
        if (error == 11002) abort(n, "Site Down");
        break;
    case UserSent:
        setState(n, error ? Connecting : LoggedIn);
        if (error == 0) s.refusals = 0; // logged in: the refusals in a row end
        if (error == 421) handled = true;
        break;
    case LoggedIn:
        setState(n, SizeAnswered);
        break;
    case SizeAnswered:
        if (error == 0) {
            setState(n, TypeSent);
        } else if (error == 550) {
            setState(n, FileFinished);
            handled = true;
        } else {
            setState(n, Connecting);
        }
        break;
    case TypeSent:
        setState(n, error ? Connecting : StartTransfer);
        if (error == 0) s.binarySet = true;
        break;
    case StartTransfer:
    case TransferAnswered:
    case TransferConfirmed:
    case ResumeRefused:
        if (error != 0) {
            if (at == StartTransfer) setState(n, ResumeRefused);
            if (at == TransferAnswered) abort(n, "5");
            if (at == TransferConfirmed) abort(n, "10");
            if (at == ResumeRefused) setState(n, FileFinished);
        } else if (confirmed(c) && isShort(c, s)) {
            // Confirmed, but shorter than SIZE said by more than the finish
            // margin: resumed once; still short, the file failed (it stays
            // pending and partial, for a later resume).
            s.fetched = false;
            memo(errorlog, std::to_string(n) +
                               ": transfer short: " + std::to_string(c.ByteCount() + s.resumeAt) + " of " +
                               std::to_string(c.RemoteSize()) + " bytes");
            if (!s.shortRetried) {
                s.shortRetried = true;
                dropPending(s.record.url); // the new start records it again
                setState(n, StartTransfer);
            } else {
                s.keepPending = true;
                setState(n, FileFinished);
            }
        } else if (confirmed(c)) {
            // The server confirmed the transfer and the data connection closed:
            // the file is complete (its size unknown, or within the margin).
            setState(n, FileFinished);
        } else {
            // The control connection went down in the middle: connect again
            // and resume the partial file.
            if (!s.record.site.empty()) stats_.addbad(s.record.site);
            memo(errorlog, std::to_string(n) + ": transfer broken off: state " + std::to_string(number(at)));
            setState(n, Connecting);
        }
        break;
    default:
        break;
    }
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
    const std::string text = reply ? withoutFileName(msg, s.record.fname) : std::string();
    if (reply && contains(text, "530") && numberedAboveLoggedIn(s.state)) setState(n, Connecting);
    // A 550 to the first SIZE after a log-in, still in ASCII mode, may only
    // refuse SIZE there: the file is then fetched without a known size (a
    // missing file is refused again by RETR).
    const bool sizeInAscii = s.state == LoggedIn && !s.binarySet;
    if (reply && contains(text, "550") && !sizeInAscii) setState(n, FileFinished);
    if (!contains(msg, "Data")) {
        std::string line = std::to_string(n) + ": " + msg;
        hooks.statusmemo(line);
        memo(ftpstatus, std::move(line));
    } else {
        memo(ftpstatus, std::to_string(n) + ".");
    }
    if (reply && (contains(text, "ion den") || contains(text, "word inco") || contains(text, "ect to hos") ||
                  contains(text, "exeeded"))) {
        if (!s.record.site.empty())
            for (int i = 0; i < 9; ++i)
                stats_.addbad(s.record.site);
        abort(n, msg);
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
    const std::int64_t rs = sender.RemoteSize();
    if (numberedAboveLoggedIn(s.state) && rs > 100 && rs - 50 < count && count < rs + 50) {
        if (s.state == StartTransfer || s.state == TransferAnswered) {
            setState(n, FileFinished);
            s.fetched = true;
        }
    }
}

void Scheduler::ftp1StateChange(net::TFtpClient& sender) {
    const int n = sender.Tag;
    if (n != 1) return;
    if (slotAt(n).state == TransferAnswered) setState(n, FileFinished);
}

} // namespace download
