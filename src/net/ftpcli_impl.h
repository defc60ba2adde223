#pragma once
// The inside of TFtpClient, shared by its source files: ftpcli.cpp (the
// control connection, replies, completions, abort), ftpseq.cpp (requests and
// sequences) and ftpdata.cpp (PORT, REST, the transfers on the data
// connection and the local file).

#include "net/ftpcli.h"
#include "net/ftpreply.h"
#include "net/wsocket.h"
#include "platform/eventloop.h"
#include "platform/localfile.h"
#include "platform/socket.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace net {

struct TFtpClient::Impl {
    using Handler = void (Impl::*)();

    explicit Impl(TFtpClient& owner);
    ~Impl();

    TFtpClient& q;
    TWSocket control;               // the control connection
    TWSocket data;                  // the data connection (listening, then the accepted one)
    platform::MessageTarget target; // completions are posted here

    bool connected = false;         // the control connection was established
    FtpStep fct = FtpStep::None;    // the step (command) under way
    std::int32_t requestResult = 0; // 0 or the error of the request under way
    std::int32_t finalResult = 0;   // the result of a sequence
    std::uint32_t steps = 0;        // remaining steps of a sequence, one bit per FtpStep
    bool highLevel = false;         // a sequence runs
    bool doneSent = false;          // the completion of this request was delivered
    bool ownClose = false;          // the client itself closes the control connection
    int failing = 0;                // depth of EventFailed (no second round from inside it)
    std::array<char, ReplyBufferSize> rcvBuf{};
    std::size_t rcvCount = 0;
    ftp::ReplyFramer framer;       // where the reply lines stand in a multi-line reply
    std::string savedReply;        // reply saved by a sequence
    std::int32_t savedCode = -1;   // its code; -1: none
    std::array<int, 16> okCodes{}; // accepted codes, 0-terminated; empty: every code below 500
    Handler next = nullptr;        // handles the next reply line in state 8
    Handler doneAction = nullptr;  // run instead of the completion after a simple command's reply
    Handler nextStep = nullptr;    // step selection of a running sequence
    platform::LocalFileSink sink;  // the local file a transfer receives into (made or emptied once accepted)
    int sendFd = -1;               // the local file a transfer sends (STOR, APPE)
    bool localAccepted = false;    // the server accepted the transfer: the local file may be written
    const char* localFailure = ""; // ... what failed: "open" or "write" (with writeFailed)
    std::string localName;         // ... its name
    std::uint32_t startTick = 0;
    std::int64_t resumePos = 0;   // where the transfer starts in the local file
    std::string transferWord;     // "RETR", "LIST", "NLST", "STOR", "APPE"
    bool finalReceived = false;   // the transfer's final reply (226/250) came
    bool dataClosed = false;      // the data connection of the transfer closed
    bool writeFailed = false;     // writing the local file failed during the transfer
    bool abortedXfer = false;     // the progress handler stopped the transfer
    bool xferMultiLine = false;   // a multi-line reply to the transfer is under way (end line not yet seen)
    bool earlyAccept = false;     // the server connected to the data port before the transfer began
    bool awaitingConnect = false; // active mode: the transfer was asked for, the server has not connected
    std::uint32_t deadline = 0;   // of the synchronous Abort, moved on by progress
    std::uint32_t seqSteps = 0;   // the steps the running sequence began with
    bool passiveData = false;     // the data socket connects out (passive mode)
    // The server closed the control connection after confirming the transfer:
    // the request ends with the data connection, which is still to come.
    bool dataAfterClose = false;
    platform::SockAddr serverAddr; // the control connection's peer (kept past its close)
    bool serverAddrKnown = false;
    int passiveError = 0;       // ... its connection failed with this code
    platform::TTimer dataTimer; // the server's data connection (active mode) is waited for this long
    std::array<char, 65536> dataBuf{};
    // The pipe that carries received file data to the local file (ftpdata.cpp).
    struct SplicePipe {
        int readFd = -1, writeFd = -1;
        bool failed = false; // no pipe could be made: never again
        SplicePipe() = default;
        SplicePipe(const SplicePipe&) = delete;
        SplicePipe& operator=(const SplicePipe&) = delete;
        ~SplicePipe();
        bool ready();
        void drain(char* buf, std::size_t size);
    } splicePipe;
    bool spliceOff = false;       // this transfer receives through read and write
    bool protDone = false;        // PBSZ and PROT were accepted on this control connection
    Handler protResume = nullptr; // the data step that waits for them
    std::string dataTlsFailure;   // why the TLS of the transfer's data connection failed
    // Sessions for the data connections, newest last: a TLS 1.3 server may
    // take each ticket only once; each data connection gives new ones.
    std::vector<TlsSessionPtr> sessionPool;
    TlsSessionPtr lastSession;
    void KeepSessions(TWSocket& from);
    // Watched across calls into listeners, which may destroy the client.
    platform::Lifetime lifetime;

    // ---- ftpcli.cpp and ftpseq.cpp -----------------------------------------------------------
    void ChangeState(TFtpState st);
    void Display(const std::string& msg);
    void SendCommand(std::string cmd);
    void CheckReady() const;
    void ExecAsync(FtpStep step, TFtpRequest rq, const std::string& cmd, std::initializer_list<int> codes,
                   Handler done = nullptr);
    // Sends a command and awaits its reply, without the checks of ExecAsync.
    void Issue(const std::string& cmd, std::initializer_list<int> codes, Handler done);
    bool PassiveFallback(); // in a sequence: a refused data connection is tried again in passive mode
    void GetReply();        // reply evaluation of a simple command
    void DoneQuit();        // done action of QUIT: close the control connection
    void TriggerRequestDone(std::int32_t error);
    void PostRequestDone(TFtpRequest rq, std::uint16_t error);
    void HighLevelAsync(TFtpRequest rq, std::initializer_list<FtpStep> stepList);
    void NextSequenceStep(); // step selection
    void StartStep(FtpStep s);
    void CloseControl();
    void EventFailed(const std::string& what);
    template <class F> void Guard(F&& f);

    void ControlDnsLookupDone(std::uint16_t error);
    void ControlSessionConnected(std::uint16_t error);
    void ControlDataAvailable(std::uint16_t error);
    void ControlSessionClosed(std::uint16_t error);
    // The control connection closed after the final reply of a transfer:
    // true when the data connection is up, being made or (active mode) has
    // come to the data port, so that its bytes are still to be read.
    bool DataStillToCome(bool takeWaiting);
    void HandleLine();
    void HandleWelcome();
    void WelcomeDone();
    void AuthReply();
    void AuthTlsDone(std::uint16_t error);
    // The session cannot go on over TLS: 534 with reason, shown, the control
    // connection closed (its close delivers the completion).
    void TlsFailed(const std::string& reason);
    // TlsVerify off and a certificate that does not verify: the listeners
    // judge it. False (and the session failed) when one refused it.
    bool TlsAccepted();
    bool Protect(Handler resume); // PBSZ 0, PROT P first; true when they were sent
    void PbszReply();
    void ProtReply();
    TlsOptions DataTls();
    void DataTlsDone(std::uint16_t error);
    void ReplyTooLong();

    // ---- ftpdata.cpp ------------------------------------------------------------
    void PortAsync();
    void PassiveAsync(); // EPSV (then PASV), the passive step in place of PORT
    void PassiveReply(); // done action of EPSV and PASV
    void PassiveConnected(std::uint16_t error);
    void DataTimedOut(); // active mode: the server never connected
    void RestAsync();
    void TransferAsync(const char* word, TFtpRequest rq); // RETR, LIST, NLST
    void SendAsync(const char* word, TFtpRequest rq);     // STOR, APPE
    void FirstTransferReply();
    void FinalTransferReply();
    void FirstSendReply();
    void FinalSendReply();
    void FirstDataReply(Handler final);
    void FinalDataReply(const char* failedNote);
    bool TransferReplyText();
    void AcceptEarlyConnection();
    void DataSessionAvailable(std::uint16_t error);
    void DataSendSessionAvailable(std::uint16_t error);
    void DataAvailable(std::uint16_t error);
    bool SpliceStep();
    // How many of want bytes the speed limit lets this read take now; 0: the
    // data connection is paused until the limit's budget is back.
    int Allowance(int want);
    void ReceiveFailed();
    void RefuseData();
    void DataSent(std::uint16_t error);
    void DataSessionClosed(std::uint16_t error);
    void CheckTransferEnd();
    void TransferFailed(std::int32_t code, const char* note);
    bool ProgressAbort(); // the progress trigger; true when the handler asks to abort
    void CloseLocalFile();
    void AcceptLocalFile(); // the server accepted the transfer: start the local file
    // The local file failed: the cause is kept, the data connection ended;
    // the request fails with 550 once the server's final reply came.
    void LocalFailed(const char* what, const std::string& cause);
    bool KeepBytes(const char* bytes, int n); // writes received bytes; false when the file failed
    void Overrun();                           // more than MaxFileSize arrived
    void EndOverrun();                        // ends the request with 426 for an overrun
    TSocket AcceptServerConnection();         // active mode: the server's data connection, or none
    bool PassivePointsAtControl(int port);    // a passive reply naming the control connection itself
    void CloseDataSocket();
    // LocalFileName in LocalDirectory.
    std::string LocalPath() const;
    std::int64_t LocalFileSize() const; // -1 when there is no such file
};

// Runs f; an exception from inside a socket event must not unwind through
// the event loop: it fails the request under way instead.
template <class F> void TFtpClient::Impl::Guard(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        EventFailed(e.what());
    }
}

} // namespace net
