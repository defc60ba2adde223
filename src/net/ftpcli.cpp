// TFtpClient: construction, completions, the control connection (welcome,
// replies, close) and abort. Requests and sequences: ftpseq.cpp; the data
// side: ftpdata.cpp.
#include "net/ftpcli.h"

#include "net/ftpcli_impl.h"
#include "net/ftpreply.h"
#include "net/rate_limit.h"
#include "platform/system.h"

#include <algorithm>
#include <cstring>
#include <poll.h>

namespace net {

// ---- construction ---------------------------------------------------------------

TFtpClient::Impl::Impl(TFtpClient& owner) : q(owner) {
    control.OnDnsLookupDone = [this](TWSocket*, std::uint16_t e) { Guard([&] { ControlDnsLookupDone(e); }); };
    control.OnSessionConnected = [this](TWSocket*, std::uint16_t e) {
        Guard([&] { ControlSessionConnected(e); });
    };
    control.OnDataAvailable = [this](TWSocket*, std::uint16_t e) { Guard([&] { ControlDataAvailable(e); }); };
    control.OnSessionClosed = [this](TWSocket*, std::uint16_t e) { Guard([&] { ControlSessionClosed(e); }); };
    dataTimer.OnTimer = [this] { Guard([&] { DataTimedOut(); }); };
}

TFtpClient::Impl::~Impl() {
    for (TWSocket* s : {&control, &data}) {
        s->OnDnsLookupDone = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnDataSent = nullptr;
    }
    CloseLocalFile();
    RateLimit::shared().forget(this);
}

TFtpClient::TFtpClient() : d_(std::make_unique<Impl>(*this)) {}

TFtpClient::~TFtpClient() = default;

bool TFtpClient::Connected() const {
    return d_->control.State() != wsClosed;
}

bool TFtpClient::AwaitingDataConnection() const {
    return d_->awaitingConnect;
}

void TFtpClient::ChangeState(TFtpState st) {
    d_->ChangeState(st);
}

// ---- small pieces ---------------------------------------------------------------

void TFtpClient::Impl::ChangeState(TFtpState st) {
    if (q.state_ == st) return;
    q.state_ = st;
    q.OnStateChange(q);
}

void TFtpClient::Impl::Display(const std::string& msg) {
    if (q.OnDisplay.empty()) return;
    std::string line = msg;
    q.OnDisplay(q, line);
}

void TFtpClient::Impl::SendCommand(std::string cmd) {
    q.OnCommand(q, cmd);
    q.lastCommand_ = ftp::CommandOf(cmd);
    Display("> " + cmd);
    control.SendStr(cmd + "\r\n");
}

void TFtpClient::Impl::CheckReady() const {
    if (q.state_ != ftpReady && q.state_ != ftpInternalReady) throw FtpException("FTP component not ready");
}

// Starts a simple command: one line sent, one reply evaluated.
void TFtpClient::Impl::ExecAsync(FtpStep step, TFtpRequest rq, const std::string& cmd,
                                 std::initializer_list<int> codes, Handler done) {
    CheckReady();
    // Without a control connection nothing happens at all (no completion
    // either): callers look at the connection first.
    if (!q.Connected()) return;
    if (!highLevel) {
        q.request_ = rq;
        fct = step;
    }
    if (step == FtpStep::Size) q.remoteSize_ = 0;
    Issue(cmd, codes, done);
}

void TFtpClient::Impl::Issue(const std::string& cmd, std::initializer_list<int> codes, Handler done) {
    okCodes.fill(0);
    std::size_t i = 0;
    for (int c : codes) {
        if (i + 1 < okCodes.size()) okCodes[i++] = c;
    }
    doneSent = false;
    requestResult = 0;
    finalReceived = false; // (a transfer's, no longer under way)
    next = &Impl::GetReply;
    doneAction = done;
    ChangeState(ftpWaitingResponse);
    SendCommand(cmd);
}

void TFtpClient::Impl::GetReply() {
    const std::string& line = q.lastReply_;
    q.statusCode_ = ftp::ReplyCode(line);
    if (ftp::IsContinuation(line)) return;
    const int code = q.statusCode_;
    int result;
    if (okCodes[0] == 0) {
        result = code >= 500 ? code : 0;
    } else {
        result = code;
        for (int c : okCodes) {
            if (c == 0) break;
            if (c == code) result = 0;
        }
    }
    requestResult = result;
    if (result != 0 && q.errorMessage_.empty()) q.errorMessage_ = line;
    if (result == 0) {
        switch (fct) {
        case FtpStep::Size:
            q.remoteSize_ = ftp::SecondNumber(line);
            break;
        case FtpStep::Cwd:
        case FtpStep::Mkd:
        case FtpStep::Pwd:
        case FtpStep::Cdup:
            q.dirResult_ = ftp::QuotedName(line);
            break;
        default:
            break;
        }
    }
    if (doneAction) {
        (this->*doneAction)();
    } else {
        TriggerRequestDone(requestResult);
    }
}

void TFtpClient::Impl::DoneQuit() {
    CloseControl();
}

void TFtpClient::Impl::CloseControl() {
    ownClose = true;
    control.Close();
    ownClose = false;
}

// Completion, delivered once per request.
void TFtpClient::Impl::TriggerRequestDone(std::int32_t error) {
    if (doneSent) return;
    doneSent = true;
    requestResult = error;
    if (highLevel && nextStep) {
        if (q.state_ != ftpAbort) ChangeState(ftpInternalReady);
        (this->*nextStep)();
        return;
    }
    ChangeState(ftpReady);
    dataTimer.setEnabled(false);
    if (data.State() != wsClosed) CloseDataSocket();
    // A local file still open (the data connection never came) is closed too.
    CloseLocalFile();
    if (highLevel && savedCode != -1) {
        q.lastReply_ = savedReply;
        q.statusCode_ = savedCode;
    }
    highLevel = false;
    PostRequestDone(q.request_, static_cast<std::uint16_t>(error));
}

void TFtpClient::Impl::PostRequestDone(TFtpRequest rq, std::uint16_t error) {
    target.post([this, rq, error] { q.OnRequestDone(q, rq, error); });
}

// A failure inside a socket event (a refused step, a socket error): shown,
// kept in ErrorMessage, and the request under way ends with an error.
void TFtpClient::Impl::EventFailed(const std::string& what) {
    Display("! " + what);
    if (q.errorMessage_.empty()) q.errorMessage_ = what;
    if (failing > 0) {
        // Failed again while ending the request: end it without more steps.
        nextStep = nullptr;
        return;
    }
    ++failing;
    try {
        // A request under way, or a sequence whose next step was refused
        // (its previous step's completion already counted).
        if (!doneSent || (highLevel && nextStep)) {
            doneSent = false;
            TriggerRequestDone(requestResult != 0 ? requestResult : 500);
        }
    } catch (const std::exception& e) {
        Display("! " + std::string(e.what()));
        nextStep = nullptr;
        doneSent = false;
        TriggerRequestDone(500);
    }
    --failing;
}

// ---- the control connection ---------------------------------------------------

void TFtpClient::Open() {
    auto& d = *d_;
    d.CheckReady();
    if (d.connected) throw FtpException("FTP component already connected");
    if (!d.highLevel) request_ = ftpOpenAsync;
    if (!d.highLevel) d.fct = FtpStep::Open;
    d.doneSent = false;
    d.rcvCount = 0;
    d.framer.reset();
    d.requestResult = 0;
    d.finalReceived = false;
    tlsFailure_.clear();
    lastCommand_ = FtpCommand::None; // the next reply is the welcome
    const TFtpState before = state_;
    d.ChangeState(ftpDnsLookup);
    try {
        d.control.DnsLookup(HostName);
    } catch (...) {
        // No lookup started (an empty name): the client stays usable.
        if (state_ == ftpDnsLookup) d.ChangeState(before);
        throw;
    }
}

void TFtpClient::Impl::ControlDnsLookupDone(std::uint16_t error) {
    if (error != 0) {
        TriggerRequestDone(error);
        return;
    }
    control.setAddrs(control.DnsResultList());
    control.setProto("tcp");
    control.setPort(q.Port);
    ChangeState(ftpWaitingBanner);
    protDone = false;
    sessionPool.clear();
    lastSession.reset();
    if (q.Tls == FtpTls::Implicit) control.StartTls(TlsOptions{q.HostName, q.TlsVerify, nullptr});
    try {
        control.Connect();
    } catch (const ESocketException&) {
        // Refused at once by the socket layer: the same as a failed connect.
        const int code = control.LastError() != 0 ? control.LastError() : WSAECONNREFUSED;
        ControlSessionConnected(static_cast<std::uint16_t>(code));
    }
}

void TFtpClient::Impl::ControlSessionConnected(std::uint16_t error) {
    if (error != 0) {
        q.lastReply_ = "500 " + WSocketErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
        q.statusCode_ = 500;
        if (isTlsError(error)) {
            q.lastReply_ = "534 TLS with " + q.HostName + ": " + control.TlsError();
            q.statusCode_ = 534;
            if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
            // A connection cut in the middle of the handshake may do better
            // on the next try; a certificate or protocol failure will not.
            if (!(control.Tls() && control.Tls()->cut())) q.tlsFailure_ = q.lastReply_;
            Display("! " + q.lastReply_);
        }
        nextStep = nullptr;
        TriggerRequestDone(error);
        CloseControl();
        ChangeState(ftpReady);
        return;
    }
    connected = true;
    int len = 0;
    serverAddrKnown = control.GetPeerSockAddr(serverAddr, len) == 0;
    if (control.TlsActive()) TlsAccepted(); // implicit TLS
}

void TFtpClient::Impl::ControlDataAvailable(std::uint16_t) {
    if (rcvCount >= rcvBuf.size()) {
        ReplyTooLong();
        return;
    }
    const int n = control.Receive(rcvBuf.data() + rcvCount, static_cast<int>(rcvBuf.size() - rcvCount));
    if (n == 0) {
        control.Close(); // the server closed: its end was read
        return;
    }
    if (n < 0) return;
    rcvCount += static_cast<std::size_t>(n);
    const auto alive = lifetime.watch();
    for (;;) {
        const char* begin = rcvBuf.data();
        const char* end = begin + rcvCount;
        const char* cr = begin;
        const char* found = nullptr;
        while ((cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<std::size_t>(end - cr))))) {
            if (cr + 1 < end && cr[1] == '\n') {
                found = cr;
                break;
            }
            ++cr;
        }
        if (!found) break;
        q.lastReply_.assign(begin, found);
        const std::size_t used = static_cast<std::size_t>(found - begin) + 2;
        std::memmove(rcvBuf.data(), rcvBuf.data() + used, rcvCount - used);
        rcvCount -= used;
        q.OnResponse(q);
        if (!alive) return;
        HandleLine();
        if (!alive) return;
    }
    if (rcvCount >= rcvBuf.size()) ReplyTooLong();
}

// A reply line that does not fit the reply buffer: the reply stream cannot
// be followed any more. The request fails with 500 and the control
// connection is closed (its close delivers the completion).
void TFtpClient::Impl::ReplyTooLong() {
    rcvCount = 0;
    q.lastReply_ = "500 Reply line too long";
    q.statusCode_ = 500;
    if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
    Display("! Reply line longer than " + std::to_string(ReplyBufferSize - 2) + " bytes");
    requestResult = 500;
    CloseControl();
}

void TFtpClient::Impl::HandleLine() {
    Display("< " + q.lastReply_);
    // The middle lines of a multi-line reply are only shown: taken for a
    // reply, they would end it early and every later reply would answer the
    // wrong command.
    if (framer.take(q.lastReply_) == ftp::ReplyFramer::Line::Inside) return;
    switch (q.state_) {
    case ftpWaitingBanner:
        HandleWelcome();
        break;
    case ftpWaitingResponse:
        if (!next) throw FtpException("Program error: FNext is nil");
        (this->*next)();
        break;
    default:
        break; // only shown
    }
}

void TFtpClient::Impl::HandleWelcome() {
    q.statusCode_ = ftp::ReplyCode(q.lastReply_);
    if (ftp::IsContinuation(q.lastReply_)) return;
    if (q.statusCode_ != 220) {
        if (q.errorMessage_.empty()) q.errorMessage_ = q.lastReply_;
        // A line without a code (0) is no welcome either: reported as 0 it
        // would read as success for a connection closed right here.
        requestResult = q.statusCode_ != 0 ? q.statusCode_ : 500;
        CloseControl(); // its close handler delivers the completion
        return;
    }
    if ((q.Tls == FtpTls::Explicit || q.Tls == FtpTls::Offered) && !control.TlsActive()) {
        Issue("AUTH TLS", {234}, &Impl::AuthReply);
        return;
    }
    WelcomeDone();
}

void TFtpClient::Impl::WelcomeDone() {
    ChangeState(ftpConnected);
    q.OnSessionConnected(q, 0);
    TriggerRequestDone(0);
}

// ---- TLS: AUTH TLS, PBSZ, PROT -----------------------------------------------------

void TFtpClient::Impl::AuthReply() {
    if (requestResult == 0) {
        control.OnTlsDone = [this](TWSocket*, std::uint16_t e) { Guard([&] { AuthTlsDone(e); }); };
        control.StartTls(TlsOptions{q.HostName, q.TlsVerify, nullptr});
        return;
    }
    if (q.Tls == FtpTls::Offered) {
        // No TLS here: the session goes on in plain.
        Display("! No TLS at " + q.HostName + ": going on in plain");
        q.errorMessage_.clear();
        requestResult = 0;
        WelcomeDone();
        return;
    }
    // A reply of any code (530 and 534 included) says only that this server
    // has no TLS; the log-in never goes out in clear.
    TlsFailed("No TLS offered by " + q.HostName + " (AUTH TLS: " + q.lastReply_ + ")");
}

void TFtpClient::Impl::TlsFailed(const std::string& reason) {
    q.lastReply_ = "534 " + reason;
    q.statusCode_ = 534;
    q.errorMessage_ = q.lastReply_;
    q.tlsFailure_ = q.lastReply_;
    Display("! " + q.lastReply_);
    requestResult = 534;
    if (control.State() != wsClosed) CloseControl(); // its close handler delivers the completion
}

bool TFtpClient::Impl::TlsAccepted() {
    if (q.TlsVerify || !control.Tls() || control.Tls()->verified()) return true;
    std::string refusal;
    const auto alive = lifetime.watch();
    q.OnTlsUnverified(q, refusal);
    if (!alive) return false;
    if (refusal.empty()) return true;
    TlsFailed("TLS with " + q.HostName + ": " + refusal);
    return false;
}

void TFtpClient::Impl::AuthTlsDone(std::uint16_t error) {
    control.OnTlsDone = nullptr;
    if (error != 0) {
        q.lastReply_ = "534 TLS with " + q.HostName + ": " + control.TlsError();
        q.statusCode_ = 534;
        q.errorMessage_ = q.lastReply_;
        if (!(control.Tls() && control.Tls()->cut())) q.tlsFailure_ = q.lastReply_;
        Display("! " + q.lastReply_);
        requestResult = 534; // the socket closes next, which ends the request
        return;
    }
    if (!TlsAccepted()) return;
    WelcomeDone();
}

bool TFtpClient::Impl::Protect(Handler resume) {
    if (protDone || !control.TlsActive()) return false;
    protResume = resume;
    if (!highLevel) {
        q.request_ = ftpPortAsync;
        fct = FtpStep::Port;
    }
    Issue("PBSZ 0", {200}, &Impl::PbszReply);
    return true;
}

void TFtpClient::Impl::PbszReply() {
    if (requestResult != 0) {
        TriggerRequestDone(requestResult);
        return;
    }
    Issue("PROT P", {200}, &Impl::ProtReply);
}

void TFtpClient::Impl::ProtReply() {
    if (requestResult != 0) {
        TriggerRequestDone(requestResult);
        return;
    }
    protDone = true;
    q.state_ = highLevel ? ftpInternalReady : ftpReady; // the data step goes on at once
    (this->*protResume)();
}

void TFtpClient::Impl::KeepSessions(TWSocket& from) {
    if (!from.Tls()) return;
    for (auto& s : from.Tls()->takeSessions())
        sessionPool.push_back(std::move(s));
}

TlsOptions TFtpClient::Impl::DataTls() {
    KeepSessions(control);
    if (!sessionPool.empty()) {
        lastSession = std::move(sessionPool.back());
        sessionPool.pop_back();
    } else if (!lastSession && control.Tls()) {
        lastSession = control.Tls()->session();
    }
    return TlsOptions{q.HostName, q.TlsVerify, lastSession};
}

bool TFtpClient::TlsUp() const {
    return d_->control.TlsActive();
}

bool TFtpClient::TlsVerified() const {
    return d_->control.Tls() && d_->control.Tls()->verified();
}

std::string TFtpClient::TlsFingerprint() const {
    return d_->control.Tls() ? d_->control.Tls()->fingerprint() : std::string();
}

void TFtpClient::Impl::ControlSessionClosed(std::uint16_t error) {
    // The server went away while a reply was still awaited (a transfer's
    // final reply included): that request failed, it did not succeed.
    const bool awaited = q.state_ == ftpWaitingBanner || q.state_ == ftpWaitingResponse;
    if (!ownClose && awaited && requestResult == 0 && !finalReceived) {
        requestResult = 426;
        if (q.errorMessage_.empty()) q.errorMessage_ = "426 Connection closed by the server";
    }
    // A transfer the server confirmed whose data is still arriving ends with
    // the data connection: its unread bytes belong to the file. One whose
    // data connection never came has no file.
    bool dataToCome = false;
    if (!ownClose && awaited && requestResult == 0 && finalReceived && !dataClosed && !doneSent) {
        dataToCome = DataStillToCome(true);
        if (!dataToCome) {
            requestResult = 426;
            if (q.errorMessage_.empty()) q.errorMessage_ = "426 No data connection before the server closed";
        }
    }
    rcvCount = 0;
    framer.reset();
    const auto alive = lifetime.watch();
    if (connected) {
        connected = false;
        if (q.state_ != ftpAbort) ChangeState(ftpStopped);
        q.OnSessionClosed(q, error);
        if (!alive) return;
    }
    if (dataToCome && q.state_ == ftpStopped && !doneSent && DataStillToCome(false)) {
        dataAfterClose = true;
        return;
    }
    if (q.state_ != ftpAbort) ChangeState(ftpInternalReady);
    TriggerRequestDone(requestResult);
}

bool TFtpClient::Impl::DataStillToCome(bool takeWaiting) {
    if (data.State() == wsConnected && data.OnSessionClosed) return true; // taken: its bytes arrive
    if (passiveData)
        return data.OnSessionConnected && (data.State() == wsConnecting || data.State() == wsConnected);
    // Active mode: the server's connection may wait at the data port, its
    // readiness not yet seen; it is taken now (one from elsewhere is refused).
    while (takeWaiting && data.State() == wsListening && data.OnSessionAvailable) {
        pollfd p{data.HSocket(), POLLIN, 0};
        if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) break;
        data.OnSessionAvailable(&data, 0);
    }
    return data.State() == wsConnected && data.OnSessionClosed;
}

// ---- abort ----------------------------------------------------------------------

void TFtpClient::AbortAsync() {
    auto& d = *d_;
    d.ChangeState(ftpAbort);
    d.control.CancelDnsLookup();
    if (d.control.State() != wsClosed) d.CloseControl();
    d.CloseDataSocket();
    d.CloseLocalFile();
    d.connected = false;
    // Nothing of a sequence survives an abort (with the control connection
    // already closed no completion came to end it).
    d.highLevel = false;
    d.nextStep = nullptr;
    d.steps = 0;
    d.ChangeState(ftpReady);
}

bool TFtpClient::Abort() {
    auto& d = *d_;
    try {
        AbortAsync();
        d.deadline = platform::GetTickCount() + static_cast<std::uint32_t>(Timeout) * 1000u;
        while (state_ != ftpReady) {
            if (Timeout > 0 && static_cast<std::int32_t>(platform::GetTickCount() - d.deadline) > 0) {
                AbortAsync();
                errorMessage_ = "426 Timeout";
                statusCode_ = 426;
                return false;
            }
            platform::pumpMessages(50);
        }
        return d.requestResult == 0;
    } catch (...) {
        return false;
    }
}

void TFtpClient::AbortXfer() {
    auto& d = *d_;
    d.ChangeState(ftpInternalReady);
    d.control.CancelDnsLookup();
    d.CloseLocalFile();
}

} // namespace net
