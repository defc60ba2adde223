// The FTP session of a slot: the answers of its client. Completions move the
// session from step to step, shown lines are logged and judged by the reply
// code and the command they answer, progress is kept.

#include "download/ftp_slot_session.h"

#include "download/fileurl.h"
#include "net/ftpreply.h"
#include "platform/text.h"

namespace download {

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

bool isTransfer(net::TFtpRequest rq) {
    return rq == net::ftpRestGetAsync || rq == net::ftpGetAsync;
}

// The steps after the log-in (and UserSent): the rules that watch transfers apply in these.
bool pastLogIn(FtpSlotStep step) {
    using enum FtpSlotStep;
    switch (step) {
    case Idle:
    case Connecting:
    case Connected:
    case LoggedIn:
        return false;
    case StartTransfer:
    case TransferAnswered:
    case FileFinished:
    case SizeAnswered:
    case TypeSent:
    case UserSent:
    case TransferConfirmed:
    case ResumeRefused:
        return true;
    }
    return false;
}

} // namespace

using enum FtpSlotStep;

FtpSlotSession::FtpSlotSession(SlotHost& host, FtpRoad& road, int n)
    : host_(host), road_(road), n_(n), client_(std::make_unique<net::TFtpClient>()) {
    net::TFtpClient& c = *client_;
    const bool quiet = n == 7 || n == 14; // these two show no data pieces
    c.Tag = n;
    c.Port = "ftp";
    c.Binary = true;
    c.MultiThreaded = false;
    c.Timeout = quiet ? 25 : 30;
    c.DisplayFlag = !quiet;
    if (quiet) c.LocalFileName = "testfile.mp3";
    c.OnTlsUnverified.connect([this](net::TFtpClient& s, std::string& refusal) {
        std::string note;
        refusal = road_.knownCertificates.judge(s.HostName, s.Port, s.TlsFingerprint(), note);
        if (!note.empty()) host_.log(Memo::Shown, std::to_string(s.Tag) + ": ! " + note);
    });
}

FtpSlotSession::~FtpSlotSession() {
    // Its events must not reach a session half destroyed.
    client_->OnRequestDone.disconnectAll();
    client_->OnDisplay.disconnectAll();
    client_->OnProgress.disconnectAll();
    client_->OnStateChange.disconnectAll();
    client_->OnTlsUnverified.disconnectAll();
    client_.reset();
}

bool FtpSlotSession::serves(const std::string& scheme) const {
    return scheme != "http" && scheme != "https";
}

void FtpSlotSession::begin(const url::tlinfo& l) {
    setStep(Connecting);
    net::TFtpClient& c = *client_;
    c.Port = l.port;
    c.Tls = fileUrlTls(l.url);
    if (fileUrlScheme(l.url) == "ftp") c.Tls = road_.tls;
    c.TlsVerify = c.Tls != net::FtpTls::Offered; // offered: trust on first use
    c.HostName = l.site;
    c.HostDirName = l.dir;
    c.Passive =
        road_.passiveSites.count(l.site + ":" + l.port) > 0; // PORT first, unless the site wanted passive
    c.HostFileName = l.fname;
    c.PassWord = l.pass;
    c.UserName = l.user;
    c.LocalFileName = l.fname;
    refusals_ = loginRefusals_ = 0;
    firstContact_ = true;
}

void FtpSlotSession::nextFile(const url::tlinfo& record) {
    setStep(LoggedIn);
    client_->HostDirName = record.dir;
    client_->HostFileName = record.fname;
}

void FtpSlotSession::abort() {
    net::TFtpClient& c = *client_;
    if (c.Connected() && c.State() == net::ftpReady) c.Abort();
    setStep(Idle);
}

void FtpSlotSession::setStep(FtpSlotStep step) {
    if (step_ == step) return;
    const FtpSlotStep old = step_;
    step_ = step;
    Phase phase = Phase::Connecting;
    switch (step) {
    case Idle:
        phase = Phase::Idle;
        break;
    case StartTransfer:
    case TransferAnswered:
    case TransferConfirmed:
    case ResumeRefused:
        phase = Phase::Transferring;
        break;
    case FileFinished:
        phase = Phase::Finishing;
        break;
    default:
        break;
    }
    host_.stepChanged(n_, stepName(old), stepName(step), phase);
}

void FtpSlotSession::sent() {
    awaiting_ = true;
    request_ = client_->RequestType();
}

bool FtpSlotSession::clientReady() const {
    return client_->State() == net::ftpReady || client_->State() == net::ftpInternalReady;
}

bool FtpSlotSession::ready() const {
    return !awaiting_ && !aborting_ && clientReady();
}

void FtpSlotSession::abortClient() {
    aborting_ = true;
    client_->Abort();
    aborting_ = false;
}

std::string FtpSlotSession::site() const {
    return slot().record.site + ":" + slot().record.port;
}

std::int64_t FtpSlotSession::receiving() const {
    return isTransfer(request_) ? client_->ByteCount() : 0;
}

std::string FtpSlotSession::lastReply() const {
    return platform::printable(client_->LastReply());
}

void FtpSlotSession::requestDone(net::TFtpRequest rqType, std::uint16_t error) {
    const net::TFtpClient& c = *client_;
    const bool transfer = isTransfer(rqType);
    if (request_ != net::ftpNone && rqType != request_) {
        // Applied to the request under way, it would end that one: a second
        // transfer could then start while the first still writes the file.
        // (Its bytes still count, unless a newer transfer has reset the count.)
        if (transfer && !isTransfer(request_)) host_.received(c.ByteCount());
        host_.log(Memo::Error, std::to_string(n_) + ": late completion ignored: request " +
                                   std::to_string(rqType) + ", error " + std::to_string(error) + ", state " +
                                   std::to_string(statusNumber()));
        return;
    }
    request_ = net::ftpNone;
    awaiting_ = false;
    // A transfer that ends (also broken off by a stall) with bytes received
    // made progress; the progress events come before each block is counted,
    // so a transfer whose data came in one block never reports it there.
    if (transfer && c.ByteCount() > 0) host_.gotData(n_);
    if (transfer) host_.received(c.ByteCount());
    const FtpSlotStep at = step_;
    if (c.Passive && !slot().record.site.empty()) road_.passiveSites.insert(site());
    // (A slot already ended has no site left to blame.)
    if (error != 0) host_.debit(n_, 1);

    bool handled = false;
    applyRow(at, error, handled);
    if (error != 0 && !handled)
        host_.log(Memo::Error, std::to_string(n_) + ": error " + std::to_string(error) + ": state " +
                                   std::to_string(static_cast<int>(at)));
    // The next step goes on without waiting for the slot's visit.
    host_.goOnSoon(n_);
}

void FtpSlotSession::applyRow(FtpSlotStep at, std::uint16_t error, bool& handled) {
    switch (at) {
    case Idle:
    case FileFinished:
        break;
    case Connecting:
        connectAnswered(error, handled);
        break;
    case Connected:
        setStep(UserSent);
        handled = true;
        if (error == 11002) host_.giveUp(n_, Outcome::SiteDown, "Site Down");
        break;
    case UserSent:
        setStep(error ? Connecting : LoggedIn);
        if (error == 0) refusals_ = loginRefusals_ = 0; // logged in: the refusals in a row end
        if (error == 421) handled = true;
        break;
    case LoggedIn: // TYPE I answered
        setStep(error ? Connecting : TypeSent);
        if (error == 0) binarySet_ = true;
        break;
    case TypeSent:
        setStep(SizeAnswered);
        break;
    case SizeAnswered: // SIZE answered: a refusal leaves the size unknown
        setStep(StartTransfer);
        break;
    case StartTransfer:
    case TransferAnswered:
    case TransferConfirmed:
    case ResumeRefused:
        transferEnded(at, error, handled);
        break;
    }
}

void FtpSlotSession::connectAnswered(std::uint16_t error, bool& handled) {
    setStep(Connected);
    const net::TFtpClient& c = *client_;
    if (error != 0 && !c.TlsFailure().empty()) {
        // No TLS where it was required, a certificate that does not verify,
        // one that changed: no other try would do better.
        std::string why = c.TlsFailure();
        if (!remembered_.empty())
            why += " (" + KnownCertificates::key(c.HostName, c.Port) +
                   " showed a certificate before, remembered in " + road_.knownCertificates.path() +
                   ": it is fetched over TLS only; delete its line there to forget it)";
        host_.giveUp(n_, Outcome::Tls, why);
        handled = true;
        return;
    }
    if (error == 421 || error == 550) handled = true;
    if (error > 10000) {
        host_.debit(n_, 1);
        host_.giveUp(n_, Outcome::SiteDown, "Site Down");
        handled = true;
    }
}

// The end of a transfer request. Bytes are honest: with a known size only the
// exact size is a finished file, a transfer that brings more is cut at the
// size (the server ignored REST, or lied), and a file the site does not have
// is no success.
void FtpSlotSession::transferEnded(FtpSlotStep at, std::uint16_t error, bool& handled) {
    const net::TFtpClient& c = *client_;
    const std::int64_t rs = c.RemoteSize();
    const std::int64_t whole = slot().resumeAt + c.ByteCount();
    if (c.Overran()) {
        handled = true;
        overran(c.Connected());
        return;
    }
    if (!c.LocalError().empty()) {
        handled = true;
        host_.failFile(n_, Outcome::LocalError, c.LocalError());
        return;
    }
    if (rs > 0 && whole == rs) {
        // Every byte is here: whatever the server said after it (a 426 for
        // a data connection it closed, a control connection that dropped).
        host_.fetched(n_);
        setStep(FileFinished);
        return;
    }
    if (strangerData_ && !c.Passive) {
        // The server's data connections come from another address (a
        // server behind NAT, several hosts behind one name): passive mode,
        // where the client connects, for the rest of the run.
        host_.log(Memo::Error, std::to_string(n_) + ": data connection from another address: passive mode");
        client_->Passive = true;
        road_.passiveSites.insert(site());
    }
    strangerData_ = false;
    if (error == 0 && confirmed(c)) {
        if (rs > 0 && whole < rs) {
            // Confirmed but short: resumed (the attempts are bounded).
            const std::string shortBy = std::to_string(whole) + " of " + std::to_string(rs) + " bytes";
            host_.log(Memo::Error, std::to_string(n_) + ": transfer short: " + shortBy);
            host_.retryReason(n_, "short: " + shortBy);
            retryTransfer();
        } else {
            host_.fetched(n_);
            setStep(FileFinished);
        }
        return;
    }
    if (error == 0) {
        // The control connection went down in the middle: connect again
        // and resume the partial file.
        host_.debit(n_, 1);
        host_.log(Memo::Error, std::to_string(n_) + ": transfer broken off: state " +
                                   std::to_string(static_cast<int>(at)));
        host_.retryReason(n_, "transfer broken off");
        setStep(Connecting);
        return;
    }
    handled = transferRefused(at, error);
}

// A transfer that ended with an error: what the refused command tells.
// True when the error needs no line in the error memo.
bool FtpSlotSession::transferRefused(FtpSlotStep at, std::uint16_t error) {
    const std::string reply = platform::printable(client_->LastReply());
    const net::FtpCommand command = client_->LastCommand();
    if (command == net::FtpCommand::Rest) {
        // Resume refused: the file is fetched from its start.
        setStep(ResumeRefused);
        return false;
    }
    if (command == net::FtpCommand::Retr && error >= 500 && error < 600 && error != 530) {
        if (error == 550)
            host_.failFile(n_, Outcome::NotFound, "not found on the site (" + reply + ")");
        else
            host_.failFile(n_, Outcome::Refused, "refused by the site (" + reply + ")");
        return true;
    }
    if (at == TransferAnswered || at == TransferConfirmed) {
        // Answered, and still no file: the site is given up for this run.
        host_.giveUp(n_, Outcome::Broken,
                     "the transfer failed (reply or error " + std::to_string(error) + ")");
        return false;
    }
    // A data connection that failed, a transient refusal (4xx), a broken
    // connection: tried again, a bounded number of times.
    host_.retryReason(n_, reply.empty() ? "error " + std::to_string(error) : reply);
    retryTransfer();
    return false;
}

// More bytes came than the size the server announced, and the client kept
// none past it. After an honoured-looking REST the server sent the file from
// its first byte: the site's files are fetched whole from now on, this one at
// once. Without REST the server lied about the size: the file fails.
void FtpSlotSession::overran(bool connected) {
    if (slot().resumeAt > 0) {
        road_.noRestSites.insert(site());
        host_.log(Memo::Error, std::to_string(n_) + ": server ignored REST: fetching from the start");
        setStep(connected ? ResumeRefused : Connecting);
    } else {
        host_.failFile(n_, Outcome::Overran,
                       "server sent more than its SIZE of " + std::to_string(client_->RemoteSize()) +
                           " bytes");
    }
}

void FtpSlotSession::retryTransfer() {
    setStep(client_->Connected() ? StartTransfer : Connecting);
}

void FtpSlotSession::display(std::string& msg) {
    // The client refused a data connection that did not come from the server.
    if (msg.rfind("! Data connection from ", 0) == 0) strangerData_ = true;
    // A refusal of AUTH, PBSZ or PROT (530 and 534 included) says only that
    // the server has no TLS; the client itself ends what needed it.
    const net::FtpCommand command = client_->LastCommand();
    if (command == net::FtpCommand::Auth || command == net::FtpCommand::Pbsz ||
        command == net::FtpCommand::Prot) {
        host_.log(Memo::Shown, std::to_string(n_) + ": " + platform::printable(msg));
        return;
    }
    judgeReply(msg);
}

// The rules read the server's replies only ("< ..."): by their code, the
// command they answer and, for a refusal of the whole site, their words
// without the file's name (a file "Lion den.mp3" must not end its site). The
// client's own notes ("! ...": data pieces, the transfer line) and its
// commands ("> SIZE track530.mp3") are no replies.
void FtpSlotSession::judgeReply(const std::string& msg) {
    const bool reply = msg.rfind("< ", 0) == 0;
    const int code = reply ? net::ftp::ReplyCode(std::string_view(msg).substr(2)) : 0;
    const net::FtpCommand command = client_->LastCommand();
    if (code == 530) {
        // Every refused log-in counts, on a new connection or the same one.
        if ((command == net::FtpCommand::User || command == net::FtpCommand::Pass) &&
            ++loginRefusals_ >= MaxRefusals) {
            host_.giveUp(n_, Outcome::LoginRefused,
                         "log-in refused " + std::to_string(MaxRefusals) + " times (" +
                             platform::printable(msg.substr(2)) + ")");
            return;
        }
        if (pastLogIn(step_)) setStep(Connecting);
    }
    // The server accepted the transfer: one mark for the site.
    if ((code == 150 || code == 125) &&
        (step_ == StartTransfer || step_ == ResumeRefused || step_ == TransferAnswered))
        host_.creditStart(n_);
    showLine(msg);
    if (!reply) return;
    const net::ftp::Refusal refusal =
        net::ftp::RefusalOf(code, command, withoutFileName(msg.substr(2), slot().record.fname));
    if (refusal == net::ftp::Refusal::None) return;
    host_.debit(n_, RefusalMarks);
    host_.giveUp(n_, Outcome::Refused, platform::printable(msg), refusal == net::ftp::Refusal::Unreachable);
}

void FtpSlotSession::showLine(const std::string& msg) {
    // The data pieces the client shows go to the memo as a dot.
    if (msg.rfind("! Data", 0) == 0)
        host_.log(Memo::Dot, std::to_string(n_) + ".");
    else
        host_.log(Memo::Shown, std::to_string(n_) + ": " + platform::printable(msg));
}

void FtpSlotSession::progress(std::int64_t count, bool& abortFlag) {
    const std::int64_t transfer = client_->ByteCount();
    host_.progress(n_, count, count - transfer);
    if (transfer > 0) host_.gotData(n_);
    abortFlag = slot().reset;
    // The count reaching the size finishes nothing: more may follow (a server
    // that ignored REST), and only the end of the transfer tells.
}

} // namespace download
