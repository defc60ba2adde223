#pragma once
// THttpCli: an event-driven HTTP/1.0 client. One instance fetches one
// document at a time, directly or through a proxy, following relocations;
// the body arrives in blocks through OnDocData (each block followed in
// memory by a zero byte not counted in its length) and the end of the
// request is reported by OnRequestDone, always from the event loop.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>

#include "net/httpprot_chunked.h"
#include "net/wsocket.h"
#include "platform/listview.h"
#include "platform/signal.h"

namespace platform {
class MessageTarget;
}

namespace net {

enum THttpRequest {
    httpNONE = 0, // no request
    httpGET = 1,  // GET
    httpPOST = 2, // POST with the body from SendStream
    httpHEAD = 3, // HEAD
};

enum THttpState {
    httpReady = 0,         // idle; a request may start
    httpNotConnected = 1,  // request started, no connection yet
    httpDnsLookup = 2,     // looking up the host to connect to
    httpWaitingHeader = 3, // request sent, reading the response header
    httpWaitingBody = 4,   // header read, receiving the document
    httpAborting = 5,      // Abort under way
};

// Why a request ended without a usable reply, for callers that must tell a
// missing site from a missing document (both report status 404).
enum class HttpFailure {
    None,       // a reply came (its status says the rest)
    Lookup,     // the host name did not resolve
    Connect,    // no connection (refused, unreachable, the proxy refused the tunnel)
    Tls,        // TLS could not be set up, the certificate was refused, or the stream was cut
    Relocation, // too many relocations, or one refused (https to http, another scheme)
    Reply,      // a malformed reply (status line, header, length, chunks)
    Broken,     // the connection broke (reset) before the reply ended
    Aborted,    // Abort
};

class EHttpException : public std::runtime_error {
public:
    EHttpException(const std::string& msg, std::uint16_t code) : std::runtime_error(msg), ErrorCode(code) {}
    std::uint16_t ErrorCode;
};

// The URL splitter of the client: scheme, user, password, host, port, path
// (from the first "/", included). No defaults are applied.
struct HttpUrlParts {
    std::string proto, user, pass, host, port, path;
};
HttpUrlParts ParseHttpURL(const std::string& url);

// One line of a response header as the client reads it: a status line
// ("HTTP/1.0" or "HTTP/1.1", exact case, a blank, three digits, the reason
// from the 14th character), a field ("name: value"; the name in lower case,
// the value from the second character after the first ":"), or other text.
struct HttpHeaderLine {
    enum Kind { Status, Field, Other, Malformed } kind = Other; // Malformed: a bad status line
    std::int32_t status = 0;
    std::string reason; // of a status line
    std::string name;   // of a field
    std::string value;  // of a field
};
HttpHeaderLine ParseHttpHeaderLine(const std::string& line);

// A decimal number of at most maxDigits digits (18 at most) and nothing else
// (blanks around it allowed); false for anything malformed.
bool HttpStrictNumber(const std::string& text, std::size_t maxDigits, std::int64_t& out);

// A Content-Range value: "bytes first-last/total" or "bytes */total" (the
// unit in any case, total "*" when unknown). ok only when every number is
// well formed (at most 18 digits) and last is not below first; a "*" leaves
// its numbers at -1.
struct HttpContentRange {
    std::int64_t first = -1, last = -1, total = -1;
    bool ok = false;
};
HttpContentRange ParseHttpContentRange(const std::string& value);

class THttpCli;
using THttpNotify = platform::Signal<THttpCli* /*Sender*/>;
using TOnCommand = platform::Signal<THttpCli* /*Sender*/, const std::string& /*S*/>;
using TDocDataEvent = platform::Signal<THttpCli* /*Sender*/, const char* /*Buffer*/, std::int32_t /*Len*/>;
using THttpRequestDone =
    platform::Signal<THttpCli* /*Sender*/, THttpRequest /*RqType*/, std::uint16_t /*Error*/>;

class THttpCli {
public:
    THttpCli();
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // --- properties ------------------------------------------------------
    std::string URL;
    std::string Proxy;            // host, optionally ":port"; empty = direct
    std::string ProxyPort = "80"; // when Proxy names no port
    std::string Sender;           // "From: "
    std::string Agent;            // "User-Agent: "
    std::string Reference;        // "Referer: "
    std::string Username;         // with Password: "Authorization: Basic "
    std::string Password;
    bool NoCache = false;     // "Pragma: no-cache"
    double ModifiedSince = 0; // days since 30 Dec 1899; "If-Modified-Since: " when not 0
    std::string Cookie;       // "Cookie: "
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    platform::StringList RcvdHeader; // every non-empty response header line
    bool MultiThreaded = false;
    // Optional streams: every body block is also written to RcvdStream; a
    // POST reads its body from SendStream.
    std::ostream* RcvdStream = nullptr;
    std::istream* SendStream = nullptr;
    // Relocations followed within one request before it fails (status 404,
    // reason "Too many relocations").
    int MaxRelocations = 20;
    // Options of the file download road; the defaults are the search's.
    // The version of the request line ("1.0" or "1.1").
    std::string Version = "1.0";
    // Further request header lines, sent as given after the others.
    platform::StringList ExtraHeaders;
    // Only a reply of status 301, 302, 303, 307 or 308 relocates (otherwise
    // any reply with a Location), and a relative Location is resolved against
    // the current address.
    bool RedirectStatusOnly = false;
    // An error reply's header is read to its end (its fields are in
    // RcvdHeader) before the connection is closed; otherwise at its status line.
    bool ReadErrorHeader = false;
    // The body ends at its Content-Length: the connection is closed there and
    // nothing after it is handed on.
    bool BodyEndsAtLength = false;
    // The body is handed on in blocks as large as each socket read (up to
    // 64 KiB, still followed by a zero byte) instead of at most 2047 bytes.
    bool LargeBodyBlocks = false;
    // Bytes of one response header (its lines with their line ends) before
    // the request fails (status 404, reason "Header too long").
    static constexpr std::size_t MaxHeaderBytes = 65536;
    // The error code OnRequestDone reports for a request ended by Abort.
    static constexpr std::uint16_t AbortedError = 3;

    // --- results ---------------------------------------------------------
    THttpState State() const { return state_; }
    std::int32_t StatusCode() const { return statusCode_; }
    const std::string& ReasonPhrase() const { return reasonPhrase_; }
    std::int64_t ContentLength() const { return contentLength_; }
    const std::string& ContentType() const { return contentType_; }
    // The codings of the body ("Content-Encoding"), lower case and joined by
    // ", ", without "identity": empty when the body is the document as it is.
    const std::string& ContentEncoding() const { return contentEncoding_; }
    std::int64_t RcvdCount() const { return rcvdCount_; }
    std::int64_t SentCount() const { return sentCount_; }
    const std::string& DocName() const { return docName_; }
    const platform::StringList& AuthorizationRequest() const { return authRequest_; }
    THttpRequest RequestType() const { return requestType_; }
    int RelocationCount() const { return relocations_; }
    HttpFailure Failure() const { return failure_; }
    // The reply's body is chunked, and whether its last chunk came.
    bool ChunkedBody() const { return chunked_; }
    bool ChunksDone() const { return chunks_.done(); }
    // The address asked for now: URL, or where the relocations led (absolute).
    const std::string& CurrentUrl() const { return currentUrl_; }
    // The value of the reply's last header field of that name (any case),
    // without the blanks around it; empty when it has none.
    std::string HeaderValue(const std::string& name) const;
    // The reply's Content-Range (its last such field), parsed.
    HttpContentRange ContentRange() const;
    TWSocket& CtrlSocket() { return *socket_; }

    // --- operations ------------------------------------------------------
    void StartGet(); // raises EHttpException "HTTP component is busy" (1)
    void GetASync() { StartGet(); }
    void StartPost(); // "HTTP component has nothing to post" (2) without SendStream
    void StartHead();
    void StartRequest(THttpRequest rq);
    // Synchronous GET: starts it and runs the event loop until it is done.
    void Get();
    void Abort();

    // --- events (each may have several listeners; see platform/signal.h) ----
    THttpNotify OnTrace; // declared, never fired
    THttpNotify OnHeaderData;
    TOnCommand OnCommand;
    THttpNotify OnHeaderBegin;
    THttpNotify OnHeaderEnd;
    THttpNotify OnDocBegin;
    TDocDataEvent OnDocData;
    THttpNotify OnDocEnd;
    THttpNotify OnSendBegin;
    TDocDataEvent OnSendData;
    THttpNotify OnSendEnd;
    THttpNotify OnStateChange;
    THttpRequestDone OnRequestDone;

    // The date of an If-Modified-Since line, e.g. "Mon, 07 Dec 2026 10:00:00".
    static std::string RFC1123Date(double dateTime);

protected:
    virtual void SendCommand(const std::string& cmd);
    virtual void Login();
    virtual void CloseConnection();
    virtual void TriggerHeaderBegin();
    virtual void TriggerHeaderEnd();
    virtual void TriggerDocBegin();
    virtual void TriggerDocData(const char* data, std::int32_t len);
    virtual void TriggerDocEnd();
    virtual void TriggerSendBegin();
    virtual void TriggerSendData(const char* data, std::int32_t len);
    virtual void TriggerSendEnd();

private:
    enum class LineHandler { Header, Body };
    enum class ClosedHandler { Normal, Relocation };

    void SetState(THttpState s);
    void SocketDnsLookupDone(std::uint16_t error);
    void SocketSessionConnected(std::uint16_t error);
    void SocketDataAvailable();
    void SocketDataSent(std::uint16_t error);
    void SocketSessionClosed(std::uint16_t error);
    void LocationSessionClosed();
    void HandleLine(const std::string& line);
    void HeaderLine(const std::string& line);
    // Body bytes as received: de-chunked when the reply is chunked, then
    // handed on as one block.
    void BodyBytes(char* data, int len);
    // Receives the next body bytes and hands them on in blocks.
    void ReceiveBody();
    void BodyBlock(char* data, int len);
    void SendRequest(const std::string& method, const std::string& version);
    void SendBodyBlock();
    bool ChangeTarget(const std::string& location); // false: the request has failed
    void SendConnect();
    void TunnelData();
    void TunnelTlsDone(std::uint16_t error);
    void TlsFailed(std::uint16_t error);
    TlsOptions TlsFor() const;
    void FailRequest(const std::string& reason, HttpFailure kind = HttpFailure::Reply);
    std::string ResolveLocation(const std::string& location) const;
    // The first bytes of a response could begin "HTTP/" (any case).
    bool StartsLikeStatusLine() const;
    void WMHttpSetReady();
    void WMHttpRequestDone();
    void WMHttpRelocate();

    std::unique_ptr<TWSocket> socket_;
    std::unique_ptr<platform::MessageTarget> window_;
    THttpState state_ = httpReady;
    THttpRequest requestType_ = httpNONE;
    std::uint16_t requestDoneError_ = 0;
    std::string path_;       // request target
    std::string hostName_;   // connect host
    std::string port_;       // connect port
    std::string targetHost_; // for the "Host: " line
    // An https URL: TLS to the server; through the proxy inside a tunnel
    // ("CONNECT host:port HTTP/1.0") opened first.
    bool tls_ = false;
    bool tunnel_ = false;
    bool tunnelOpen_ = false;
    std::string tunnelTarget_; // host:port
    std::string tunnelReply_;  // the proxy's reply header so far
    bool connected_ = false;
    bool locationChange_ = false;
    int headerLineCount_ = 0;
    std::size_t headerBytes_ = 0; // of the response header being read
    int bodyLineCount_ = 0;
    bool allowedToSend_ = false;
    char receiveBuffer_[2048];
    int receiveLen_ = 0;
    LineHandler lineHandler_ = LineHandler::Header;
    ClosedHandler closedHandler_ = ClosedHandler::Normal;
    std::string sendBuffer_;
    std::int32_t statusCode_ = 0;
    std::string reasonPhrase_;
    std::int64_t contentLength_ = -1;
    bool chunked_ = false; // "Transfer-Encoding: ... chunked" in this reply
    // A transfer coding other than chunked in this reply: its body cannot be
    // framed or read, so the request fails once the header has ended.
    std::string otherTransferCoding_;
    std::string contentEncoding_;
    HttpChunkDecoder chunks_;
    std::string contentType_;
    std::int64_t rcvdCount_ = 0; // body bytes, counted in 64 bits: a page may be endless
    std::int64_t sentCount_ = 0;
    std::string docName_;
    platform::StringList authRequest_;
    int relocations_ = 0;
    HttpFailure failure_ = HttpFailure::None;
    std::string currentUrl_;
    bool failed_ = false; // the request ended by the client itself (bad reply)
    // The client closed the connection at an error status: the header lines
    // already received are still read, the body never is.
    bool closedAtStatus_ = false;
    // Watched across calls into listeners, which may destroy the client.
    platform::Lifetime lifetime_;
};

} // namespace net
