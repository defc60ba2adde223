#pragma once
// A child server process for the tests: started with arguments, waited for
// until it listens, then killed and reaped. Servers bind their port
// themselves (port 0 where they can) and the test learns the port from them:
// from a "port N" line they print, or from the listening socket the child
// owns (/proc). No port is picked first and bound later by another process.

#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace testpeers {

// A loopback port on which connections are refused for as long as this lives:
// a socket bound without listening, so no other server can take the port.
class ClosedPort {
public:
    explicit ClosedPort(const std::string& host = "127.0.0.1");
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port() const { return port_; } // 0 when no socket could be bound

private:
    int fd_ = -1;
    int port_ = 0;
};

// Whether a TCP connection to host:port is accepted right now.
bool portAccepts(const std::string& host, int port);

// The port of a TCP socket of process pid listening on host (IPv4 loopback),
// and when port is not 0 on that port only; 0 when it has none.
int listeningPort(long long pid, const std::string& host, int port = 0);

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess(); // kills and reaps a running child
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with args (no shell); answers whether it started.
    // Its standard output and error are collected (see output()).
    bool start(const std::string& program, const std::vector<std::string>& args);
    // Waits (bounded, through the event loop) for the line "port N" the child
    // prints once it listens; N, or 0 when the child exits first or the time
    // runs out.
    int waitForReportedPort(int maxMs = 15000);
    // Waits until the child itself listens on host (on port, when not 0);
    // the port, or 0 when the child exits first or the time runs out.
    int waitForListener(const std::string& host, int port = 0, int maxMs = 15000);
    bool running() const;
    long long pid() const;
    // SIGKILL, then reap.
    void kill();
    // SIGTERM, wait up to maxMs for the exit, then SIGKILL; reaps in any case.
    void terminate(int maxMs = 3000);
    // Everything the child wrote on stdout and stderr so far.
    std::string output() const;
    // Exit code of a finished child (-1 while running or after a crash/kill).
    int exitCode() const;

private:
    std::unique_ptr<QProcess> proc_;
    mutable std::string out_;
};

} // namespace testpeers
