#include "peers/http_peers.h"

#include "platform/eventloop.h"

#include <QHostAddress>
#include <QTcpServer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testpeers {

namespace {

const char* const Python = "/usr/bin/python3";

std::string splitsJson(const std::vector<std::size_t>& splits) {
    std::string out = "[";
    for (std::size_t i = 0; i < splits.size(); ++i) {
        if (i) out += ",";
        out += std::to_string(splits[i]);
    }
    return out + "]";
}

// Reads one JSON string starting at s[i] == '"'; i ends after the closing quote.
std::string parseJsonString(const std::string& s, std::size_t& i) {
    std::string out;
    ++i;
    while (i < s.size() && s[i] != '"') {
        char c = s[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) break;
        c = s[i++];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'u': {
            const unsigned v = static_cast<unsigned>(std::stoul(s.substr(i, 4), nullptr, 16));
            i += 4;
            out += static_cast<char>(v < 256 ? v : '?');
            break;
        }
        default:
            out += c;
            break;
        }
    }
    ++i;
    return out;
}

} // namespace

std::string jsonLatin1(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// --- HttpPeer ------------------------------------------------------------------

bool HttpPeer::startTls(const std::string& cert, const std::string& key, const std::string& host, int port) {
    tls_ = true;
    return launch(host, port, {cert, key});
}

void HttpPeer::cut(const std::string& path, const std::string& bytes) {
    setRoute(path, "{\"kind\": \"raw\", \"cut\": true, \"bytes\": " + jsonLatin1(bytes) + "}");
}

bool HttpPeer::start(const std::string& host, int port) {
    return launch(host, port, {});
}

bool HttpPeer::launch(const std::string& host, int port, const std::vector<std::string>& tlsFiles) {
    host_ = host;
    writeRoutes();
    testsupport::writeFile(dir_.file("requests.log"), "");
    const std::string script = std::string(WAVETRAP_TEST_SOURCE_DIR) + "/peers/http_server.py";
    std::vector<std::string> args{script, host_, std::to_string(port), dir_.file("routes.json"),
                                  dir_.file("requests.log")};
    args.insert(args.end(), tlsFiles.begin(), tlsFiles.end());
    if (!proc_.start(Python, args)) return false;
    port_ = proc_.waitForReportedPort();
    return port_ != 0 && (port == 0 || port_ == port);
}

void HttpPeer::setRoute(const std::string& path, const std::string& json) {
    for (auto& r : routes_) {
        if (r.first == path) {
            r.second = json;
            writeRoutes();
            return;
        }
    }
    routes_.emplace_back(path, json);
    writeRoutes();
}

void HttpPeer::remove(const std::string& path) {
    std::erase_if(routes_, [&](const auto& r) { return r.first == path; });
    writeRoutes();
}

void HttpPeer::writeRoutes() {
    std::string json = "{";
    for (std::size_t i = 0; i < routes_.size(); ++i) {
        if (i) json += ",\n";
        json += jsonLatin1(routes_[i].first) + ": " + routes_[i].second;
    }
    json += "}\n";
    // Replaced in one step: the server reads the file at every request.
    const std::string tmp = dir_.file("routes.json.tmp");
    testsupport::writeFile(tmp, json);
    std::filesystem::rename(tmp, dir_.file("routes.json"));
}

void HttpPeer::serve(const std::string& path, const std::string& body, const std::vector<std::size_t>& splits,
                     const std::string& contentType) {
    reply(path, 200, "OK", {{"Content-Type", contentType}}, body, splits);
}

void HttpPeer::serveFile(const std::string& path, const std::string& file) {
    setRoute(path, "{\"kind\": \"reply\", \"status\": 200, \"reason\": \"OK\", \"file\": " +
                       jsonLatin1(file) + "}");
}

void HttpPeer::reply(const std::string& path, int status, const std::string& reason,
                     const HttpHeaders& headers, const std::string& body,
                     const std::vector<std::size_t>& splits) {
    std::string h = "[";
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (i) h += ",";
        h += "[" + jsonLatin1(headers[i].first) + "," + jsonLatin1(headers[i].second) + "]";
    }
    h += "]";
    setRoute(path, "{\"kind\": \"reply\", \"status\": " + std::to_string(status) +
                       ", \"reason\": " + jsonLatin1(reason) + ", \"headers\": " + h +
                       ", \"body\": " + jsonLatin1(body) + ", \"splits\": " + splitsJson(splits) + "}");
}

void HttpPeer::relocate(const std::string& path, const std::string& location, int status) {
    reply(path, status, status == 301 ? "Moved Permanently" : "Found", {{"Location", location}},
          "<html><body>Moved</body></html>");
}

void HttpPeer::raw(const std::string& path, const std::string& bytes,
                   const std::vector<std::size_t>& splits) {
    setRoute(path, "{\"kind\": \"raw\", \"bytes\": " + jsonLatin1(bytes) +
                       ", \"splits\": " + splitsJson(splits) + "}");
}

void HttpPeer::rawSequence(const std::string& path, const std::vector<std::string>& replies) {
    std::string list;
    for (const std::string& r : replies)
        list +=
            (list.empty() ? "" : ", ") + std::string("{\"kind\": \"raw\", \"bytes\": ") + jsonLatin1(r) + "}";
    setRoute(path, "{\"kind\": \"sequence\", \"replies\": [" + list + "]}");
}

void HttpPeer::stall(const std::string& path, const std::string& bytes) {
    setRoute(path, "{\"kind\": \"raw\", \"bytes\": " + jsonLatin1(bytes) + ", \"hold\": true}");
}

void HttpPeer::endless(const std::string& path, const std::string& head, const std::string& repeat) {
    setRoute(path, "{\"kind\": \"endless\", \"head\": " + jsonLatin1(head) +
                       ", \"repeat\": " + jsonLatin1(repeat) + "}");
}

void HttpPeer::hang(const std::string& path) {
    setRoute(path, "{\"kind\": \"hang\"}");
}

std::vector<std::vector<std::string>> HttpPeer::requests() const {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(testsupport::readFile(dir_.file("requests.log")));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line.back() != ']') continue; // a line still being written
        std::vector<std::string> head;
        for (std::size_t i = 0; i < line.size();) {
            if (line[i] == '"') {
                head.push_back(parseJsonString(line, i));
            } else {
                ++i;
            }
        }
        out.push_back(std::move(head));
    }
    return out;
}

std::vector<std::string> HttpPeer::requestLines() const {
    std::vector<std::string> out;
    for (const auto& r : requests())
        out.push_back(r.empty() ? "" : r.front());
    return out;
}

bool HttpPeer::waitForRequests(std::size_t n, int maxMs) const {
    return platform::runUntil([&] { return requests().size() >= n; }, maxMs);
}

// --- HttpFileServer ------------------------------------------------------------

bool HttpFileServer::start(const std::string& directory, const std::string& host, int port) {
    host_ = host;
    if (!proc_.start(Python,
                     {"-m", "http.server", "--bind", host_, "--directory", directory, std::to_string(port)}))
        return false;
    port_ = proc_.waitForListener(host_, port);
    return port_ != 0;
}

// --- ChunkedHttpServer ------------------------------------------------------------

bool ChunkedHttpServer::start(const std::string& directory, std::size_t chunk, const std::string& host) {
    host_ = host;
    const std::string script = std::string(WAVETRAP_TEST_SOURCE_DIR) + "/peers/http_chunked_server.py";
    if (!proc_.start(Python, {script, host_, directory, std::to_string(chunk)})) return false;
    // The first line of its output is the port it bound.
    if (!platform::runUntil(
            [this] { return proc_.output().find('\n') != std::string::npos || !proc_.running(); }, 10000))
        return false;
    port_ = std::atoi(proc_.output().c_str());
    return port_ > 0 && proc_.running();
}

// --- TinyProxy -------------------------------------------------------------------

namespace {

// A port nobody was listening on a moment ago. Only a candidate: another
// process may bind it before the server does.
int candidatePort(const std::string& host) {
    QTcpServer server;
    if (!server.listen(QHostAddress(QString::fromStdString(host)), 0)) return 0;
    return server.serverPort();
}

} // namespace

bool TinyProxy::start(const std::string& host, int port) {
    host_ = host;
    // tinyproxy takes no port 0. It exits when its port is taken, and a
    // server counts as started only once tinyproxy itself owns the listening
    // socket, so a port taken in between costs one more try with another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = port ? port : candidatePort(host);
        if (port_ <= 0) return false;
        const std::string conf = "Port " + std::to_string(port_) + "\nListen " + host_ +
                                 "\nTimeout 60\nAllow 127.0.0.1\nMaxClients 64\nLogLevel Info\nLogFile \"" +
                                 dir_.file("tinyproxy.log") + "\"\n";
        testsupport::writeFile(dir_.file("tinyproxy.conf"), conf);
        if (!proc_.start("tinyproxy", {"-d", "-c", dir_.file("tinyproxy.conf")})) return false;
        if (proc_.waitForListener(host_, port_) != 0) return true;
        proc_.kill();
        if (port) return false;
    }
    return false;
}

std::string TinyProxy::log() const {
    std::ifstream in(dir_.file("tinyproxy.log"), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace testpeers
