#pragma once
// The FTP session of a slot (ftp://, ftpes://, ftps:// sites): its client,
// its steps from the connection to the end of a transfer, the rules that
// judge the client's answers, and the time-outs and stalls of its visits.

#include "download/known_certs.h"
#include "download/slot.h"
#include "net/ftpcli.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace download {

// What the FTP sessions of a run share: the TLS of ftp:// links, the
// certificates taken on first contact, and what the sites taught.
struct FtpRoad {
    // The setting "ftptls": Off, Offered (trust on first use) or Explicit
    // ("required"); ftpes:// and ftps:// keep theirs.
    net::FtpTls tls = net::FtpTls::Off;
    KnownCertificates knownCertificates;
    // Sites ("host:port") whose data connections went passive in this run (PORT refused,
    // 425, or no connection in time): every later visit starts passive.
    std::set<std::string> passiveSites;
    // Sites ("host:port") that sent a whole file after accepting REST: their
    // files are fetched from the start in this run.
    std::set<std::string> noRestSites;
};

// The steps of an FTP session. The numbers are shown in the status view and
// written to the memos, so they are fixed; they say nothing about the order
// of the steps, so steps are never compared by < or >.
enum class FtpSlotStep : int {
    Idle = 0,               // no work
    Connecting = 1,         // next: abort the client, then Open
    Connected = 2,          // Open answered; next: USER
    LoggedIn = 3,           // PASS answered (or next file); next: TYPE I
    StartTransfer = 4,      // next: the transfer start (REST and RETR)
    TransferAnswered = 5,   // the transfer request completed (or timed out)
    FileFinished = 6,       // next: the scheduler's finish
    SizeAnswered = 7,       // SIZE sent or answered; next: on to the transfer start
    TypeSent = 8,           // TYPE I answered; next: SIZE
    UserSent = 9,           // USER answered; next: PASS
    TransferConfirmed = 10, // the transfer request answered a second time
    ResumeRefused = 11,     // the resuming transfer failed; next: RETR without REST
};
bool operator<(FtpSlotStep, FtpSlotStep) = delete;
bool operator>(FtpSlotStep, FtpSlotStep) = delete;
bool operator<=(FtpSlotStep, FtpSlotStep) = delete;
bool operator>=(FtpSlotStep, FtpSlotStep) = delete;

// The step's name in the -v lines ("Connecting"), its text in the status view.
const char* stepName(FtpSlotStep step);
const char* stepText(FtpSlotStep step);

class FtpSlotSession final : public SlotSession {
public:
    FtpSlotSession(SlotHost& host, FtpRoad& road, int n);
    ~FtpSlotSession() override;
    FtpSlotSession(const FtpSlotSession&) = delete;
    FtpSlotSession& operator=(const FtpSlotSession&) = delete;

    bool serves(const std::string& scheme) const override;
    void begin(const url::tlinfo& record) override;
    void nextFile(const url::tlinfo& record) override;
    void fileEnded() override { setStep(FtpSlotStep::FileFinished); }
    void abort() override;
    void rest() override { setStep(FtpSlotStep::Idle); }
    bool needsConnection() const override { return step_ == FtpSlotStep::Connecting; }
    bool firstContact() const override { return firstContact_; }
    bool stepsAtOnce() const override;
    bool ready() const override;
    bool awaiting() const override { return awaiting_; }
    void step() override;
    void stepFailed() override;
    void visit(bool stepped) override;
    std::int64_t size() const override { return client_->RemoteSize(); }
    std::int64_t receiving() const override;
    std::string lastReply() const override;
    int statusNumber() const override { return static_cast<int>(step_); }
    // The step's text; "Downloading" once bytes of the transfer arrive, whatever
    // step the replies have reached.
    const char* statusText() const override;

    FtpSlotStep currentStep() const { return step_; }
    net::TFtpClient& client() { return *client_; }
    const net::TFtpClient& client() const { return *client_; }

    // The client's events (the scheduler's handlers ftp11RequestDone,
    // ftp1Display and ftp1Progress hand them here).
    void requestDone(net::TFtpRequest rqType, std::uint16_t error);
    void display(std::string& msg);
    void progress(std::int64_t count, bool& abortFlag);

private:
    // Every change of step goes through here.
    void setStep(FtpSlotStep step);
    // A request of the client went out: its completion is awaited.
    void sent();
    // The client is ready for a request.
    bool clientReady() const;
    // Aborts the client unless a step of the slot runs (its answers are not waited for).
    void abortClient();
    const Slot& slot() const { return host_.slotOf(n_); }
    std::string site() const;

    // The steps (ftp_slot_steps.cpp).
    void stepConnecting();
    void stepLoggedIn();
    void stepResumeRefused();
    void transferStart();
    // The TLS of the connection about to open; false when the site was given up.
    bool chooseTls();

    // The answers.
    void applyRow(FtpSlotStep at, std::uint16_t error, bool& handled);
    void connectAnswered(std::uint16_t error, bool& handled);
    void transferEnded(FtpSlotStep at, std::uint16_t error, bool& handled);
    bool transferRefused(FtpSlotStep at, std::uint16_t error);
    // More bytes came than the SIZE: REST ignored (fetched again from the start) or a lie.
    void overran(bool connected);
    // A retry of the transfer: on this connection when it is up, else a new one.
    void retryTransfer();
    void judgeReply(const std::string& msg);
    void showLine(const std::string& msg);

    // The visit's rules (ftp_slot_steps.cpp).
    void timeouts();
    bool timeOut();
    void finishBySize();
    void watchStall();
    void breakOffStalled();

    SlotHost& host_;
    FtpRoad& road_;
    const int n_;
    std::unique_ptr<net::TFtpClient> client_;
    FtpSlotStep step_ = FtpSlotStep::Idle;
    FtpSlotStep at_ = FtpSlotStep::Idle; // the step the running step() began in
    // A request of the client has not completed yet. Completions are posted,
    // so a visit may come between a request's end and its completion; such a
    // visit runs no step.
    bool awaiting_ = false;
    // The request the last step started, until its completion. A completion
    // of another request is late: the time-outs gave up waiting for it and
    // the slot has started the next one since.
    net::TFtpRequest request_ = net::ftpNone;
    // TYPE I was accepted on the current connection. Before it, some servers
    // refuse SIZE with 550 ("not allowed in ASCII mode") for files they have.
    bool binarySet_ = false;
    bool aborting_ = false; // the session aborts its client (its events are no step)
    bool firstContact_ = false;
    int refusals_ = 0;               // connections in a row that reached no log-in
    int loginRefusals_ = 0;          // 530 answers to USER or PASS in a row
    std::int64_t lastByteCount_ = 0; // the client's ByteCount at the previous visit
    int stall_ = 0;                  // visits in a row on which ByteCount did not move
    // The certificate remembered for the site under ftptls=offered (empty: none).
    std::string remembered_;
    // The running transfer refused a data connection from another address
    // than the server's.
    bool strangerData_ = false;
};

} // namespace download
