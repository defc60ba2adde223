#pragma once
// TFtpClient: an event-driven FTP client on two asynchronous sockets, the
// control connection and the data connection. Every request returns at once;
// its outcome arrives later through OnRequestDone, posted to the event loop,
// so it never runs inside the call that started the request.

#include "net/ftpreply.h"
#include "platform/signal.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace net {

class TWSocket;

// TLS of an FTP session. Off: plain FTP. Explicit: "AUTH TLS" after the
// welcome; a server that refuses it fails the request (534) and no USER or
// PASS ever leaves in clear. Implicit: TLS from the first byte. Offered:
// "AUTH TLS" is tried, a refusal goes on in plain. Once the control
// connection runs TLS, "PBSZ 0" and "PROT P" precede the first transfer and
// every data connection (passive and active) runs TLS too, resuming the
// control connection's TLS session.
enum class FtpTls : std::uint8_t { Off, Explicit, Implicit, Offered };

// Misuse of the client (a request in the wrong state, a missing name).
class FtpException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The request a completion belongs to. A request inside a sequence keeps the
// sequence's number (the STOR and APPE steps excepted).
enum TFtpRequest : std::uint8_t {
    ftpNone = 0,
    ftpOpenAsync = 1,        // Open
    ftpUserAsync = 2,        // User
    ftpPassAsync = 3,        // Pass
    ftpCwdAsync = 4,         // CWD
    ftpConnectAsync = 5,     // Open, USER, PASS
    ftpReceiveAsync = 6,     // Open, USER, PASS, CWD, TYPE, PORT, RETR, QUIT
    ftpDirAsync = 7,         // LIST; also PORT, LIST
    ftpLsAsync = 8,          // NLST; also PORT, NLST
    ftpPortAsync = 9,        // PORT
    ftpGetAsync = 10,        // RETR; also Get (PORT, RETR)
    ftpDirectoryAsync = 11,  // Open, USER, PASS, CWD, PORT, LIST, QUIT
    ftpListAsync = 12,       // Open, USER, PASS, CWD, PORT, NLST, QUIT
    ftpSystemAsync = 13,     // Open, USER, PASS, SYST, QUIT
    ftpSystAsync = 14,       // SYST
    ftpQuitAsync = 15,       // QUIT
    ftpSizeAsync = 16,       // SIZE; also Open, USER, PASS, SIZE, QUIT
    ftpPutAsync = 17,        // STOR; also PORT, STOR
    ftpAppendAsync = 18,     // APPE; also PORT, APPE
    ftpMkdAsync = 21,        // MKD
    ftpRmdAsync = 22,        // RMD
    ftpRenameAsync = 23,     // Open, USER, PASS, RNFR, RNTO, QUIT
    ftpDeleAsync = 24,       // DELE
    ftpRenAsync = 25,        // RNFR, RNTO
    ftpRenToAsync = 26,      // RNTO
    ftpRenFromAsync = 27,    // RNFR
    ftpDeleteAsync = 28,     // Open, USER, PASS, DELE, QUIT
    ftpMkdirAsync = 29,      // Open, USER, PASS, MKD, QUIT
    ftpRmdirAsync = 30,      // Open, USER, PASS, RMD, QUIT
    ftpPwdAsync = 31,        // PWD, CDUP
    ftpQuoteAsync = 32,      // raw command (the text of LocalFileName)
    ftpDoQuoteAsync = 34,    // Open, USER, PASS, raw command, QUIT
    ftpTransmitAsync = 35,   // Open, USER, PASS, CWD, TYPE, PORT, STOR (or APPE), QUIT
    ftpTypeSetAsync = 36,    // TYPE
    ftpRestAsync = 37,       // REST
    ftpRestGetAsync = 38,    // RestGet (PORT, REST, RETR)
    ftpRestartGetAsync = 39, // Open, USER, PASS, CWD, TYPE, PORT, REST, RETR, QUIT
};

// The client's state. A request may start only in ftpReady or ftpInternalReady.
enum TFtpState : std::uint8_t {
    ftpStopped = 0,         // the control connection was closed
    ftpReady = 1,           // ready (initial value)
    ftpInternalReady = 2,   // ready between the steps of a sequence, or after the control connection closed
    ftpDnsLookup = 3,       // looking up the host name
    ftpConnected = 4,       // the welcome reply was just accepted (passes at once to 1 or 2)
    ftpAbort = 5,           // aborting
    ftpWaitingBanner = 7,   // connecting and awaiting the welcome reply
    ftpWaitingResponse = 8, // awaiting the reply to a command
};

// The steps of a sequence, in the fixed order in which they are taken.
enum class FtpStep : std::uint8_t {
    Open,
    User,
    Pass,
    Cwd,
    Cdup,
    Type,
    Port,
    Rest,
    Retr,
    Stor,
    Appe,
    List,
    Nlst,
    Syst,
    Mkd,
    Rmd,
    RenFrom,
    RenTo,
    Size,
    Dele,
    Pwd,
    Quote,
    Quit,
    None, // no step (outside a sequence, or before the first step)
};

// Received file data goes from the data connection to the local file with
// splice(2) where the kernel allows it, without passing through the program
// (not with DisplayFlag, which shows the bytes). Off: always read and write.
void setSpliceReceive(bool on);
// The bytes received that way since start.
std::int64_t splicedBytes();

class TFtpClient {
public:
    TFtpClient();
    ~TFtpClient();
    TFtpClient(const TFtpClient&) = delete;
    TFtpClient& operator=(const TFtpClient&) = delete;

    // ---- Properties --------------------------------------------------------
    std::string HostName;      // server name or dotted address
    std::string Port = "ftp";  // control port, number or service name
    std::string UserName;      // login
    std::string PassWord;      // login
    std::string HostDirName;   // remote directory for CWD
    std::string HostFileName;  // remote file for SIZE, RETR and the others
    std::string LocalFileName; // local file written by RETR (read by STOR/APPE)
    // The folder LocalFileName is written in (empty: the current directory).
    // The name itself stays a plain name; the folder is the program's own.
    std::string LocalDirectory;
    bool DisplayFlag = false;  // also show received data lines through OnDisplay
    bool Binary = true;        // type "I" when true, "A" when false
    std::int32_t Timeout = 15; // seconds; limit of the synchronous Abort (0: no limit)
    bool MultiThreaded = false;
    std::int32_t Tag = 0; // free for the owner (the download slot number)
    // Passive mode: the data connection is made by the client (EPSV, else
    // PASV) instead of announced with PORT. A transfer whose PORT is refused
    // (5xx) or whose data connection the server cannot open (425) is tried
    // again in passive mode at once, and Passive stays set; so does it when
    // the server never connects to the announced port within Timeout seconds
    // (the control connection is then closed and the request fails with 425).
    bool Passive = false;
    // Largest size a received file may reach, the resume position counted
    // (0: no limit). The bytes up to it are kept; a byte past it closes the
    // data connection at once and fails the request with 426 ("Received
    // more than N bytes"; Overran() answers true).
    std::int64_t MaxFileSize = 0;
    FtpTls Tls = FtpTls::Off;
    // false: a certificate that does not verify is still taken, unless a
    // listener of OnTlsUnverified refuses it.
    bool TlsVerify = true;

    // ---- Events (each may have several listeners; see platform/signal.h) ----
    platform::Signal<TFtpClient& /*Sender*/, std::string& /*Msg*/> OnDisplay;
    platform::Signal<TFtpClient& /*Sender*/, std::string& /*Cmd*/> OnCommand; // may rewrite a command
    platform::Signal<TFtpClient& /*Sender*/> OnResponse; // after each complete reply line
    platform::Signal<TFtpClient& /*Sender*/, std::int64_t /*Count*/, bool& /*Abort*/> OnProgress;
    platform::Signal<TFtpClient& /*Sender*/, std::uint16_t /*Error*/> OnSessionConnected;
    platform::Signal<TFtpClient& /*Sender*/, std::uint16_t /*Error*/> OnSessionClosed;
    platform::Signal<TFtpClient& /*Sender*/, TFtpRequest /*RqType*/, std::uint16_t /*Error*/> OnRequestDone;
    platform::Signal<TFtpClient& /*Sender*/> OnStateChange;
    // The control connection's TLS is up without verifying (TlsVerify false):
    // a listener that sets Refusal (the reason) ends the session before any
    // log-in; Open then fails with 534 and TlsFailure names host and reason.
    platform::Signal<TFtpClient& /*Sender*/, std::string& /*Refusal*/> OnTlsUnverified;

    // ---- Read-only values --------------------------------------------------
    TFtpState State() const { return state_; }
    std::int32_t StatusCode() const { return statusCode_; }           // code of the last reply line
    const std::string& LastReply() const { return lastReply_; }       // last reply line without CR LF
    const std::string& ErrorMessage() const { return errorMessage_; } // first failing reply line
    std::int64_t RemoteSize() const { return remoteSize_; }           // result of SIZE
    std::int64_t ByteCount() const { return byteCount_; }             // bytes of the current transfer
    const std::string& DirResult() const { return dirResult_; }       // quoted name of CWD/MKD/PWD/CDUP
    TFtpRequest RequestType() const { return request_; }
    // The command the client sent last on this connection (what a reply answers).
    FtpCommand LastCommand() const { return lastCommand_; }
    // The last transfer received more than MaxFileSize bytes.
    bool Overran() const { return overran_; }
    // Why the last transfer's local file failed ("No space left on device",
    // "not a regular file"); empty when it did not.
    const std::string& LocalError() const { return localError_; }
    // Whether the control connection is up (its socket is not closed).
    bool Connected() const;
    // Active mode: the transfer command went out and the server has not yet
    // connected to the announced port (what the data time-out waits for).
    bool AwaitingDataConnection() const;
    // The control connection runs TLS; its certificate verified; the SHA-256
    // fingerprint of that certificate.
    bool TlsUp() const;
    bool TlsVerified() const;
    std::string TlsFingerprint() const;
    // Why the last Open could not set up the TLS it needed ("534 TLS with
    // host: untrusted issuer ...", "534 No TLS offered by host ..."); empty
    // when it did or needed none. Trying again would not help.
    const std::string& TlsFailure() const { return tlsFailure_; }

    // Sets the state from outside (the download scheduler's time-out does);
    // fires OnStateChange like every change.
    void SetState(TFtpState st) { ChangeState(st); }

    // ---- Requests used by the download engine ------------------------------
    void Open();    // look up HostName, connect to Port, read the welcome (220)
    void User();    // "USER " + UserName (331, 230)
    void Pass();    // "PASS " + PassWord (230)
    void Size();    // "SIZE " + HostFileName (213)
    void TypeSet(); // "TYPE I" or "TYPE A" (200)
    void Get();     // sequence PORT, RETR
    void RestGet(); // sequence PORT, REST, RETR: resumes from the local file's size
    // Closes both connections at once.
    void AbortAsync();
    // Synchronous form: AbortAsync, then pumps the event loop until the client
    // is ready; false on time-out (ErrorMessage "426 Timeout") or when the
    // request result is not 0.
    bool Abort();
    // Ends a running transfer's local side: state 2, cancel a lookup, close the file.
    void AbortXfer();

    // ---- The other single commands ------------------------------------------
    void Cwd();     // "CWD " + HostDirName (250, 257)
    void Quit();    // "QUIT" (221), then the control connection is closed
    void Syst();    // "SYST" (215)
    void Mkd();     // "MKD " + HostFileName (257)
    void Rmd();     // "RMD " + HostFileName (250, 257)
    void Dele();    // "DELE " + HostFileName (250, 257)
    void Pwd();     // "PWD" (250, 257)
    void CDup();    // "CDUP" (250)
    void RenFrom(); // "RNFR " + HostFileName (350)
    void RenTo();   // "RNTO " + LocalFileName (250, 257)
    void Quote();   // the raw text of LocalFileName (any code below 500)
    void PortCmd(); // "PORT h1,h2,h3,h4,p1,p2" after listening for the data connection (200)
    void Rest();    // "REST " + the local file's size (any code below 500)
    void Retr();    // "RETR " + HostFileName into LocalFileName
    void Stor();    // "STOR " + HostFileName from LocalFileName
    void Appe();    // "APPE " + HostFileName from LocalFileName
    void ListCmd(); // "LIST" into LocalFileName
    void NlstCmd(); // "NLST" into LocalFileName

    // ---- The other sequences ------------------------------------------------
    void Connect();    // 5: Open, USER, PASS
    void Receive();    // 6: Open, USER, PASS, CWD, TYPE, PORT, RETR, QUIT
    void Dir();        // 7: PORT, LIST
    void Ls();         // 8: PORT, NLST
    void Directory();  // 11: Open, USER, PASS, CWD, PORT, LIST, QUIT
    void List();       // 12: Open, USER, PASS, CWD, PORT, NLST, QUIT
    void System();     // 13: Open, USER, PASS, SYST, QUIT
    void FileSize();   // 16: Open, USER, PASS, SIZE, QUIT
    void Put();        // 17: PORT, STOR
    void Append();     // 18: PORT, APPE
    void Rename();     // 23: Open, USER, PASS, RNFR, RNTO, QUIT
    void Ren();        // 25: RNFR, RNTO
    void Delete();     // 28: Open, USER, PASS, DELE, QUIT
    void Mkdir();      // 29: Open, USER, PASS, MKD, QUIT
    void Rmdir();      // 30: Open, USER, PASS, RMD, QUIT
    void DoQuote();    // 34: Open, USER, PASS, raw command, QUIT
    void Transmit();   // 35: Open, USER, PASS, CWD, TYPE, PORT, STOR, QUIT
    void AppendFile(); // 35: Open, USER, PASS, CWD, TYPE, PORT, APPE, QUIT
    void RestartGet(); // 39: Open, USER, PASS, CWD, TYPE, PORT, REST, RETR, QUIT

    // Size of the reply buffer: a reply line must fit in it with its CR LF.
    static constexpr std::size_t ReplyBufferSize = 4096;

private:
    struct Impl;
    friend struct Impl;

    void ChangeState(TFtpState st);

    TFtpState state_ = ftpReady;
    std::int32_t statusCode_ = 0;
    std::string lastReply_;
    std::string errorMessage_;
    std::int64_t remoteSize_ = 0;
    std::int64_t byteCount_ = 0;
    std::string dirResult_;
    TFtpRequest request_ = ftpNone;
    FtpCommand lastCommand_ = FtpCommand::None;
    bool overran_ = false;
    std::string localError_;
    std::string tlsFailure_;
    std::unique_ptr<Impl> d_;
};

} // namespace net
