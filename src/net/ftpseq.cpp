// TFtpClient's requests: the sequences and their step selection, and the
// single commands (each one line sent and one reply evaluated).

#include "net/ftpcli.h"

#include "net/ftpcli_impl.h"

namespace net {

namespace {

std::uint32_t bit(FtpStep s) {
    return 1u << static_cast<unsigned>(s);
}

} // namespace

// ---- sequences --------------------------------------------------------------------

void TFtpClient::Impl::HighLevelAsync(TFtpRequest rq, std::initializer_list<FtpStep> stepList) {
    std::uint32_t set = 0;
    for (FtpStep s : stepList)
        set |= bit(s);
    if ((set & bit(FtpStep::Open)) && connected) throw FtpException("FTP component already connected");
    CheckReady();
    // Without a control connection a sequence that does not open one does
    // nothing at all, like a single command (it would wait for ever).
    if (!(set & bit(FtpStep::Open)) && !q.Connected()) return;
    savedReply = q.lastReply_;
    savedCode = -1;
    q.request_ = rq;
    requestResult = 0;
    finalResult = 0;
    steps = set;
    seqSteps = set;
    highLevel = true;
    fct = FtpStep::None;
    q.lastReply_.clear();
    q.errorMessage_.clear();
    nextStep = &Impl::NextSequenceStep;
    try {
        NextSequenceStep();
    } catch (...) {
        // The first step was refused: the sequence never started.
        highLevel = false;
        nextStep = nullptr;
        steps = 0;
        ChangeState(ftpReady);
        throw;
    }
}

void TFtpClient::Impl::NextSequenceStep() {
    if (q.state_ == ftpAbort) {
        steps = 0;
        finalResult = 426;
        q.errorMessage_ = "426 Operation aborted.";
    } else if (fct != FtpStep::None && requestResult != 0 && PassiveFallback()) {
        // The data steps run again, in passive mode.
    } else if (fct != FtpStep::None && requestResult != 0) {
        finalResult = requestResult;
        const bool keepQuit = (steps & bit(FtpStep::Quit)) && fct != FtpStep::Quit;
        steps = keepQuit ? bit(FtpStep::Quit) : 0;
    }
    const FtpStep prev = fct;
    const int prevCode = q.statusCode_;
    for (unsigned i = 0; i < static_cast<unsigned>(FtpStep::None); ++i) {
        const auto s = static_cast<FtpStep>(i);
        if (!(steps & bit(s))) continue;
        steps &= ~bit(s);
        if (s == FtpStep::Pass && prev == FtpStep::User && prevCode != 331) continue;
        if (s == FtpStep::Cwd && q.HostDirName.empty()) continue;
        if (s == FtpStep::Quit) {
            // A lost control connection: QUIT could never be answered.
            if (!q.Connected()) continue;
            savedReply = q.lastReply_;
            savedCode = q.statusCode_;
        }
        if (s != FtpStep::Open && !q.Connected()) {
            // The control connection is gone: no later step can be answered.
            if (finalResult == 0) finalResult = 426;
            if (q.errorMessage_.empty()) q.errorMessage_ = "426 Connection closed";
            steps = 0;
            break;
        }
        if (s == FtpStep::Retr && !(prev == FtpStep::Rest && resumePos >= 0 && prevCode == 350))
            resumePos = 0;
        fct = s;
        StartStep(s);
        return;
    }
    nextStep = nullptr;
    doneSent = false;
    TriggerRequestDone(finalResult);
}

// PORT refused (5xx) or a data connection the server could not open (425):
// servers behind NAT or that refuse PORT can still be used in passive mode.
bool TFtpClient::Impl::PassiveFallback() {
    const bool refused = (fct == FtpStep::Port && requestResult >= 500 && requestResult < 600) ||
                         ((fct == FtpStep::Retr || fct == FtpStep::Stor || fct == FtpStep::Appe ||
                           fct == FtpStep::List || fct == FtpStep::Nlst) &&
                          requestResult == 425);
    if (q.Passive || !refused || !q.Connected() || !(seqSteps & bit(FtpStep::Port))) return false;
    q.Passive = true;
    Display("! Data connection refused: passive mode");
    constexpr FtpStep dataSteps[] = {FtpStep::Port, FtpStep::Rest, FtpStep::Retr, FtpStep::Stor,
                                     FtpStep::Appe, FtpStep::List, FtpStep::Nlst};
    for (FtpStep s : dataSteps)
        if (seqSteps & bit(s)) steps |= bit(s);
    requestResult = 0;
    q.errorMessage_.clear();
    fct = FtpStep::None;
    return true;
}

void TFtpClient::Impl::StartStep(FtpStep s) {
    switch (s) {
    case FtpStep::Open:
        q.Open();
        break;
    case FtpStep::User:
        q.User();
        break;
    case FtpStep::Pass:
        q.Pass();
        break;
    case FtpStep::Cwd:
        q.Cwd();
        break;
    case FtpStep::Cdup:
        q.CDup();
        break;
    case FtpStep::Type:
        q.TypeSet();
        break;
    case FtpStep::Port:
        PortAsync();
        break;
    case FtpStep::Rest:
        RestAsync();
        break;
    case FtpStep::Retr:
        TransferAsync("RETR", ftpGetAsync);
        break;
    case FtpStep::Stor:
        SendAsync("STOR", ftpPutAsync);
        break;
    case FtpStep::Appe:
        SendAsync("APPE", ftpAppendAsync);
        break;
    case FtpStep::List:
        TransferAsync("LIST", ftpDirAsync);
        break;
    case FtpStep::Nlst:
        TransferAsync("NLST", ftpLsAsync);
        break;
    case FtpStep::Syst:
        q.Syst();
        break;
    case FtpStep::Mkd:
        q.Mkd();
        break;
    case FtpStep::Rmd:
        q.Rmd();
        break;
    case FtpStep::RenFrom:
        q.RenFrom();
        break;
    case FtpStep::RenTo:
        q.RenTo();
        break;
    case FtpStep::Size:
        q.Size();
        break;
    case FtpStep::Dele:
        q.Dele();
        break;
    case FtpStep::Pwd:
        q.Pwd();
        break;
    case FtpStep::Quote:
        q.Quote();
        break;
    case FtpStep::Quit:
        q.Quit();
        break;
    case FtpStep::None:
        break;
    }
}

// ---- simple commands ------------------------------------------------------------

void TFtpClient::User() {
    if (UserName.empty()) throw FtpException("UserName emtpy");
    d_->ExecAsync(FtpStep::User, ftpUserAsync, "USER " + UserName, {331, 230});
}

void TFtpClient::Pass() {
    d_->ExecAsync(FtpStep::Pass, ftpPassAsync, "PASS " + PassWord, {230});
}

void TFtpClient::Size() {
    d_->ExecAsync(FtpStep::Size, ftpSizeAsync, "SIZE " + HostFileName, {213});
}

void TFtpClient::TypeSet() {
    d_->ExecAsync(FtpStep::Type, ftpTypeSetAsync, std::string("TYPE ") + (Binary ? "I" : "A"), {200});
}

void TFtpClient::Cwd() {
    if (HostDirName.empty()) throw FtpException("HostDirName emtpy");
    d_->ExecAsync(FtpStep::Cwd, ftpCwdAsync, "CWD " + HostDirName, {250, 257});
}

void TFtpClient::Quit() {
    d_->ExecAsync(FtpStep::Quit, ftpQuitAsync, "QUIT", {221}, &Impl::DoneQuit);
}

void TFtpClient::Syst() {
    d_->ExecAsync(FtpStep::Syst, ftpSystAsync, "SYST", {215});
}

void TFtpClient::Mkd() {
    d_->ExecAsync(FtpStep::Mkd, ftpMkdAsync, "MKD " + HostFileName, {257});
}

void TFtpClient::Rmd() {
    d_->ExecAsync(FtpStep::Rmd, ftpRmdAsync, "RMD " + HostFileName, {250, 257});
}

void TFtpClient::Dele() {
    d_->ExecAsync(FtpStep::Dele, ftpDeleAsync, "DELE " + HostFileName, {250, 257});
}

void TFtpClient::Pwd() {
    d_->ExecAsync(FtpStep::Pwd, ftpPwdAsync, "PWD", {250, 257});
}

void TFtpClient::CDup() {
    d_->ExecAsync(FtpStep::Cdup, ftpPwdAsync, "CDUP", {250});
}

void TFtpClient::RenFrom() {
    d_->ExecAsync(FtpStep::RenFrom, ftpRenFromAsync, "RNFR " + HostFileName, {350});
}

void TFtpClient::RenTo() {
    d_->ExecAsync(FtpStep::RenTo, ftpRenToAsync, "RNTO " + LocalFileName, {250, 257});
}

void TFtpClient::Quote() {
    d_->ExecAsync(FtpStep::Quote, ftpQuoteAsync, LocalFileName, {});
}

// ---- single data steps (outside a sequence) ----------------------------------

void TFtpClient::PortCmd() {
    d_->PortAsync();
}

void TFtpClient::Rest() {
    d_->RestAsync();
}

void TFtpClient::Retr() {
    d_->TransferAsync("RETR", ftpGetAsync);
}

void TFtpClient::Stor() {
    d_->SendAsync("STOR", ftpPutAsync);
}

void TFtpClient::Appe() {
    d_->SendAsync("APPE", ftpAppendAsync);
}

void TFtpClient::ListCmd() {
    d_->TransferAsync("LIST", ftpDirAsync);
}

void TFtpClient::NlstCmd() {
    d_->TransferAsync("NLST", ftpLsAsync);
}

// ---- sequences ------------------------------------------------------------------

using S = FtpStep;

void TFtpClient::Get() {
    d_->HighLevelAsync(ftpGetAsync, {S::Port, S::Retr});
}
void TFtpClient::RestGet() {
    d_->HighLevelAsync(ftpRestGetAsync, {S::Port, S::Rest, S::Retr});
}
void TFtpClient::Connect() {
    d_->HighLevelAsync(ftpConnectAsync, {S::Open, S::User, S::Pass});
}
void TFtpClient::Receive() {
    d_->HighLevelAsync(ftpReceiveAsync,
                       {S::Open, S::User, S::Pass, S::Cwd, S::Type, S::Port, S::Retr, S::Quit});
}
void TFtpClient::Dir() {
    d_->HighLevelAsync(ftpDirAsync, {S::Port, S::List});
}
void TFtpClient::Ls() {
    d_->HighLevelAsync(ftpLsAsync, {S::Port, S::Nlst});
}
void TFtpClient::Directory() {
    d_->HighLevelAsync(ftpDirectoryAsync, {S::Open, S::User, S::Pass, S::Cwd, S::Port, S::List, S::Quit});
}
void TFtpClient::List() {
    d_->HighLevelAsync(ftpListAsync, {S::Open, S::User, S::Pass, S::Cwd, S::Port, S::Nlst, S::Quit});
}
void TFtpClient::System() {
    d_->HighLevelAsync(ftpSystemAsync, {S::Open, S::User, S::Pass, S::Syst, S::Quit});
}
void TFtpClient::FileSize() {
    d_->HighLevelAsync(ftpSizeAsync, {S::Open, S::User, S::Pass, S::Size, S::Quit});
}
void TFtpClient::Put() {
    d_->HighLevelAsync(ftpPutAsync, {S::Port, S::Stor});
}
void TFtpClient::Append() {
    d_->HighLevelAsync(ftpAppendAsync, {S::Port, S::Appe});
}
void TFtpClient::Rename() {
    d_->HighLevelAsync(ftpRenameAsync, {S::Open, S::User, S::Pass, S::RenFrom, S::RenTo, S::Quit});
}
void TFtpClient::Ren() {
    d_->HighLevelAsync(ftpRenAsync, {S::RenFrom, S::RenTo});
}
void TFtpClient::Delete() {
    d_->HighLevelAsync(ftpDeleteAsync, {S::Open, S::User, S::Pass, S::Dele, S::Quit});
}
void TFtpClient::Mkdir() {
    d_->HighLevelAsync(ftpMkdirAsync, {S::Open, S::User, S::Pass, S::Mkd, S::Quit});
}
void TFtpClient::Rmdir() {
    d_->HighLevelAsync(ftpRmdirAsync, {S::Open, S::User, S::Pass, S::Rmd, S::Quit});
}
void TFtpClient::DoQuote() {
    d_->HighLevelAsync(ftpDoQuoteAsync, {S::Open, S::User, S::Pass, S::Quote, S::Quit});
}
void TFtpClient::Transmit() {
    d_->HighLevelAsync(ftpTransmitAsync,
                       {S::Open, S::User, S::Pass, S::Cwd, S::Type, S::Port, S::Stor, S::Quit});
}
void TFtpClient::AppendFile() {
    d_->HighLevelAsync(ftpTransmitAsync,
                       {S::Open, S::User, S::Pass, S::Cwd, S::Type, S::Port, S::Appe, S::Quit});
}
void TFtpClient::RestartGet() {
    d_->HighLevelAsync(ftpRestartGetAsync,
                       {S::Open, S::User, S::Pass, S::Cwd, S::Type, S::Port, S::Rest, S::Retr, S::Quit});
}

} // namespace net
