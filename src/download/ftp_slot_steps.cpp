// The FTP session of a slot: its steps (each starts one request of the
// client, or moves on), and the rules of its visits: the time-out of each
// step, the finish by size and the stalls.

#include "download/ftp_slot_session.h"

#include "download/fileurl.h"
#include "platform/text.h"

namespace download {

using enum FtpSlotStep;

namespace {

struct StepWords {
    const char* name; // in the -v lines
    const char* text; // in the status view
};

const StepWords& wordsOf(FtpSlotStep step) {
    static const StepWords words[] = {
        {"Idle", "Not connected"},
        {"Connecting", "Connecting"},
        {"Connected", "Sending Username"},
        {"LoggedIn", "Sending Password"},
        {"StartTransfer", "Setting up connection"},
        {"TransferAnswered", "Downloading"},
        {"FileFinished", "Finishing download"},
        {"SizeAnswered", "Setting up connection"},
        {"TypeSent", "Transfering Data"},
        {"UserSent", "Transfering Data"},
        {"TransferConfirmed", "Downloading"},
        {"ResumeRefused", "Restarting, site does not support REST"},
    };
    return words[static_cast<int>(step)];
}

} // namespace

const char* stepName(FtpSlotStep step) {
    return wordsOf(step).name;
}

const char* stepText(FtpSlotStep step) {
    return wordsOf(step).text;
}

const char* FtpSlotSession::statusText() const {
    if (step_ == StartTransfer && receiving() > 0) return "Downloading";
    return stepText(step_);
}

bool FtpSlotSession::stepsAtOnce() const {
    switch (step_) {
    case Idle:              // takes parked URLs at a tick
    case Connecting:        // a new connection: paced
    case TransferAnswered:  // the transfer's completion moves it on
    case TransferConfirmed: // likewise
        return false;
    case Connected:
    case UserSent:
    case LoggedIn:
    case SizeAnswered:
    case TypeSent:
    case StartTransfer:
    case ResumeRefused:
    case FileFinished:
        return true;
    }
    return false;
}

void FtpSlotSession::step() {
    at_ = step_;
    net::TFtpClient& c = *client_;
    switch (step_) {
    case Idle: // parked URLs are handed out at the tick
    case TransferAnswered:
    case TransferConfirmed:
    case FileFinished: // the scheduler's
        break;
    case Connecting:
        stepConnecting();
        break;
    case Connected:
        binarySet_ = false; // a new log-in may reset the transfer type
        if (!c.Connected()) return setStep(Connecting);
        c.User();
        sent();
        break;
    case UserSent:
        if (!c.Connected()) return setStep(Connecting);
        c.Pass();
        sent();
        break;
    case LoggedIn:
        stepLoggedIn();
        break;
    case TypeSent:
        // The size after TYPE I: servers that refuse SIZE in ASCII mode
        // (pyftpdlib) give it for the first file of a connection too.
        setStep(SizeAnswered);
        if (!c.Connected()) return setStep(Connecting);
        c.Size();
        sent();
        break;
    case SizeAnswered:
        setStep(StartTransfer);
        break;
    case StartTransfer:
        if (!c.Connected()) return setStep(Connecting);
        transferStart();
        break;
    case ResumeRefused:
        stepResumeRefused();
        break;
    }
}

void FtpSlotSession::stepConnecting() {
    net::TFtpClient& c = *client_;
    lastByteCount_ = -1000;
    stall_ = 0;
    binarySet_ = false;
    if (++refusals_ > MaxRefusals) {
        host_.giveUp(n_, Outcome::LoginRefused,
                     "Log-in refused " + std::to_string(MaxRefusals) + " times in a row (" + c.LastReply() +
                         ")");
        return;
    }
    if (!host_.attempt(n_, Attempt::Connection)) return;
    c.Abort();
    host_.maintainlist(n_);
    if (step_ != Connecting || !chooseTls()) return; // an ended slot opens nothing
    firstContact_ = false;
    c.Open();
    sent();
}

void FtpSlotSession::stepLoggedIn() {
    net::TFtpClient& c = *client_;
    // A connection the server closed between files is opened again.
    if (!c.Connected()) return setStep(Connecting);
    c.HostFileName = slot().record.dir + slot().record.fname;
    c.HostDirName.assign(1, '.'); // (GCC 12 at -O3 warns falsely of "= \".\"")
    c.TypeSet();
    sent();
    lastByteCount_ = -1000;
    stall_ = 0;
}

void FtpSlotSession::stepResumeRefused() {
    net::TFtpClient& c = *client_;
    if (!c.Connected()) return setStep(Connecting);
    if (!host_.attempt(n_, Attempt::Transfer)) return;
    host_.transferRestarts(n_);
    strangerData_ = false;
    c.MaxFileSize = c.RemoteSize() > 0 ? c.RemoteSize() : 0;
    c.Get();
    sent();
}

void FtpSlotSession::transferStart() {
    net::TFtpClient& c = *client_;
    strangerData_ = false;
    if (!host_.beginTransfer(n_)) return;
    // The local name is a path when the files go to a download folder: the
    // client writes the plain name in that folder.
    const std::string& path = slot().localName;
    const std::size_t slash = path.rfind('/');
    c.LocalDirectory = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
    c.LocalFileName = slash == std::string::npos ? path : path.substr(slash + 1);
    // Never a byte past the size the server announced.
    c.MaxFileSize = c.RemoteSize() > 0 ? c.RemoteSize() : 0;
    if (road_.noRestSites.count(site()) > 0)
        c.Get();
    else
        c.RestGet();
    sent();
    host_.transferSent(n_);
}

// Under ftptls=offered, a site whose certificate was remembered has shown it
// speaks TLS: a refusal of AUTH TLS there is an attack or a fault, never a
// reason to log in in clear. A store of certificates that cannot be read
// could hide such a site: then no site is fetched under offered.
bool FtpSlotSession::chooseTls() {
    net::TFtpClient& c = *client_;
    remembered_.clear();
    if (fileUrlScheme(slot().record.url) != "ftp" || road_.tls != net::FtpTls::Offered) return true;
    std::string error;
    if (!road_.knownCertificates.remembered(c.HostName, c.Port, remembered_, error)) {
        host_.giveUp(n_, Outcome::Tls,
                     error + ": nothing is fetched under ftptls=offered until it is mended");
        return false;
    }
    c.Tls = remembered_.empty() ? net::FtpTls::Offered : net::FtpTls::Explicit;
    return true;
}

void FtpSlotSession::stepFailed() {
    // An Open that cannot even start (no host name) never connects: the slot
    // ends as after a failed name lookup instead of trying for ever. Any other
    // step goes on as after a failed request of its step.
    if (at_ == Connecting) return host_.giveUp(n_, Outcome::SiteDown, "Site Down");
    bool handled = false;
    applyRow(at_, 1, handled);
}

// ---- The visit ------------------------------------------------------------------

void FtpSlotSession::visit(bool stepped) {
    // A slot ended by abort whose client is still busy: a transfer stops at
    // its next data read, but one whose server sends nothing never would, and
    // the slot's next site would then time out untried.
    if (!stepped && slot().reset && !slot().busy && !aborting_ && !clientReady()) {
        abortClient();
        awaiting_ = false; // the aborted request reports nothing more
    }
    timeouts();
    finishBySize();
    watchStall();
}

// A client busy for more than TimeoutVisits visits: each step falls back to
// the one its time-out names, until a step without a time-out of its own.
void FtpSlotSession::timeouts() {
    if (slot().wait <= TimeoutVisits) return;
    awaiting_ = false; // a completion this late is not waited for any longer
    while (timeOut()) {
    }
}

// The time-out of the current step; true when the step it fell back to has one too.
bool FtpSlotSession::timeOut() {
    switch (step_) {
    case UserSent: // no answer to the password: as if logged in, then a new connection
        if (!clientReady()) client_->SetState(net::ftpInternalReady);
        setStep(LoggedIn);
        return true;
    case LoggedIn:
        setStep(Connecting);
        return true;
    case Connecting:
        if (!clientReady()) {
            host_.giveUp(n_, Outcome::SiteDown, "Could not connect to site. Site down");
            // The client still waits for a welcome that never comes: free
            // it, or the slot could never take work again.
            if (!clientReady() && !slot().busy && !aborting_) abortClient();
        }
        setStep(Connected);
        return true;
    case Connected:
        if (!clientReady() && !slot().busy && !aborting_) {
            // The server took the connection and never answered the log-in:
            // a new connection (the URL's connections are bounded).
            host_.log(Memo::Error, std::to_string(n_) + ": no answer to the log-in: connecting again");
            host_.retryReason(n_, "no answer to the log-in");
            abortClient();
            setStep(Connecting);
        }
        return false;
    case StartTransfer:
    case ResumeRefused:
        setStep(TransferAnswered);
        return false;
    case Idle:
    case SizeAnswered:
    case TypeSent:
    case TransferAnswered:
    case TransferConfirmed:
    case FileFinished:
        return false;
    }
    return false;
}

// Finish by size: the transfer is over and the whole file is here, to the
// byte. (While it runs, more may follow: only its end tells.)
void FtpSlotSession::finishBySize() {
    const net::TFtpClient& c = *client_;
    const std::int64_t rs = c.RemoteSize();
    if (step_ == TransferAnswered && rs > 0 && c.ByteCount() + slot().resumeAt == rs && clientReady() &&
        !c.Overran()) {
        host_.fetched(n_);
        setStep(FileFinished);
    }
}

void FtpSlotSession::watchStall() {
    if (step_ == Idle || step_ == Connecting || step_ == Connected) return;
    // Visits in a row: a byte count that moved starts the count again, so
    // the short pauses of a long, slow transfer never add up to a stall.
    const std::int64_t bc = client_->ByteCount();
    if (bc == lastByteCount_)
        ++stall_;
    else
        stall_ = 0;
    lastByteCount_ = bc;
    if (stall_ <= StallVisits) return;
    stall_ = 0;
    const bool running = !clientReady() && (step_ == StartTransfer || step_ == TransferAnswered ||
                                            step_ == TransferConfirmed || step_ == ResumeRefused);
    if (slot().busy || aborting_ || !(step_ == FileFinished || running)) return;
    // A transfer that stopped moving is broken off: finished when the whole
    // file is here, else resumed on a new connection (the partial file stays).
    if (running) breakOffStalled();
    abortClient();
}

void FtpSlotSession::breakOffStalled() {
    net::TFtpClient& c = *client_;
    const std::int64_t bc = c.ByteCount();
    if (bc > 0) host_.gotData(n_); // a trickle is data, though it stalled
    const std::int64_t rs = c.RemoteSize();
    if (c.Overran()) {
        overran(false); // the connection goes below
    } else if (rs > 0 && bc + slot().resumeAt == rs) {
        host_.fetched(n_);
        setStep(FileFinished);
    } else if (c.AwaitingDataConnection()) {
        // The server never connected to the announced port (behind NAT,
        // say): this site is fetched passively, as when the client's own
        // data time-out runs out.
        host_.log(Memo::Error, std::to_string(n_) + ": no data connection from the server: passive mode");
        c.Passive = true;
        setStep(Connecting);
    } else {
        host_.log(Memo::Error,
                  std::to_string(n_) + ": transfer stalled: state " + std::to_string(statusNumber()));
        setStep(Connecting);
    }
}

} // namespace download
