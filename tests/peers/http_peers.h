#pragma once
// HTTP peers for the tests, each a child process on a loopback address and a
// port it binds itself (port 0: a free one):
//  - HttpPeer: a scripted HTTP server (tests/peers/http_server.py) that
//    serves given paths with given bodies (optionally split into given write
//    sizes), relocations, exact raw replies, a path that never answers, 404
//    for everything else, and records every request head it receives;
//  - HttpFileServer: Python's http.server serving a directory;
//  - ChunkedHttpServer: Python's http.server answering with chunked bodies;
//  - TinyProxy: Debian's tinyproxy with a generated configuration that
//    allows 127.0.0.1 and has no upstream.
// All three are started and stopped by the tests themselves.

#include "peers/process.h"
#include "support/tempdir.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace testpeers {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

class HttpPeer {
public:
    HttpPeer() = default;
    ~HttpPeer() { stop(); }
    HttpPeer(const HttpPeer&) = delete;
    HttpPeer& operator=(const HttpPeer&) = delete;

    // Starts the server (port 0: it binds a free one) and waits until it listens.
    bool start(const std::string& host = "127.0.0.1", int port = 0);
    // The same over TLS with this certificate and key (url() then says https).
    bool startTls(const std::string& cert, const std::string& key, const std::string& host = "127.0.0.1",
                  int port = 0);
    void stop() { proc_.terminate(); }
    bool running() const { return proc_.running(); }

    const std::string& host() const { return host_; }
    int port() const { return port_; }
    std::string hostPort() const { return host_ + ":" + std::to_string(port_); }
    // "http://host:port" + path ("https://" over TLS)
    std::string url(const std::string& path) const {
        return (tls_ ? "https://" : "http://") + hostPort() + path;
    }

    // Routes take effect for the next request. Paths include the query, if any.
    // 200 OK with the body (Content-Length and Content-Type added).
    void serve(const std::string& path, const std::string& body, const std::vector<std::size_t>& splits = {},
               const std::string& contentType = "text/html");
    // 200 OK with the contents of a file (read at each request).
    void serveFile(const std::string& path, const std::string& file);
    // Any status, headers and body.
    void reply(const std::string& path, int status, const std::string& reason, const HttpHeaders& headers,
               const std::string& body, const std::vector<std::size_t>& splits = {});
    // A relocation: the status (302 by default) with "Location: " + location.
    void relocate(const std::string& path, const std::string& location, int status = 302);
    // Exactly these bytes (split into the given write sizes), then close.
    void raw(const std::string& path, const std::string& bytes, const std::vector<std::size_t>& splits = {});
    // The nth request of the path gets the nth of these exact replies (the
    // last one every later request), each followed by a close.
    void rawSequence(const std::string& path, const std::vector<std::string>& replies);
    // Exactly these bytes, then nothing more, the connection held open.
    void stall(const std::string& path, const std::string& bytes);
    // Sends head, then repeat without end until the client goes away.
    void endless(const std::string& path, const std::string& head, const std::string& repeat);
    // Like raw, but over TLS the connection ends without close_notify.
    void cut(const std::string& path, const std::string& bytes);
    // Reads the request and never answers, keeping the connection open.
    void hang(const std::string& path);
    // Forget a route (it answers 404 again).
    void remove(const std::string& path);

    // Every request head received so far (request line first, then the
    // header lines), in order of arrival.
    std::vector<std::vector<std::string>> requests() const;
    // The request lines alone.
    std::vector<std::string> requestLines() const;
    // Runs the event loop until at least n requests arrived (or maxMs passed).
    bool waitForRequests(std::size_t n, int maxMs = 5000) const;

private:
    bool launch(const std::string& host, int port, const std::vector<std::string>& tlsFiles);
    void writeRoutes();
    void setRoute(const std::string& path, const std::string& json);

    testsupport::TempDir dir_;
    ChildProcess proc_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
    bool tls_ = false;
    std::vector<std::pair<std::string, std::string>> routes_; // path -> JSON object
};

class HttpFileServer {
public:
    HttpFileServer() = default;
    ~HttpFileServer() { stop(); }
    HttpFileServer(const HttpFileServer&) = delete;
    HttpFileServer& operator=(const HttpFileServer&) = delete;

    bool start(const std::string& directory, const std::string& host = "127.0.0.1", int port = 0);
    void stop() { proc_.terminate(); }
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://" + host_ + ":" + std::to_string(port_) + path;
    }

private:
    ChildProcess proc_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
};

class TinyProxy {
public:
    TinyProxy() = default;
    ~TinyProxy() { stop(); }
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    bool start(const std::string& host = "127.0.0.1", int port = 0);
    void stop() { proc_.terminate(); }
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    std::string hostPort() const { return host_ + ":" + std::to_string(port_); }
    // tinyproxy's own log (its connections and the request lines it received).
    std::string log() const;

private:
    testsupport::TempDir dir_;
    ChildProcess proc_;
    std::string host_ = "127.0.0.1";
    int port_ = 0;
};

class ChunkedHttpServer {
public:
    ChunkedHttpServer() = default;
    ~ChunkedHttpServer() { proc_.terminate(); }
    ChunkedHttpServer(const ChunkedHttpServer&) = delete;
    ChunkedHttpServer& operator=(const ChunkedHttpServer&) = delete;

    // Serves the files of directory in chunks of chunk bytes on a port the
    // server binds itself (and reports).
    bool start(const std::string& directory, std::size_t chunk, const std::string& host = "127.0.0.1");
    std::string hostPort() const { return host_ + ":" + std::to_string(port_); }

private:
    ChildProcess proc_;
    std::string host_;
    int port_ = 0;
};

// JSON text of a string whose bytes are taken as Latin-1 characters.
std::string jsonLatin1(const std::string& bytes);

} // namespace testpeers
