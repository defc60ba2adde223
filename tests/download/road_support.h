#pragma once
// The download road under test: the program's core with its scheduler stepped
// by hand (one visit, then the network events of a moment) or on a short
// tick, in a working directory of its own.

#include "download/ftp_slot_session.h"
#include "platform/profile.h"
#include "shell/wavetrap.h"
#include "support/tempdir.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace roadtest {

// Changes the working directory for a scope (the files land there).
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir) {
        char* cwd = ::getcwd(nullptr, 0);
        old_ = cwd ? cwd : "/";
        std::free(cwd);
        if (::chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir;
    }
    ~ScopedCwd() { (void)::chdir(old_.c_str()); }
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::string old_;
};

struct Counts {
    int good = -1, bad = -1; // -1: the site has no row
    bool operator==(const Counts&) const = default;
};

inline Counts countsOf(const results::SiteStats& st, const std::string& site) {
    for (std::size_t k = 0; k < st.stats_ip.size(); ++k)
        if (st.stats_ip[k] == site) return {std::stoi(st.stats_good[k]), std::stoi(st.stats_bad[k])};
    return {};
}

// The pending downloads a run left in the settings file at iniPath.
inline platform::StringList pendingIn(const std::string& iniPath) {
    platform::TIniFile ini(iniPath);
    platform::StringList l;
    const int n = ini.ReadInteger("downloading", "count", 0);
    for (int i = 0; i < n; ++i)
        l.push_back(ini.ReadString("downloading", std::to_string(i), ""));
    return l;
}

inline bool hasLine(const platform::StringList& memo, const std::string& line) {
    for (const auto& l : memo)
        if (l == line) return true;
    return false;
}

inline int linesContaining(const platform::StringList& memo, const std::string& part) {
    int k = 0;
    for (const auto& l : memo)
        if (l.find(part) != std::string::npos) ++k;
    return k;
}

class Road : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ScopedCwd cwd{dir.path()};
    testsupport::ScopedEnv config{"WAVETRAP_CONFIG_DIR", dir.path()}; // where savecfg writes
    shell::Wavetrap w;
    download::Scheduler& s = w.scheduler;
    std::vector<std::pair<std::string, bool>> done; // files that left their slot, fetched or not

    Road() {
        // The road's sites serve patterned text under .mp3 names, compared
        // byte for byte: not checked as MP3 (test_cli_verified.cpp is).
        s.setVerify(false);
        s.hooks.fileDone.connect(
            [this](const std::string& url, bool fetched) { done.emplace_back(url, fetched); });
    }

    void launch(const std::string& url) { s.launchftp(w.urlinfo.info(url)); }

    // One visit after another, each followed by the events of up to eventsMs
    // milliseconds, until cond holds; false after maxMs.
    bool stepUntil(const std::function<bool()>& cond, int maxMs = 20000, int eventsMs = 1) {
        QElapsedTimer clock;
        clock.start();
        while (!cond()) {
            if (clock.elapsed() > maxMs) return false;
            s.dfatimerTimer();
            platform::runUntil(cond, eventsMs);
        }
        return true;
    }
    // Only the network's events, no visit.
    bool waitFor(const std::function<bool()>& cond, int maxMs = 20000) {
        return platform::runUntil(cond, maxMs);
    }
    // Every slot has ended and nothing is parked.
    bool runToEnd(int maxMs = 30000) {
        return stepUntil([this] { return s.idle(); }, maxMs);
    }

    // The memos, for the message of a failing test.
    std::string dump() const {
        std::string out = "ftpstatus:\n";
        for (const auto& l : s.ftpstatus())
            out += "  " + l + "\n";
        out += "errorlog:\n";
        for (const auto& l : s.errorlog())
            out += "  " + l + "\n";
        out += "abortout:\n";
        for (const auto& l : s.abortout())
            out += "  " + l + "\n";
        out += "slots at work:\n";
        for (int n = 1; n <= download::SlotCount; ++n) {
            const download::Slot& k = s.slot(n);
            if (k.phase == download::Phase::Idle) continue;
            const auto* f = dynamic_cast<const download::FtpSlotSession*>(k.session.get());
            out += "  " + std::to_string(n) + ": state " + std::to_string(download::stateNumber(k)) +
                   (k.busy ? " busy" : "") + (k.session->awaiting() ? " awaiting" : "") + " wait " +
                   std::to_string(k.wait) + " client " +
                   (f ? std::to_string(static_cast<int>(f->client().State())) : std::string("-")) + "\n";
        }
        return out;
    }

    // The FTP session of slot n, its client and its step.
    download::FtpSlotSession& ftpSession(int n) const {
        return dynamic_cast<download::FtpSlotSession&>(*s.slot(n).session);
    }
    net::TFtpClient& client(int n) const { return ftpSession(n).client(); }
    download::FtpSlotStep ftpStep(int n) const { return ftpSession(n).currentStep(); }

    std::string file(const std::string& name) const { return testsupport::readFile(dir.file(name)); }
    bool fileExists(const std::string& name) const { return ::access(dir.file(name).c_str(), F_OK) == 0; }
};

} // namespace roadtest
