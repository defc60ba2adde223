// The data side of TFtpClient: PORT, REST, the transfers (RETR, LIST, NLST
// into the local file; STOR, APPE from it) and the data connection's events.

#include "net/ftpcli.h"

#include "net/ftpcli_impl.h"
#include "net/ftpreply.h"
#include "net/rate_limit.h"
#include "platform/localfile.h"
#include "platform/system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace net {

namespace {

// Bytes taken from the data connection per read at most; progress is
// reported before every read. (Reads of 2048 bytes held a local transfer to
// half the speed of curl; the order of the events is the same.)
constexpr int DataBlockSize = 65536;
// Bytes read from the local file per send (STOR/APPE).
constexpr int SendBlockSize = 1024;
// Bytes moved from the data connection per step at most when they go by
// splice; the pipe holds that much.
constexpr int SpliceBlockSize = 256 * 1024;

bool spliceReceive = true;
std::int64_t splicedTotal = 0;

} // namespace

void setSpliceReceive(bool on) {
    spliceReceive = on;
}

std::int64_t splicedBytes() {
    return splicedTotal;
}

TFtpClient::Impl::SplicePipe::~SplicePipe() {
    if (readFd >= 0) ::close(readFd);
    if (writeFd >= 0) ::close(writeFd);
}

bool TFtpClient::Impl::SplicePipe::ready() {
    if (readFd >= 0) return true;
    if (failed) return false;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        failed = true;
        return false;
    }
    readFd = fds[0];
    writeFd = fds[1];
    (void)::fcntl(writeFd, F_SETPIPE_SZ, SpliceBlockSize); // a smaller pipe only makes more steps
    return true;
}

// Empties the pipe (what it holds is dropped).
void TFtpClient::Impl::SplicePipe::drain(char* buf, std::size_t size) {
    while (::read(readFd, buf, size) > 0) {
    }
}

// A file this transfer created is removed again when the server never
// accepted the transfer (a 550 to RETR leaves no empty file behind).
void TFtpClient::Impl::CloseLocalFile() {
    if (sendFd >= 0) ::close(sendFd);
    sendFd = -1;
    if (localAccepted)
        sink.close();
    else
        sink.discard();
}

// The local file is made, or emptied (a transfer from the start), only once
// the server has accepted the transfer (a 1xx reply, or bytes arrive): a
// refusal leaves an existing file as it was and makes none.
void TFtpClient::Impl::AcceptLocalFile() {
    if (localAccepted || writeFailed) return;
    localAccepted = true;
    if (!sink.begin()) {
        LocalFailed("open", sink.cause());
        return;
    }
    if (sink.created()) return;
    if (sink.isOpen() && resumePos <= 0 && !sink.cut(0)) LocalFailed("write", sink.cause());
}

void TFtpClient::Impl::LocalFailed(const char* what, const std::string& cause) {
    if (writeFailed) return;
    writeFailed = true;
    localFailure = what;
    q.localError_ = cause;
    Display(std::string(what) == "open" ? "! Unable to open local file " + localName + ": " + cause
                                        : "! Error writing local file");
    if (data.OnSessionClosed) {
        RefuseData(); // its close handler notes the end
    } else if (!dataClosed) {
        // No data connection taken yet: none will be.
        CloseDataSocket();
        CloseLocalFile();
        dataClosed = true;
        CheckTransferEnd();
    }
}

// More than MaxFileSize arrived: what fits was kept, the rest is refused.
void TFtpClient::Impl::Overrun() {
    q.overran_ = true;
    Display("! Received more than " + std::to_string(q.MaxFileSize) + " bytes");
    RefuseData();
}

// Closes the data connection (or the listening socket) without running its
// handlers: the caller does what they would have done.
void TFtpClient::Impl::CloseDataSocket() {
    KeepSessions(data);
    data.OnSessionAvailable = nullptr;
    data.OnSessionClosed = nullptr;
    data.OnDataAvailable = nullptr;
    data.OnDataSent = nullptr;
    data.OnSessionConnected = nullptr;
    earlyAccept = false;
    awaitingConnect = false;
    dataTimer.setEnabled(false);
    data.Close();
}

// Servers may connect to the data port as soon as they have the PORT
// command, before RETR or STOR is sent: that connection is noted here and
// accepted when the transfer begins (its notification comes only once).
void TFtpClient::Impl::AcceptEarlyConnection() {
    if (!earlyAccept) return;
    earlyAccept = false;
    if (data.OnSessionAvailable) data.OnSessionAvailable(&data, 0);
}

std::string TFtpClient::Impl::LocalPath() const {
    if (q.LocalDirectory.empty()) return q.LocalFileName;
    return q.LocalDirectory + (q.LocalDirectory.back() == '/' ? "" : "/") + q.LocalFileName;
}

std::int64_t TFtpClient::Impl::LocalFileSize() const {
    if (!ftp::IsPlainLocalName(q.LocalFileName)) return -1;
    const platform::LocalFileInfo local = platform::inspectLocalFile(LocalPath());
    return local.regular ? local.size : -1;
}

bool TFtpClient::Impl::ProgressAbort() {
    bool abort = false;
    q.OnProgress(q, q.byteCount_ + resumePos, abort);
    if (q.Timeout > 0) deadline = platform::GetTickCount() + static_cast<std::uint32_t>(q.Timeout) * 1000u;
    return abort;
}

// ---- PORT -------------------------------------------------------------------------

void TFtpClient::Impl::PortAsync() {
    CheckReady();
    if (!q.Connected()) return; // nothing happens, as for every command
    if (Protect(&Impl::PortAsync)) return;
    if (q.Passive) {
        PassiveAsync();
        return;
    }
    CloseDataSocket();
    passiveData = false;
    // Listen on the address the PORT command announces: the local address
    // of the control connection (not on every interface).
    platform::SockAddr local;
    int len = 0;
    control.GetSockName(local, len);
    const std::string localAddr = platform::addressText(local);
    data.setProto("tcp");
    data.setAddr(localAddr);
    data.setPort("0");
    if (data.Listen() != 0) throw ESocketException("PORT: cannot listen for the data connection");
    data.OnSessionAvailable = [this](TWSocket*, std::uint16_t) { earlyAccept = true; };
    const int port = std::stoi(data.GetLocalPort());
    ExecAsync(FtpStep::Port, ftpPortAsync, ftp::PortCommand(localAddr, control.GetPeerName(), port), {200});
}

// ---- passive mode: EPSV, else PASV ----------------------------------------------------

void TFtpClient::Impl::PassiveAsync() {
    if (Protect(&Impl::PassiveAsync)) return;
    CloseDataSocket();
    passiveData = true;
    passiveError = 0;
    ExecAsync(FtpStep::Port, ftpPortAsync, "EPSV", {229}, &Impl::PassiveReply);
}

// "229 Entering Extended Passive Mode (|||port|)" or "227 Entering Passive
// Mode (h1,h2,h3,h4,p1,p2)": the data connection goes to that port of the
// server of the control connection (the address a PASV reply names is not
// followed: a hostile server could point it anywhere).
void TFtpClient::Impl::PassiveReply() {
    const std::string& line = q.lastReply_;
    const bool epsv = q.statusCode_ == 229 || (requestResult != 0 && okCodes[0] == 229);
    if (requestResult != 0) {
        if (epsv && requestResult >= 500) {
            q.errorMessage_.clear(); // EPSV unknown: PASV is the older form
            Issue("PASV", {227}, &Impl::PassiveReply);
            return;
        }
        TriggerRequestDone(requestResult);
        return;
    }
    const int port = epsv ? ftp::EpsvPort(line) : ftp::PasvPort(line);
    if (port <= 0) {
        q.lastReply_ = "500 No data port in reply: " + line;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        TriggerRequestDone(500);
        return;
    }
    if (PassivePointsAtControl(port)) {
        // The data connection would reach the control port itself: the
        // server's welcome would be received as the file.
        q.lastReply_ =
            "425 Passive reply points at the control connection (port " + std::to_string(port) + ")";
        q.statusCode_ = 425;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        Display("! " + q.lastReply_);
        TriggerRequestDone(425);
        return;
    }
    data.OnSessionAvailable = [this](TWSocket*, std::uint16_t) { earlyAccept = true; };
    data.OnSessionConnected = [this](TWSocket*, std::uint16_t e) { Guard([&] { PassiveConnected(e); }); };
    data.setProto("tcp");
    data.setAddr(control.GetPeerName());
    data.setPort(std::to_string(port));
    dataTlsFailure.clear();
    if (control.TlsActive()) data.StartTls(DataTls()); // connected = handshake done
    try {
        data.Connect();
    } catch (const ESocketException&) {
        passiveError = data.LastError() != 0 ? data.LastError() : WSAECONNREFUSED;
    }
    TriggerRequestDone(0);
}

bool TFtpClient::Impl::PassivePointsAtControl(int port) {
    platform::SockAddr peer;
    int len = 0;
    return control.GetPeerSockAddr(peer, len) == 0 && peer.port() == port;
}

// The passive data connection is up (or failed): the transfer takes it as
// it takes an accepted one in active mode.
void TFtpClient::Impl::PassiveConnected(std::uint16_t error) {
    data.OnSessionConnected = nullptr;
    if (error != 0) {
        passiveError = error;
        if (isTlsError(error)) {
            dataTlsFailure = data.TlsError();
            Display("! TLS data connection with " + q.HostName + ": " + dataTlsFailure);
        }
        // A transfer already waiting for it fails (also when the server has
        // confirmed it and gone); the server refuses RETR itself otherwise (425).
        if ((q.state_ == ftpWaitingResponse || dataAfterClose) && !transferWord.empty() &&
            (sink.isOpen() || sink.deferred() || sendFd >= 0))
            TransferFailed(425, "! Data connection failed");
        return;
    }
    if (data.OnSessionAvailable) data.OnSessionAvailable(&data, 0);
}

// Active mode: the server did not connect to the announced port in time. Its
// reply to the transfer command may still come at any time, so the control
// connection cannot go on: it is closed, and later transfers use passive mode.
void TFtpClient::Impl::DataTimedOut() {
    dataTimer.setEnabled(false);
    if (passiveData || q.state_ != ftpWaitingResponse || data.State() != wsListening) return;
    Display("! No data connection from the server: passive mode");
    q.Passive = true;
    q.lastReply_ = "425 No data connection";
    q.statusCode_ = 425;
    if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
    requestResult = 425;
    nextStep = nullptr;
    steps = 0;
    CloseLocalFile();
    CloseDataSocket();
    CloseControl(); // its close handler delivers the completion
}

// ---- REST -------------------------------------------------------------------------

void TFtpClient::Impl::RestAsync() {
    CheckReady();
    resumePos = LocalFileSize();
    if (resumePos <= 0) {
        // Nothing to resume: no command, the step succeeds at once.
        if (!highLevel) {
            q.request_ = ftpRestAsync;
            fct = FtpStep::Rest;
        }
        doneSent = false;
        TriggerRequestDone(0);
        return;
    }
    ExecAsync(FtpStep::Rest, ftpRestAsync, "REST " + std::to_string(resumePos), {});
}

// ---- receiving: RETR, LIST, NLST ----------------------------------------------------

void TFtpClient::Impl::TransferAsync(const char* word, TFtpRequest rq) {
    if (!connected) throw FtpException(std::string(word) + ": not connected");
    CheckReady();
    if (!highLevel) {
        q.request_ = rq;
        fct = rq == ftpGetAsync ? FtpStep::Retr : rq == ftpDirAsync ? FtpStep::List : FtpStep::Nlst;
    }
    transferWord = word;
    finalReceived = dataClosed = writeFailed = abortedXfer = xferMultiLine = dataAfterClose = false;
    spliceOff = false;
    if (!passiveData) dataTlsFailure.clear();
    doneSent = false;
    requestResult = 0;
    q.byteCount_ = 0;
    data.OnSessionAvailable = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataSessionAvailable(e); }); };

    // The local file: a plain name in the current directory, nothing else
    // (an empty name, ".", ".." or a path would write somewhere unintended).
    const std::string& name = q.LocalFileName;
    CloseLocalFile();
    localAccepted = false;
    localFailure = "";
    localName = name;
    q.localError_.clear();
    q.overran_ = false;
    sink.setLimit(q.MaxFileSize);
    std::string cause;
    bool opened = false;
    if (!ftp::IsPlainLocalName(name)) {
        cause = "not a plain file name";
    } else if (resumePos > 0) {
        opened = sink.open(LocalPath(), platform::LocalFileSink::Missing::Fail) && sink.seek(resumePos);
        if (!opened) {
            cause = sink.cause();
            CloseLocalFile();
        }
    } else {
        // An existing file is opened now (one that cannot be written fails
        // before the command) and emptied only once the server accepts the
        // transfer; a missing one is made only then.
        opened = sink.open(LocalPath(), platform::LocalFileSink::Missing::Defer);
        if (!opened) cause = sink.cause();
    }
    if (!opened) {
        q.localError_ = cause;
        q.lastReply_ = "Unable to open local file " + name + ": " + cause;
        q.statusCode_ = 550;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        CloseDataSocket();
        TriggerRequestDone(550);
        return;
    }
    if (passiveData && passiveError != 0) {
        q.lastReply_ = "425 Can't open data connection (" + std::to_string(passiveError) + ")";
        q.statusCode_ = 425;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        CloseLocalFile();
        CloseDataSocket();
        TriggerRequestDone(425);
        return;
    }
    awaitingConnect = !passiveData && data.State() == wsListening && !earlyAccept;
    if (awaitingConnect && q.Timeout > 0) {
        dataTimer.setInterval(q.Timeout * 1000);
        dataTimer.setEnabled(true);
    }
    ChangeState(ftpWaitingResponse);
    next = &Impl::FirstTransferReply;
    if (rq == ftpGetAsync && !q.HostFileName.empty()) {
        SendCommand(transferWord + " " + q.HostFileName);
    } else {
        SendCommand(transferWord);
    }
    AcceptEarlyConnection();
}

void TFtpClient::Impl::FirstTransferReply() {
    FirstDataReply(&Impl::FinalTransferReply);
}
void TFtpClient::Impl::FinalTransferReply() {
    FinalDataReply("! RETR/LIST/NLST Failed");
}
void TFtpClient::Impl::FirstSendReply() {
    FirstDataReply(&Impl::FinalSendReply);
}
void TFtpClient::Impl::FinalSendReply() {
    FinalDataReply("! STOR Failed");
}

// Sets StatusCode from a reply line of a transfer and answers whether the line
// is only shown: a line of a multi-line reply before its end line
// ("150-Accepted data connection" before "150 ...", "226-" before "226 "),
// and the text lines without a code inside such a reply. Counting them as
// replies would take the end line of a 150 reply for the final reply (every
// transfer from such a server would fail) and leave the end line of a 226
// reply to be taken for the reply to the next command.
bool TFtpClient::Impl::TransferReplyText() {
    q.statusCode_ = ftp::ReplyCode(q.lastReply_);
    if (ftp::IsContinuation(q.lastReply_)) {
        xferMultiLine = true;
        return true;
    }
    if (xferMultiLine && q.statusCode_ == 0) return true;
    xferMultiLine = false;
    return false;
}

// The first reply to a transfer command: 125/150 announce the transfer, whose
// final reply then goes to final; anything else ends the request (a line
// without a code with 500: its code 0 would read as success).
void TFtpClient::Impl::FirstDataReply(Handler final) {
    if (TransferReplyText()) return;
    const int code = q.statusCode_;
    if (code == 125 || code == 150) {
        AcceptLocalFile();
        next = final;
        return;
    }
    if (q.overran_) {
        // The data came before the server's refusal, and more of it than
        // the limit: the overrun is the outcome.
        next = nullptr;
        CloseDataSocket();
        resumePos = 0;
        EndOverrun();
        return;
    }
    if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
    next = nullptr;
    CloseDataSocket();
    CloseLocalFile();
    resumePos = 0;
    TriggerRequestDone(code != 0 ? code : 500);
}

void TFtpClient::Impl::EndOverrun() {
    CloseLocalFile();
    q.lastReply_ = "Received more than " + std::to_string(q.MaxFileSize) + " bytes";
    q.statusCode_ = 426;
    if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
    TriggerRequestDone(426);
}

// The final reply of a transfer: 226/250 confirm it (the request ends once the
// data connection has closed too); anything else fails it with the note.
void TFtpClient::Impl::FinalDataReply(const char* failedNote) {
    if (TransferReplyText()) return;
    const int code = q.statusCode_;
    // After a local failure or an overrun the server's answer (often 426 to
    // the closed data connection) only ends the transfer; its result stands.
    if (code == 226 || code == 250 || writeFailed || q.overran_) {
        finalReceived = true;
        CheckTransferEnd();
        return;
    }
    TransferFailed(code != 0 ? code : 500, failedNote);
}

void TFtpClient::Impl::TransferFailed(std::int32_t code, const char* note) {
    if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
    CloseLocalFile();
    CloseDataSocket();
    Display(note);
    TriggerRequestDone(code);
}

// Active mode: a connection to the data port from the control connection's
// server, or none (INVALID_SOCKET). A connection from anywhere else is
// closed at once and the port stays open for the server's own.
TSocket TFtpClient::Impl::AcceptServerConnection() {
    const TSocket h = data.Accept();
    if (h == INVALID_SOCKET) return h;
    // (Compared with the control connection's peer as it was connected: the
    // server may have closed it since, its data still on the way.)
    platform::SockAddr from;
    if (platform::sockPeerName(h, from) == 0 && serverAddrKnown && from.sameHost(serverAddr)) return h;
    Display("! Data connection from " + platform::addressText(from) + " refused");
    platform::sockClose(h);
    return INVALID_SOCKET;
}

// The server connects to the data port.
void TFtpClient::Impl::DataSessionAvailable(std::uint16_t) {
    TSocket h = INVALID_SOCKET;
    if (!passiveData) {
        h = AcceptServerConnection();
        if (h == INVALID_SOCKET) return;
        data.Close(); // the listening socket
        dataTimer.setEnabled(false);
        awaitingConnect = false;
    }
    data.OnSessionClosed = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataSessionClosed(e); }); };
    data.OnDataAvailable = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataAvailable(e); }); };
    data.OnDataSent = nullptr;
    if (!passiveData) data.Dup(h);
    if (!passiveData && control.TlsActive()) {
        dataTlsFailure.clear();
        data.OnTlsDone = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataTlsDone(e); }); };
        data.StartTls(DataTls());
    }
    startTick = platform::GetTickCount();
    // A connection is no acceptance yet (the local file waits for the 1xx
    // reply or the first bytes); a local file that already failed refuses it.
    if (writeFailed) RefuseData();
}

void TFtpClient::Impl::DataAvailable(std::uint16_t) {
    if (ProgressAbort()) {
        Display("! Abort requested");
        abortedXfer = true;
        data.Close();
        return;
    }
    if (SpliceStep()) return;
    const std::int64_t room = sink.room();
    const int want =
        Allowance(room >= 0 && room < DataBlockSize ? static_cast<int>(room) + 1 : DataBlockSize);
    if (want == 0) return;
    const int n = data.Receive(dataBuf.data(), want);
    RateLimit::shared().giveBack(static_cast<std::size_t>(want - std::max(n, 0)));
    if (n == 0) return;
    if (n < 0) {
        ReceiveFailed();
        return;
    }
    if (writeFailed || q.overran_) return; // the connection is being closed: dropped
    const int keep = room >= 0 && n > room ? static_cast<int>(room) : n;
    if (keep > 0 && !KeepBytes(dataBuf.data(), keep)) return;
    if (keep < n) Overrun();
}

int TFtpClient::Impl::Allowance(int want) {
    RateLimit& limit = RateLimit::shared();
    const int may = static_cast<int>(limit.take(static_cast<std::size_t>(want)));
    if (may > 0) return may;
    // Paused: the server's bytes wait in the system's buffers, and TCP slows
    // the server down; the budget's return resumes the reading.
    data.Pause();
    limit.wait(this, [this] { data.Resume(); });
    return 0;
}

// Writes bytes received by read to the local file (made now if the server
// has not yet been taken to accept); false when the file failed.
bool TFtpClient::Impl::KeepBytes(const char* bytes, int n) {
    AcceptLocalFile();
    if (writeFailed) return false;
    q.byteCount_ += n;
    if (sink.write(bytes, static_cast<std::size_t>(n)) < 0) {
        LocalFailed("write", sink.cause());
        return false;
    }
    if (q.DisplayFlag) {
        // Every piece between runs of CR and LF is one shown line.
        const char* p = bytes;
        const char* end = p + n;
        while (p < end) {
            while (p < end && (*p == '\r' || *p == '\n'))
                ++p;
            const char* start = p;
            while (p < end && *p != '\r' && *p != '\n')
                ++p;
            if (p > start) Display("! Data: " + std::string(start, p));
        }
    }
    return true;
}

// The local file takes no more bytes: the data connection is closed at once
// (the system resets it when bytes are still unread, or when more come), so
// that the server stops sending and answers. (Shut down and read on, it could
// stall: a receive window closed when the bytes stopped being wanted is never
// opened again, and the server waits on it.)
void TFtpClient::Impl::RefuseData() {
    data.Abort();
}

void TFtpClient::Impl::ReceiveFailed() {
    const int code = data.LastError();
    if (data.State() == wsConnected && code != WSAEWOULDBLOCK) {
        Display("! Data: Receive error " + std::to_string(code));
        data.ShutDown(SD_BOTH);
    }
}

// One read step by splice: socket -> pipe -> local file. Answers false when
// this step must go through read and write instead (nothing was taken).
bool TFtpClient::Impl::SpliceStep() {
    // Until the server accepted the transfer (a 125/150 reply, or bytes that
    // came) the read path takes the bytes: it accepts the transfer only when
    // some came, emptying or making the local file before the first of them
    // lands (spliced into an existing file they would leave its old tail
    // behind them, or a hole where a later 150 emptied it).
    if (!spliceReceive || spliceOff || q.DisplayFlag || writeFailed || q.overran_ || !localAccepted ||
        !sink.isOpen())
        return false;
    if (!splicePipe.ready()) return false;
    const std::int64_t room = sink.room();
    const int want =
        Allowance(room >= 0 && room < SpliceBlockSize ? static_cast<int>(room) + 1 : SpliceBlockSize);
    if (want == 0) return true;
    const int n = data.ReceiveToPipe(splicePipe.writeFd, want);
    RateLimit::shared().giveBack(static_cast<std::size_t>(want - std::max(n, 0)));
    if (n == TWSocket::NoSplice) {
        spliceOff = true;
        return false;
    }
    if (n == 0) return true;
    if (n < 0) {
        ReceiveFailed();
        return true;
    }
    const int keep = room >= 0 && n > room ? static_cast<int>(room) : n;
    q.byteCount_ += keep;
    // A local file that takes no splice takes the rest through read and
    // write, and the next steps go the read path.
    const std::int64_t took =
        sink.writeFromPipe(splicePipe.readFd, static_cast<std::size_t>(keep), splicedTotal);
    if (sink.spliceRefused()) spliceOff = true;
    if (took < 0) {
        splicePipe.drain(dataBuf.data(), dataBuf.size());
        LocalFailed("write", sink.cause());
        return true;
    }
    if (keep < n) {
        splicePipe.drain(dataBuf.data(), dataBuf.size()); // the bytes past the limit
        Overrun();
    }
    return true;
}

// Active mode: the TLS of the accepted data connection is up (or failed: the
// socket closes next, and its close fails the transfer).
void TFtpClient::Impl::DataTlsDone(std::uint16_t error) {
    data.OnTlsDone = nullptr;
    if (error == 0) return;
    dataTlsFailure = data.TlsError();
    Display("! TLS data connection with " + q.HostName + ": " + dataTlsFailure);
}

void TFtpClient::Impl::DataSessionClosed(std::uint16_t error) {
    if (isTlsError(error) && dataTlsFailure.empty()) {
        // A cut TLS stream: what arrived may end anywhere in the file.
        dataTlsFailure = data.TlsError().empty() ? WSocketErrorDesc(error) : data.TlsError();
        Display("! TLS data connection with " + q.HostName + ": " + dataTlsFailure);
    }
    KeepSessions(data);
    // Ended before any byte and before the server's 1xx reply: the local file
    // stays open for that reply, which empties it (the file is empty) or
    // refuses the transfer (the file stays as it was).
    if (localAccepted) CloseLocalFile();
    dataClosed = true;
    CheckTransferEnd();
}

// The transfer ends when the final reply came and the data connection
// closed, in either order.
void TFtpClient::Impl::CheckTransferEnd() {
    if (!finalReceived || !dataClosed) return;
    Display(ftp::TransferLine(q.byteCount_, startTick, platform::GetTickCount()));
    resumePos = 0;
    CloseLocalFile();
    if (q.overran_) {
        EndOverrun();
        return;
    }
    if (abortedXfer) {
        // Stopped by the progress handler: what was still unread (or unsent)
        // is missing, even when the server had already confirmed the transfer.
        if (q.errorMessage_.empty()) q.errorMessage_ = "426 Operation aborted.";
        TriggerRequestDone(426);
        return;
    }
    if (!dataTlsFailure.empty()) {
        q.lastReply_ = "426 TLS data connection with " + q.HostName + ": " + dataTlsFailure;
        q.statusCode_ = 426;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        TriggerRequestDone(426);
        return;
    }
    if (writeFailed) {
        // The local file misses bytes (or was not read whole): no success.
        const bool sending = transferWord == "STOR" || transferWord == "APPE";
        q.lastReply_ = sending ? "Unable to read local file " + q.LocalFileName
                               : "Unable to " + std::string(localFailure) + " local file " + localName +
                                     ": " + q.localError_;
        q.statusCode_ = 550;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        TriggerRequestDone(550);
        return;
    }
    requestResult = 0;
    TriggerRequestDone(0);
}

// ---- sending: STOR, APPE ---------------------------------------------------------------

void TFtpClient::Impl::SendAsync(const char* word, TFtpRequest rq) {
    if (!connected) throw FtpException("STOR/APPE: not connected");
    if (q.LocalFileName.empty()) throw FtpException("LocalFileName empty");
    CheckReady();
    q.request_ = rq; // also inside a sequence
    if (!highLevel) fct = rq == ftpPutAsync ? FtpStep::Stor : FtpStep::Appe;
    transferWord = word;
    finalReceived = dataClosed = writeFailed = abortedXfer = xferMultiLine = dataAfterClose = false;
    doneSent = false;
    requestResult = 0;
    q.byteCount_ = 0;
    const std::string& name = q.LocalFileName;
    CloseLocalFile();
    localAccepted = true; // a file that is read is never emptied
    q.localError_.clear();
    q.overran_ = false;
    // Without blocking (a FIFO would wait for a writer); a regular file only.
    sendFd = ::open(LocalPath().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (sendFd < 0) {
        q.localError_ = platform::localFileCause(name, errno);
    } else if (::fstat(sendFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        q.localError_ = "not a regular file";
        CloseLocalFile();
    } else if (resumePos > 0 && ::lseek(sendFd, resumePos, SEEK_SET) < 0) {
        q.localError_ = std::strerror(errno);
        CloseLocalFile();
    }
    if (sendFd < 0) {
        q.lastReply_ = "Unable to open local file " + name;
        q.statusCode_ = 550;
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        Display("! " + q.lastReply_);
        CloseDataSocket();
        TriggerRequestDone(550);
        return;
    }
    data.OnSessionAvailable = [this](TWSocket*, std::uint16_t e) {
        Guard([&] { DataSendSessionAvailable(e); });
    };
    ChangeState(ftpWaitingResponse);
    next = &Impl::FirstSendReply;
    SendCommand(transferWord + " " + q.HostFileName);
    AcceptEarlyConnection();
}

void TFtpClient::Impl::DataSendSessionAvailable(std::uint16_t) {
    TSocket h = INVALID_SOCKET;
    if (!passiveData) {
        h = AcceptServerConnection();
        if (h == INVALID_SOCKET) return;
        data.Close(); // the listening socket
    }
    data.OnSessionClosed = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataSessionClosed(e); }); };
    data.OnDataAvailable = nullptr;
    data.OnDataSent = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataSent(e); }); };
    if (!passiveData) data.Dup(h);
    if (!passiveData && control.TlsActive()) {
        dataTlsFailure.clear();
        data.OnTlsDone = [this](TWSocket*, std::uint16_t e) { Guard([&] { DataTlsDone(e); }); };
        data.StartTls(DataTls()); // the first block waits for the handshake
    }
    startTick = platform::GetTickCount();
    DataSent(0); // the first block
}

// The send queue emptied: the next block of the local file, or the end.
void TFtpClient::Impl::DataSent(std::uint16_t) {
    if (sendFd < 0) return;
    if (ProgressAbort()) {
        Display("! Abort requested");
        abortedXfer = true;
        CloseLocalFile();
        data.Close();
        return;
    }
    ssize_t n;
    do {
        n = ::read(sendFd, dataBuf.data(), SendBlockSize);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        Display("! Error reading file");
        writeFailed = true;
    }
    if (n <= 0) {
        CloseLocalFile();
        data.Close(); // its close handler checks for the end
        return;
    }
    q.byteCount_ += n;
    data.Send(dataBuf.data(), static_cast<int>(n));
}

} // namespace net
