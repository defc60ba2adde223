#pragma once
// Records what a TFtpClient reports (completions, shown lines, progress,
// session and state events) so tests can count and compare them.

#include "net/ftpcli.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace ftptest {

struct Recorder {
    std::vector<std::pair<int, int>> done; // (request type, error) of every OnRequestDone
    std::vector<std::string> display;      // every shown line
    std::vector<std::int64_t> progress;    // Count of every OnProgress
    int sessionConnected = 0;
    int sessionClosed = 0;
    int stateChanges = 0;
    bool abortAtProgress = false; // answer Abort = true from OnProgress

    explicit Recorder(net::TFtpClient& c) {
        c.OnRequestDone.connect(
            [this](net::TFtpClient&, net::TFtpRequest rq, std::uint16_t err) { done.emplace_back(rq, err); });
        c.OnDisplay.connect([this](net::TFtpClient&, std::string& msg) { display.push_back(msg); });
        c.OnProgress.connect([this](net::TFtpClient&, std::int64_t count, bool& abort) {
            progress.push_back(count);
            abort = abortAtProgress;
        });
        c.OnSessionConnected.connect([this](net::TFtpClient&, std::uint16_t) { ++sessionConnected; });
        c.OnSessionClosed.connect([this](net::TFtpClient&, std::uint16_t) { ++sessionClosed; });
        c.OnStateChange.connect([this](net::TFtpClient&) { ++stateChanges; });
    }

    // Runs the loop until the n-th completion arrived (bounded).
    bool waitDone(std::size_t n, int maxMs = 10000) {
        return platform::runUntil([&] { return done.size() >= n; }, maxMs);
    }
    bool shown(const std::string& line) const {
        return std::find(display.begin(), display.end(), line) != display.end();
    }
    bool shownContaining(const std::string& part) const {
        return std::any_of(display.begin(), display.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
    std::vector<std::string> commands() const { // the "> " lines without the mark
        std::vector<std::string> out;
        for (const auto& l : display)
            if (l.rfind("> ", 0) == 0) out.push_back(l.substr(2));
        return out;
    }
};

// Every line shown, one a line (for failure messages).
inline std::string shownLines(const Recorder& r) {
    std::string out;
    for (const auto& l : r.display)
        out += l + "\n";
    return out;
}

// Compares a file with the bytes expected without printing them.
inline ::testing::AssertionResult fileHolds(const std::string& path, const std::string& expected) {
    const std::string got = testsupport::readFile(path);
    if (got == expected) return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i])
        ++i;
    return ::testing::AssertionFailure() << path << " holds " << got.size() << " bytes, expected "
                                         << expected.size() << "; first difference at byte " << i;
}

// Lets every event already queued run (posted completions included): a
// marker is posted twice in a row and the loop runs until it came through.
inline void settle() {
    bool through = false;
    platform::post([&] { platform::post([&] { through = true; }); });
    platform::runUntil([&] { return through; }, 5000);
}

// Runs the test body with the current directory set to dir (the client
// writes its local file there, under a plain name).
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir) {
        char buf[4096];
        if (::getcwd(buf, sizeof buf)) old_ = buf;
        if (::chdir(dir.c_str()) != 0) throw std::runtime_error("chdir " + dir);
    }
    ~ScopedCwd() {
        if (!old_.empty() && ::chdir(old_.c_str()) != 0) {
        }
    }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::string old_;
};

} // namespace ftptest
