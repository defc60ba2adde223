#include "peers/process.h"

#include "platform/eventloop.h"

#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace testpeers {

ClosedPort::ClosedPort(const std::string& host) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    socklen_t len = sizeof addr;
    // No SO_REUSEADDR: then no other socket can bind the port while this one holds it.
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1 &&
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port_ = ntohs(addr.sin_port);
}

ClosedPort::~ClosedPort() {
    if (fd_ >= 0) ::close(fd_);
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

int listeningPort(long long pid, const std::string& host, int port) {
    // The address as /proc prints it: each 32-bit word of it in memory order, in hex.
    unsigned char bytes[16] = {};
    const bool v6 = host.find(':') != std::string::npos;
    if (pid <= 0 || ::inet_pton(v6 ? AF_INET6 : AF_INET, host.c_str(), bytes) != 1) return 0;
    std::string wantAddr;
    for (int w = 0; w < (v6 ? 4 : 1); ++w) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes + 4 * w, 4);
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(word));
        wantAddr += hex;
    }
    const std::string proc = "/proc/" + std::to_string(pid);
    // The socket inodes among the process's open files.
    std::set<std::string> inodes;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        if (!ec && target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
    }
    // Lines of /proc/PID/net/tcp(6): "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...",
    // the port in hex, LISTEN = 0A.
    std::ifstream tcp(proc + (v6 ? "/net/tcp6" : "/net/tcp"));
    std::string line;
    std::getline(tcp, line);
    while (std::getline(tcp, line)) {
        std::istringstream in(line);
        std::string sl, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(in >> sl >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
              inode))
            continue;
        if (state != "0A" || !inodes.count(inode) || local.size() != wantAddr.size() + 5) continue;
        const std::string addr = local.substr(0, wantAddr.size());
        if (addr != wantAddr && addr != std::string(wantAddr.size(), '0')) continue;
        const int p = static_cast<int>(std::stoul(local.substr(wantAddr.size() + 1), nullptr, 16));
        if (port == 0 || p == port) return p;
    }
    return 0;
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

int ChildProcess::waitForReportedPort(int maxMs) {
    int port = 0;
    const auto reported = [&] {
        const std::string out = "\n" + output();
        for (std::size_t at = out.find("\nport "); at != std::string::npos;
             at = out.find("\nport ", at + 1)) {
            const std::size_t end = out.find('\n', at + 1);
            if (end == std::string::npos) break; // the line is still being written
            port = std::atoi(out.c_str() + at + 6);
            if (port > 0) return true;
        }
        return false;
    };
    platform::runUntil([&] { return reported() || !running(); }, maxMs);
    return reported() && running() ? port : 0;
}

int ChildProcess::waitForListener(const std::string& host, int port, int maxMs) {
    int found = 0;
    platform::runUntil([&] { return !running() || (found = listeningPort(pid(), host, port)) > 0; }, maxMs);
    return running() ? found : 0;
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
