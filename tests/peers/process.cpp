#include "peers/process.h"

#include "platform/eventloop.h"

#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace testpeers {

int freePort(const std::string& host) {
    QTcpServer server;
    if (!server.listen(QHostAddress(QString::fromStdString(host)), 0)) return 0;
    const int port = server.serverPort();
    server.close();
    return port;
}

namespace {

// One connection attempt through the event loop; done() tells whether it
// finished and ok() whether it was accepted.
class Probe {
public:
    Probe(const std::string& host, int port) {
        QObject::connect(&sock_, &QTcpSocket::connected, [this] { finish(true); });
        QObject::connect(&sock_, &QTcpSocket::errorOccurred,
                         [this](QAbstractSocket::SocketError) { finish(false); });
        sock_.connectToHost(QHostAddress(QString::fromStdString(host)), static_cast<quint16>(port));
    }
    bool done() const { return done_; }
    bool ok() const { return ok_; }

private:
    void finish(bool ok) {
        if (done_) return;
        done_ = true;
        ok_ = ok;
        sock_.abort();
    }
    QTcpSocket sock_;
    bool done_ = false;
    bool ok_ = false;
};

} // namespace

bool portAccepts(const std::string& host, int port) {
    Probe probe(host, port);
    platform::runUntil([&] { return probe.done(); }, 2000);
    return probe.ok();
}

bool waitForPort(const std::string& host, int port, int maxMs, const std::function<bool()>& stopWaiting) {
    bool accepted = false;
    bool timeUp = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] { timeUp = true; });
    deadline.start(maxMs);
    while (!accepted && !timeUp) {
        if (stopWaiting && stopWaiting()) return false;
        auto probe = std::make_unique<Probe>(host, port);
        platform::runUntil([&] { return probe->done() || timeUp; }, maxMs);
        if (probe->ok()) {
            accepted = true;
            break;
        }
        // Refused: try again a little later, still serving the event loop.
        bool retry = false;
        QTimer::singleShot(20, [&] { retry = true; });
        platform::runUntil([&] { return retry || timeUp || (stopWaiting && stopWaiting()); }, maxMs);
    }
    return accepted;
}

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() {
    kill();
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args) {
    kill();
    out_.clear();
    proc_ = std::make_unique<QProcess>();
    proc_->setProcessChannelMode(QProcess::MergedChannels);
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    proc_->start(QString::fromStdString(program), list);
    return proc_->waitForStarted(10000);
}

bool ChildProcess::waitForPort(const std::string& host, int port, int maxMs) {
    if (!running()) return false;
    return testpeers::waitForPort(host, port, maxMs, [this] { return !running(); });
}

bool ChildProcess::running() const {
    return proc_ && proc_->state() != QProcess::NotRunning;
}

long long ChildProcess::pid() const {
    return proc_ ? proc_->processId() : 0;
}

void ChildProcess::kill() {
    if (!running()) return;
    proc_->kill();
    proc_->waitForFinished(5000);
}

void ChildProcess::terminate(int maxMs) {
    if (!running()) return;
    proc_->terminate();
    if (!proc_->waitForFinished(maxMs)) kill();
}

std::string ChildProcess::output() const {
    if (proc_) out_ += proc_->readAll().toStdString();
    return out_;
}

int ChildProcess::exitCode() const {
    if (!proc_ || running() || proc_->exitStatus() != QProcess::NormalExit) return -1;
    return proc_->exitCode();
}

} // namespace testpeers
