#pragma once
// A child server process for the tests: started with arguments, waited for
// until its TCP port on a loopback address accepts connections, then killed
// and reaped. Also picks free ports on a loopback address.

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QProcess;

namespace testpeers {

// A TCP port that is free on the given address (127.0.0.N) at the moment of
// asking; 0 when none could be bound.
int freePort(const std::string& host = "127.0.0.1");

// Whether a TCP connection to host:port is accepted right now.
bool portAccepts(const std::string& host, int port);

// Runs the event loop until host:port accepts a connection, or maxMs passed;
// stopWaiting (when given) ends the wait early, e.g. when the child died.
bool waitForPort(const std::string& host, int port, int maxMs, const std::function<bool()>& stopWaiting = {});

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess(); // kills and reaps a running child
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with args (no shell); answers whether it started.
    // Its standard output and error are collected (see output()).
    bool start(const std::string& program, const std::vector<std::string>& args);
    // Waits (bounded, through the event loop) until host:port accepts; false
    // when the child exits first or the time runs out.
    bool waitForPort(const std::string& host, int port, int maxMs = 10000);
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
