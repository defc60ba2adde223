// The FTP session of a slot: its steps, the answers of its client
// (completions move the slot from step to step, shown lines are logged and
// watched for refusals, progress is kept), and its visit's time-outs and
// stalls.

#include "download/fileurl.h"
#include "download/slot_sessions.h"

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

// The clients' events reach the FTP session of their slot.
FtpSlotSession* Scheduler::ftpSession(const net::TFtpClient& sender) {
    const int n = sender.Tag;
    if (n < 1 || n > SlotCount) return nullptr;
    return dynamic_cast<FtpSlotSession*>(slotAt(n).session.get());
}

void Scheduler::ftp11RequestDone(net::TFtpClient& sender, net::TFtpRequest rqType, std::uint16_t error) {
    if (FtpSlotSession* f = ftpSession(sender)) f->requestDone(rqType, error);
}

void Scheduler::ftp1Display(net::TFtpClient& sender, std::string& msg) {
    if (FtpSlotSession* f = ftpSession(sender)) f->display(msg);
}

void Scheduler::ftp1Progress(net::TFtpClient& sender, std::int64_t count, bool& abortFlag) {
    if (FtpSlotSession* f = ftpSession(sender)) f->progress(count, abortFlag);
}

std::int64_t FtpSlotSession::size() const {
    return sc_.slot(n_).client->RemoteSize();
}

std::int64_t FtpSlotSession::receiving() const {
    const Slot& s = sc_.slot(n_);
    const bool transfer = s.request == net::ftpRestGetAsync || s.request == net::ftpGetAsync;
    return transfer ? s.client->ByteCount() : 0;
}

void FtpSlotSession::abort() {
    net::TFtpClient& c = *sc_.slot(n_).client;
    if (c.Connected() && c.State() == net::ftpReady) c.Abort();
}

void FtpSlotSession::requestDone(net::TFtpRequest rqType, std::uint16_t error) {
    const int n = n_;
    Slot& s = sc_.slotAt(n);
    net::TFtpClient& sender = *s.client;
    auto isTransfer = [](net::TFtpRequest rq) {
        return rq == net::ftpRestGetAsync || rq == net::ftpGetAsync;
    };
    const bool transfer = isTransfer(rqType);
    if (s.request != net::ftpNone && rqType != s.request) {
        // Applied to the request under way, it would end that one: a second
        // transfer could then start while the first still writes the file.
        // (Its bytes still count, unless a newer transfer has reset the count.)
        if (transfer && !isTransfer(s.request)) sc_.receivedBytes += sender.ByteCount();
        sc_.memo(sc_.errorlog, std::to_string(n) + ": late completion ignored: request " +
                                   std::to_string(rqType) + ", error " + std::to_string(error) + ", state " +
                                   std::to_string(number(s.state)));
        return;
    }
    s.request = net::ftpNone;
    s.awaiting = false;
    // A transfer that ends (also broken off by a stall) with bytes received
    // made progress; the progress events come before each block is counted,
    // so a transfer whose data came in one block never reports it there.
    if (transfer && sender.ByteCount() > 0) s.gotData = true;
    if (transfer) sc_.receivedBytes += sender.ByteCount();
    const SlotState at = s.state;
    if (sender.Passive && !s.record.site.empty())
        sc_.passiveSites.insert(s.record.site + ":" + s.record.port);
    // A slot already ended has no site left to blame.
    if (error != 0 && !s.record.site.empty()) sc_.stats_.addbad(s.record.site);

    bool handled = false;
    applyRow(n, at, error, handled);
    if (error != 0 && !handled)
        sc_.memo(sc_.errorlog, std::to_string(n) + ": error " + std::to_string(error) + ": state " +
                                   std::to_string(number(at)));
    // The next step goes on without waiting for the slot's visit.
    sc_.advanceSoon(n);
}

void FtpSlotSession::applyRow(int n, SlotState at, std::uint16_t error, bool& handled) {
    Slot& s = sc_.slotAt(n);
    switch (at) {
    case Idle:
    case FileFinished:
        break;
    case Connecting:
        sc_.setState(n, Connected);
        if (error != 0 && !s.client->TlsFailure().empty()) {
            // No TLS where it was required, a certificate that does not
            // verify, one that changed: no other try would do better.
            std::string why = s.client->TlsFailure();
            if (!remembered_.empty())
                why += " (" + KnownCertificates::key(s.client->HostName, s.client->Port) +
                       " showed a certificate before, remembered in " + sc_.knownCertificates.path() +
                       ": it is fetched over TLS only; delete its line there to forget it)";
            sc_.abort(n, Outcome::Tls, why);
            handled = true;
            break;
        }
        if (error == 421 || error == 550) handled = true;
        if (error > 10000) {
            if (!s.record.site.empty()) sc_.stats_.addbad(s.record.site);
            sc_.abort(n, Outcome::SiteDown, "Site Down");
            handled = true;
        }
        break;
    case Connected:
        sc_.setState(n, UserSent);
        handled = true;
        if (error == 11002) sc_.abort(n, Outcome::SiteDown, "Site Down");
        break;
    case UserSent:
        sc_.setState(n, error ? Connecting : LoggedIn);
        if (error == 0) s.refusals = s.loginRefusals = 0; // logged in: the refusals in a row end
        if (error == 421) handled = true;
        break;
    case LoggedIn:
        sc_.setState(n, SizeAnswered);
        break;
    case SizeAnswered:
        sc_.setState(n, error ? Connecting : TypeSent);
        break;
    case TypeSent:
        sc_.setState(n, error ? Connecting : StartTransfer);
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
void FtpSlotSession::transferEnded(int n, SlotState at, std::uint16_t error, bool& handled) {
    Slot& s = sc_.slotAt(n);
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
        sc_.failFile(n, Outcome::LocalError, c.LocalError());
        return;
    }
    if (rs > 0 && whole == rs) {
        // Every byte is here: whatever the server said after it (a 426 for
        // a data connection it closed, a control connection that dropped).
        s.fetched = true;
        sc_.setState(n, FileFinished);
        return;
    }
    if (strangerData_ && !c.Passive) {
        // The server's data connections come from another address (a
        // server behind NAT, several hosts behind one name): passive mode,
        // where the client connects, for the rest of the run.
        sc_.memo(sc_.errorlog, std::to_string(n) + ": data connection from another address: passive mode");
        s.client->Passive = true;
        sc_.passiveSites.insert(s.record.site + ":" + s.record.port);
    }
    strangerData_ = false;
    if (error == 0 && confirmed(c)) {
        if (rs > 0 && whole < rs) {
            // Confirmed but short: resumed (the attempts are bounded).
            sc_.memo(sc_.errorlog, std::to_string(n) + ": transfer short: " + std::to_string(whole) + " of " +
                                       std::to_string(rs) + " bytes");
            s.failure = "short: " + std::to_string(whole) + " of " + std::to_string(rs) + " bytes";
            retryTransfer(n);
        } else {
            s.fetched = true;
            sc_.setState(n, FileFinished);
        }
        return;
    }
    if (error == 0) {
        // The control connection went down in the middle: connect again
        // and resume the partial file.
        if (!s.record.site.empty()) sc_.stats_.addbad(s.record.site);
        sc_.memo(sc_.errorlog,
                 std::to_string(n) + ": transfer broken off: state " + std::to_string(number(at)));
        s.failure = "transfer broken off";
        sc_.setState(n, Connecting);
        return;
    }
    if (s.lastCommand == "REST") {
        // Resume refused: the file is fetched from its start.
        sc_.setState(n, ResumeRefused);
        return;
    }
    if (s.lastCommand == "RETR" && error >= 500 && error < 600 && error != 530) {
        handled = true;
        if (error == 550)
            sc_.failFile(n, Outcome::NotFound, "not found on the site (" + reply + ")");
        else
            sc_.failFile(n, Outcome::Refused, "refused by the site (" + reply + ")");
        return;
    }
    if (at == TransferAnswered) {
        sc_.abort(n, Outcome::Broken, "5");
        return;
    }
    if (at == TransferConfirmed) {
        sc_.abort(n, Outcome::Broken, "10");
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
void FtpSlotSession::overran(int n, bool connected) {
    Slot& s = sc_.slotAt(n);
    if (s.resumeAt > 0) {
        sc_.noRestSites.insert(s.record.site + ":" + s.record.port);
        sc_.memo(sc_.errorlog, std::to_string(n) + ": server ignored REST: fetching from the start");
        sc_.setState(n, connected ? ResumeRefused : Connecting);
    } else {
        sc_.failFile(n, Outcome::Overran,
                     "server sent more than its SIZE of " + std::to_string(s.client->RemoteSize()) +
                         " bytes");
    }
}

void FtpSlotSession::retryTransfer(int n) {
    sc_.setState(n, sc_.slotAt(n).client->Connected() ? StartTransfer : Connecting);
}

void FtpSlotSession::display(std::string& msg) {
    const int n = n_;
    Slot& s = sc_.slotAt(n);
    // The rules read the server's replies only ("< ..."), and not the name of
    // the file they may echo: the client's own notes ("! ...": data pieces,
    // the transfer line) and its commands ("> SIZE track530.mp3") hold file
    // content and names, and a file "Lion den.mp3" must not end its site.
    const bool reply = msg.rfind("< ", 0) == 0;
    // The client refused a data connection that did not come from the server.
    if (msg.rfind("! Data connection from ", 0) == 0) strangerData_ = true;
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
        sc_.hooks.statusmemo(line);
        sc_.memo(sc_.ftpstatus, std::move(line));
        return;
    }
    if (reply && contains(text, "530")) {
        // Every refused log-in counts, on a new connection or the same one.
        if ((s.lastCommand == "USER" || s.lastCommand == "PASS") && ++s.loginRefusals >= MaxRefusals) {
            sc_.abort(n, Outcome::LoginRefused,
                      "log-in refused " + std::to_string(MaxRefusals) + " times (" +
                          platform::printable(msg.substr(2)) + ")");
            return;
        }
        if (numberedAboveLoggedIn(s.state)) sc_.setState(n, Connecting);
    }
    // The server accepted the transfer: one mark for the site.
    if (reply && (msg.rfind("< 150", 0) == 0 || msg.rfind("< 125", 0) == 0) && !s.startMarked &&
        (s.state == StartTransfer || s.state == ResumeRefused || s.state == TransferAnswered)) {
        s.startMarked = true;
        if (!s.record.site.empty()) sc_.stats_.addgood(s.record.site);
    }
    if (!contains(msg, "Data")) {
        std::string line = std::to_string(n) + ": " + platform::printable(msg);
        sc_.hooks.statusmemo(line);
        sc_.memo(sc_.ftpstatus, std::move(line));
    } else {
        sc_.memo(sc_.ftpstatus, std::to_string(n) + ".");
    }
    if (reply && !dataCommand &&
        (contains(text, "ion den") || contains(text, "word inco") || contains(text, "ect to hos") ||
         contains(text, "exeeded"))) {
        if (!s.record.site.empty())
            for (int i = 0; i < RefusalMarks; ++i)
                sc_.stats_.addbad(s.record.site);
        sc_.abort(n, Outcome::Refused, platform::printable(msg));
    }
}

void FtpSlotSession::progress(std::int64_t count, bool& abortFlag) {
    const int n = n_;
    Slot& s = sc_.slotAt(n);
    net::TFtpClient& sender = *s.client;
    s.byteCount = count;
    if (sender.ByteCount() > 0) s.gotData = true;
    s.resumeAt = count - sender.ByteCount();
    s.record.tag = static_cast<std::int32_t>(count);
    abortFlag = s.reset;
    // The count reaching the size finishes nothing: more may follow (a server
    // that ignored REST), and only the end of the transfer tells.
}

void FtpSlotSession::step() {
    const int n = n_;
    Slot& s = sc_.slotAt(n);
    net::TFtpClient& c = *s.client;
    switch (s.state) {
    case Idle: // parked URLs are handed out at the tick (handOutParked)
        break;
    case Connecting:
        s.lastByteCount = -1000;
        s.stall = 0;
        s.binarySet = false;
        if (++s.refusals > MaxRefusals) {
            sc_.abort(n, Outcome::LoginRefused,
                      "Log-in refused " + std::to_string(MaxRefusals) + " times in a row (" + c.LastReply() +
                          ")");
            break;
        }
        if (!sc_.attempt(n, sc_.connectsFor, "connections")) break;
        c.Abort();
        sc_.maintainlist(n);
        if (s.state == Connecting && chooseTls(n)) { // an ended slot opens nothing
            c.Open();
            s.awaiting = true;
        }
        break;
    case Connected:
        s.binarySet = false; // a new log-in may reset the transfer type
        if (c.Connected()) {
            c.User();
            s.awaiting = true;
        } else
            sc_.setState(n, Connecting);
        break;
    case UserSent:
        if (c.Connected()) {
            c.Pass();
            s.awaiting = true;
        } else
            sc_.setState(n, Connecting);
        break;
    case LoggedIn:
        // A connection the server closed between files is opened again.
        if (!c.Connected()) {
            sc_.setState(n, Connecting);
            break;
        }
        c.HostFileName = s.record.dir + s.record.fname;
        c.HostDirName.assign(1, '.'); // (GCC 12 at -O3 warns falsely of "= \".\"")
        c.Size();
        s.awaiting = true;
        s.lastByteCount = -1000;
        s.stall = 0;
        break;
    case SizeAnswered:
        sc_.setState(n, TypeSent);
        if (c.Connected()) {
            c.TypeSet();
            s.awaiting = true;
        } else
            sc_.setState(n, Connected);
        break;
    case TypeSent:
        sc_.setState(n, StartTransfer);
        break;
    case StartTransfer:
        if (!c.Connected()) {
            sc_.setState(n, Connecting);
            break;
        }
        transferStart(n);
        break;
    case TransferAnswered:
    case TransferConfirmed:
        break;
    case ResumeRefused:
        if (!c.Connected()) {
            sc_.setState(n, Connecting);
            break;
        }
        if (!sc_.attempt(n, sc_.transfersFor, "transfers")) break;
        s.resumeAt = 0;
        s.startMarked = false;
        strangerData_ = false;
        c.MaxFileSize = c.RemoteSize() > 0 ? c.RemoteSize() : 0;
        c.Get();
        s.awaiting = true;
        break;
    default:
        break;
    }
}

void FtpSlotSession::timeouts(int n) {
    Slot& s = sc_.slotAt(n);
    net::TFtpClient& c = *s.client;

    if (s.wait > TimeoutVisits) {
        s.awaiting = false; // a completion this late is not waited for any longer
        if (s.state == UserSent) {
            if (!Scheduler::ready(c)) c.SetState(net::ftpInternalReady);
            sc_.setState(n, LoggedIn);
        }
        if (s.state == LoggedIn) sc_.setState(n, Connecting);
        if (s.state == Connecting) {
            if (!Scheduler::ready(c)) {
                sc_.abort(n, Outcome::SiteDown, "Could not connect to site. Site down");
                // The client still waits for a welcome that never comes: free
                // it, or the slot could never take work again.
                if (!Scheduler::ready(c) && !s.busy) {
                    s.busy = true;
                    c.Abort();
                    s.busy = false;
                }
            }
            sc_.setState(n, Connected);
        }
        if (s.state == StartTransfer) sc_.setState(n, TransferAnswered);
        if (s.state == ResumeRefused) sc_.setState(n, TransferAnswered);
        if (s.state == Connected && !Scheduler::ready(c) && !s.busy) {
            // The server took the connection and never answered the log-in:
            // a new connection (the URL's connections are bounded).
            sc_.memo(sc_.errorlog, std::to_string(n) + ": no answer to the log-in: connecting again");
            s.failure = "no answer to the log-in";
            s.busy = true;
            c.Abort();
            s.busy = false;
            sc_.setState(n, Connecting);
        }
    }

    // Finish by size: the transfer is over and the whole file is here, to
    // the byte. (While it runs, more may follow: only its end tells.)
    const std::int64_t rs = c.RemoteSize();
    const std::int64_t bc = c.ByteCount();
    if (numberedAboveLoggedIn(s.state) && rs > 0 && bc + s.resumeAt == rs && s.state == TransferAnswered &&
        Scheduler::ready(c) && !c.Overran()) {
        sc_.setState(n, FileFinished);
        s.fetched = true;
    }

    // Stall.
    if (s.state == LoggedIn || numberedAboveLoggedIn(s.state)) {
        // Visits in a row: a byte count that moved starts the count again, so
        // the short pauses of a long, slow transfer never add up to a stall.
        if (bc == s.lastByteCount)
            ++s.stall;
        else
            s.stall = 0;
        s.lastByteCount = bc;
        if (s.stall > StallVisits) {
            const bool running =
                !Scheduler::ready(c) && (s.state == StartTransfer || s.state == TransferAnswered ||
                                         s.state == TransferConfirmed || s.state == ResumeRefused);
            if (!s.busy && (s.state == FileFinished || running)) {
                // A transfer that stopped moving is broken off: finished when
                // the whole file is here, else resumed on a new connection
                // (the partial file stays).
                if (running) {
                    if (bc > 0) s.gotData = true; // a trickle is data, though it stalled
                    const std::int64_t whole = bc + s.resumeAt;
                    if (c.Overran()) {
                        overran(n, false); // the connection goes below
                    } else if (rs > 0 && whole == rs) {
                        sc_.setState(n, FileFinished);
                        s.fetched = true;
                    } else if (c.AwaitingDataConnection()) {
                        // The server never connected to the announced port
                        // (behind NAT, say): this site is fetched passively,
                        // as when the client's own data time-out runs out.
                        sc_.memo(sc_.errorlog,
                                 std::to_string(n) + ": no data connection from the server: passive mode");
                        c.Passive = true;
                        sc_.setState(n, Connecting);
                    } else {
                        sc_.memo(sc_.errorlog, std::to_string(n) + ": transfer stalled: state " +
                                                   std::to_string(number(s.state)));
                        sc_.setState(n, Connecting);
                    }
                }
                s.busy = true;
                c.Abort();
                s.busy = false;
            }
            s.stall = 0;
        }
    }
}

// Under ftptls=offered, a site whose certificate was remembered has shown it
// speaks TLS: a refusal of AUTH TLS there is an attack or a fault, never a
// reason to log in in clear. A store of certificates that cannot be read
// could hide such a site: then no site is fetched under offered.
bool FtpSlotSession::chooseTls(int n) {
    Slot& s = sc_.slotAt(n);
    net::TFtpClient& c = *s.client;
    remembered_.clear();
    if (fileUrlScheme(s.record.url) != "ftp" || sc_.ftpTls != net::FtpTls::Offered) return true;
    std::string error;
    if (!sc_.knownCertificates.remembered(c.HostName, c.Port, remembered_, error)) {
        sc_.abort(n, Outcome::Tls, error + ": nothing is fetched under ftptls=offered until it is mended");
        return false;
    }
    c.Tls = remembered_.empty() ? net::FtpTls::Offered : net::FtpTls::Explicit;
    return true;
}

void FtpSlotSession::transferStart(int n) {
    Slot& s = sc_.slotAt(n);
    net::TFtpClient& c = *s.client;
    strangerData_ = false;
    if (!sc_.beginTransfer(n)) return;
    // Never a byte past the size the server announced.
    c.MaxFileSize = c.RemoteSize() > 0 ? c.RemoteSize() : 0;
    if (sc_.noRestSites.count(s.record.site + ":" + s.record.port) > 0)
        c.Get();
    else
        c.RestGet();
    s.awaiting = true;
    sc_.hooks.addToLog(s.record.url);
}

void FtpSlotSession::visit() {
    const int n = n_;
    Slot& s = sc_.slotAt(n);

    if (sc_.canStep(n)) {
        // Normally nothing is left to do here: a slot moved on by the
        // time-outs or a stall at its last visit goes on now.
        s.wait = 0;
        sc_.advance(n);
    } else {
        ++s.wait;
        // A slot ended by abort whose client is still busy: a transfer stops
        // at its next data read, but one whose server sends nothing never
        // would, and the slot's next site would then time out untried.
        if (s.reset && !s.busy && !Scheduler::ready(*s.client)) {
            s.busy = true;
            s.client->Abort();
            s.busy = false;
            s.awaiting = false; // the aborted request reports nothing more
        }
    }

    timeouts(n);
}

void FtpSlotSession::stepFailed(SlotState state) {
    bool handled = false;
    applyRow(n_, state, 1, handled);
}

} // namespace download
