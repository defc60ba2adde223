#include "peers/dialogue_server.h"

#include <QHostAddress>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <sys/socket.h>

namespace testpeers {

namespace {

std::string unescape(const std::string& s, int line) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x':
            if (i + 2 >= s.size())
                throw std::runtime_error("dialogue line " + std::to_string(line) + ": bad \\x escape");
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default:
            throw std::runtime_error("dialogue line " + std::to_string(line) + ": unknown escape");
        }
    }
    return out;
}

bool takePrefix(const std::string& line, const std::string& prefix, std::string& rest) {
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    rest = line.substr(prefix.size());
    // One blank separates the directive from its text; the rest is kept.
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    return true;
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

constexpr int PauseMs = 30; // between the packets of a SPLIT

} // namespace

std::string fillBytes(std::int64_t offset, std::int64_t count) {
    std::string out(static_cast<std::size_t>(count), '\0');
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t i = offset + k;
        out[static_cast<std::size_t>(k)] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return out;
}

std::string dialoguePath(const std::string& name) {
    return std::string(WAVETRAP_TEST_SOURCE_DIR) + "/net/dialogues/" + name;
}

Dialogue Dialogue::fromText(const std::string& text) {
    Dialogue d;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string rest;
        const std::string word = trimRight(raw);
        auto add = [&](DialogueStep::Kind kind, std::string t = {}) {
            d.steps.push_back(DialogueStep{kind, std::move(t), lineNo});
        };
        if (word.empty() || word[0] == '#') continue;
        if (takePrefix(raw, "S:", rest)) {
            add(DialogueStep::Send, rest + "\r\n");
        } else if (takePrefix(raw, "R:", rest)) {
            add(DialogueStep::Send, unescape(rest, lineNo));
        } else if (takePrefix(raw, "CP:", rest)) {
            add(DialogueStep::ExpectPrefix, rest);
        } else if (takePrefix(raw, "C:", rest)) {
            add(DialogueStep::Expect, rest);
        } else if (word == "C*") {
            add(DialogueStep::ExpectAny);
        } else if (takePrefix(raw, "E:", rest)) {
            d.expected.push_back(trimRight(rest));
        } else if (takePrefix(raw, "DATA:", rest)) {
            add(DialogueStep::DataSend, unescape(rest, lineNo));
        } else if (takePrefix(word, "DATAFILL", rest)) {
            std::istringstream nums(rest);
            std::int64_t off = -1, n = -1;
            nums >> off >> n;
            if (off < 0 || n < 0)
                throw std::runtime_error("dialogue line " + std::to_string(lineNo) + ": DATAFILL off n");
            add(DialogueStep::DataSend, fillBytes(off, n));
        } else if (word == "SPLIT") {
            add(DialogueStep::Split);
        } else if (word == "CLOSE") {
            add(DialogueStep::Close);
        } else if (word == "ACCEPT") {
            add(DialogueStep::Accept);
        } else if (word == "WAITCLOSE") {
            add(DialogueStep::WaitClose);
        } else if (takePrefix(word, "DATACONNECT", rest)) {
            add(DialogueStep::DataConnect, rest);
        } else if (word == "PASVLISTEN") {
            add(DialogueStep::PasvListen);
        } else if (word == "DATAACCEPT") {
            add(DialogueStep::DataAccept);
        } else if (word == "DATACLOSE") {
            add(DialogueStep::DataClose);
        } else if (word == "DATAWAITCLOSE") {
            add(DialogueStep::DataWaitClose);
        } else {
            throw std::runtime_error("dialogue line " + std::to_string(lineNo) +
                                     ": unknown directive: " + raw);
        }
    }
    return d;
}

Dialogue Dialogue::fromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read dialogue " + path);
    std::stringstream s;
    s << in.rdbuf();
    return fromText(s.str());
}

DialogueServer::DialogueServer() : alive_(std::make_shared<bool>(true)) {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { onNewConnection(); });
    QObject::connect(&pasv_, &QTcpServer::newConnection, [this] { onNewDataConnection(); });
}

DialogueServer::~DialogueServer() {
    *alive_ = false;
    stop();
}

void DialogueServer::stop() {
    stopped_ = true;
    for (QTcpSocket** s : {&control_, &data_}) {
        if (*s) {
            (*s)->disconnect();
            (*s)->abort();
            delete *s;
            *s = nullptr;
        }
    }
    server_.close();
    pasv_.close();
}

bool DialogueServer::start(const Dialogue& dialogue, const std::string& host, int port) {
    dialogue_ = dialogue;
    host_ = host;
    if (!server_.listen(QHostAddress(QString::fromStdString(host)), static_cast<quint16>(port))) return false;
    port_ = server_.serverPort();
    // The first step of every dialogue waits for the client to connect (a
    // dialogue without steps has nothing to wait for).
    waiting_ = dialogue_.steps.empty() ? Wait::None : Wait::Accept;
    return true;
}

bool DialogueServer::startFile(const std::string& path, const std::string& host, int port) {
    return start(Dialogue::fromFile(path), host, port);
}

std::string DialogueServer::where() const {
    if (next_ >= dialogue_.steps.size()) return waiting_ == Wait::None ? "done" : "last step";
    const auto& s = dialogue_.steps[next_];
    return "line " + std::to_string(s.line) + " (" + s.text + ")";
}

void DialogueServer::error(const std::string& text) {
    errors_.push_back(text + " at " + where());
}

void DialogueServer::onNewConnection() {
    if (waiting_ != Wait::Accept || stopped_) return; // stays pending until an ACCEPT step
    QTcpSocket* sock = server_.nextPendingConnection();
    if (!sock) return;
    if (control_) {
        control_->disconnect();
        control_->deleteLater();
    }
    control_ = sock;
    ++connections_;
    clientClosed_ = false;
    controlIn_.clear();
    lines_.clear();
    QObject::connect(control_, &QTcpSocket::readyRead, [this] { onControlReadyRead(); });
    QObject::connect(control_, &QTcpSocket::disconnected, [this] { onControlDisconnected(); });
    waiting_ = Wait::None;
    advance();
}

void DialogueServer::onNewDataConnection() {
    // Taken only when a DATAACCEPT waits for it; it stays pending until then.
    if (waiting_ != Wait::DataConnected || stopped_) return;
    QTcpSocket* sock = pasv_.nextPendingConnection();
    if (!sock) return;
    adoptData(sock);
    waiting_ = Wait::None;
    advance();
}

// The data connection from now on (one at a time; an earlier one is dropped).
void DialogueServer::adoptData(QTcpSocket* sock) {
    if (data_) {
        data_->disconnect();
        data_->abort();
        data_->deleteLater();
    }
    data_ = sock;
    dataClientClosed_ = false;
    dataShutPending_ = false;
    QObject::connect(data_, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError e) {
        if (waiting_ == Wait::DataConnected) {
            error("data connection failed");
            waiting_ = Wait::None;
            advance();
        } else if (e == QAbstractSocket::RemoteHostClosedError) {
            dataClientClosed_ = true;
        }
    });
    QObject::connect(data_, &QTcpSocket::readyRead, [this] { data_->readAll(); });
    QObject::connect(data_, &QTcpSocket::bytesWritten, [this](qint64) { shutDataWhenFlushed(); });
    QObject::connect(data_, &QTcpSocket::disconnected, [this] {
        dataClientClosed_ = true;
        if (waiting_ == Wait::DataClosed) {
            waiting_ = Wait::None;
            advance();
        }
    });
}

void DialogueServer::onControlReadyRead() {
    if (!control_) return;
    controlIn_ += control_->readAll().toStdString();
    takeLines();
}

void DialogueServer::takeLines() {
    std::size_t nl;
    while ((nl = controlIn_.find('\n')) != std::string::npos) {
        std::string line = controlIn_.substr(0, nl);
        controlIn_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        received_.push_back(line);
        if (line.rfind("PORT ", 0) == 0) {
            int h[4] = {}, p[2] = {};
            if (std::sscanf(line.c_str() + 5, "%d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &p[0],
                            &p[1]) == 6) {
                dataHost_ = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." + std::to_string(h[2]) +
                            "." + std::to_string(h[3]);
                dataPort_ = p[0] * 256 + p[1];
            }
        }
        lines_.push_back(line);
    }
    if (waiting_ == Wait::Line) {
        waiting_ = Wait::None;
        advance();
    } else if (!lines_.empty() && next_ >= dialogue_.steps.size() && waiting_ == Wait::None) {
        for (const auto& l : lines_)
            error("unexpected line from the client: " + l);
        lines_.clear();
    }
}

void DialogueServer::onControlDisconnected() {
    onControlReadyRead();
    clientClosed_ = true;
    if (waiting_ == Wait::ClientClose) {
        waiting_ = Wait::None;
        advance();
    } else if (waiting_ == Wait::Line) {
        error("the client closed the connection");
        waiting_ = Wait::None;
        next_ = dialogue_.steps.size();
    }
}

void DialogueServer::flushControl() {
    if (controlOut_.empty()) return;
    if (control_ && control_->state() == QAbstractSocket::ConnectedState) {
        control_->write(controlOut_.data(), static_cast<qint64>(controlOut_.size()));
        control_->flush();
    } else {
        error("cannot send, the control connection is closed");
    }
    controlOut_.clear();
}

void DialogueServer::shutDataWhenFlushed() {
    if (!dataShutPending_ || !data_) return;
    dataShutPending_ = false;
    data_->flush(); // may come back here through bytesWritten
    if (data_->bytesToWrite() > 0) {
        dataShutPending_ = true; // bytesWritten brings us back
        return;
    }
    ::shutdown(static_cast<int>(data_->socketDescriptor()), SHUT_WR);
}

void DialogueServer::advance() {
    if (playing_ || stopped_) return; // re-entered from an event inside a step
    playing_ = true;
    // A step answering false has moved next_ itself (or waits to be run again).
    while (waiting_ == Wait::None && next_ < dialogue_.steps.size()) {
        if (runStep(dialogue_.steps[next_])) ++next_;
    }
    if (next_ >= dialogue_.steps.size() && waiting_ == Wait::None) flushControl();
    playing_ = false;
}

bool DialogueServer::runStep(const DialogueStep& step) {
    switch (step.kind) {
    case DialogueStep::Send: {
        std::string text = step.text;
        const int dport = pasv_.isListening() ? pasv_.serverPort() : 0;
        for (const auto& [key, value] : {std::pair<std::string, int>{"{dataport}", dport},
                                         {"{p1}", dport / 256},
                                         {"{p2}", dport % 256},
                                         {"{ctrlport}", port_}}) {
            for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), std::to_string(value));
        }
        controlOut_ += text;
        return true;
    }
    case DialogueStep::PasvListen:
        if (!pasv_.isListening() && !pasv_.listen(QHostAddress(QString::fromStdString(host_)), 0))
            error("cannot listen for a passive data connection");
        return true;
    case DialogueStep::DataAccept:
        flushControl();
        if (!pasv_.isListening()) {
            error("DATAACCEPT without PASVLISTEN");
            return true;
        }
        waiting_ = Wait::DataConnected;
        ++next_;
        if (pasv_.hasPendingConnections()) onNewDataConnection();
        return false;
    case DialogueStep::Split: {
        flushControl();
        waiting_ = Wait::Pause;
        ++next_;
        std::weak_ptr<bool> alive = alive_;
        QTimer::singleShot(PauseMs, [this, alive] {
            if (alive.expired() || waiting_ != Wait::Pause) return;
            waiting_ = Wait::None;
            advance();
        });
        return false;
    }
    case DialogueStep::Expect:
    case DialogueStep::ExpectPrefix:
    case DialogueStep::ExpectAny: {
        flushControl();
        if (lines_.empty()) {
            if (clientClosed_) {
                error("the client closed the connection");
                next_ = dialogue_.steps.size() - 1;
                return true;
            }
            waiting_ = Wait::Line;
            return false;
        }
        const std::string line = lines_.front();
        lines_.erase(lines_.begin());
        const bool ok =
            step.kind == DialogueStep::ExpectAny ||
            (step.kind == DialogueStep::Expect ? line == step.text : line.rfind(step.text, 0) == 0);
        if (!ok) {
            error("expected '" + step.text + "', the client sent '" + line + "'");
            next_ = dialogue_.steps.size() - 1; // stop playing
        }
        return true;
    }
    case DialogueStep::Close:
        flushControl();
        if (control_) {
            control_->disconnect();
            control_->disconnectFromHost();
            control_->deleteLater();
            control_ = nullptr;
        }
        return true;
    case DialogueStep::Accept:
        flushControl();
        ++next_;
        waiting_ = Wait::Accept;
        if (server_.hasPendingConnections()) onNewConnection();
        return false;
    case DialogueStep::WaitClose:
        flushControl();
        if (clientClosed_ || !control_) return true;
        waiting_ = Wait::ClientClose;
        ++next_;
        return false;
    case DialogueStep::DataConnect: {
        flushControl();
        if (dataPort_ == 0) {
            error("DATACONNECT without a PORT command");
            return true;
        }
        adoptData(new QTcpSocket);
        QObject::connect(data_, &QTcpSocket::connected, [this] {
            if (waiting_ != Wait::DataConnected) return;
            waiting_ = Wait::None;
            advance();
        });
        // From the server's own address, as servers do (or the one given).
        if (const std::string from = step.text.empty() ? host_ : step.text;
            !data_->bind(QHostAddress(QString::fromStdString(from)), 0))
            error("cannot bind the data connection to " + from);
        waiting_ = Wait::DataConnected;
        ++next_;
        data_->connectToHost(QHostAddress(QString::fromStdString(dataHost_)),
                             static_cast<quint16>(dataPort_));
        return false;
    }
    case DialogueStep::DataSend:
        flushControl();
        if (!data_ || data_->state() != QAbstractSocket::ConnectedState) {
            error("no data connection to send on");
            return true;
        }
        data_->write(step.text.data(), static_cast<qint64>(step.text.size()));
        return true;
    case DialogueStep::DataClose:
        flushControl();
        if (!data_) return true;
        dataShutPending_ = true;
        shutDataWhenFlushed();
        return true;
    case DialogueStep::DataWaitClose:
        flushControl();
        if (!data_ || dataClientClosed_ || data_->state() == QAbstractSocket::UnconnectedState) return true;
        waiting_ = Wait::DataClosed;
        ++next_;
        return false;
    }
    return true;
}

} // namespace testpeers
