#pragma once
// The settings-keeping parts of the program, put together as start-up does,
// over a temporary settings directory.

#include "shell/wavetrap.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace shelltest {

struct Program {
    shell::Wavetrap w;
    search::EngineList& startlinks = w.startlinks;
    search::ProxyControls& proxy = w.proxyControls;
    shell::Settings& settings = w.settings;
    shell::SettingsModel& cfg = w.cfg;
    shell::MainWindowStorage& main = w.mainStorage;

    void start() { w.loadSettingsAtStartup(); }
    void exit() { w.saveSettingsAtExit(); }
};

// A test with its own settings directory holding the two settings files.
class SettingsDirTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", dir.path()};
    std::string ini() const { return dir.file("wavbin.Ini"); }
    std::string forms() const { return dir.file("wavbin"); }
};

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return out;
}

inline std::string dataFile(const std::string& name) {
    return std::string(WAVETRAP_TEST_SOURCE_DIR) + "/shell/data/" + name;
}

// Compares a settings file with an expected file line by line.
inline void expectSameLines(const std::string& actualPath, const std::string& expectedName) {
    const auto got = lines(testsupport::readFile(actualPath));
    const auto want = lines(testsupport::readFile(dataFile(expectedName)));
    ASSERT_FALSE(want.empty()) << "missing expected file " << expectedName;
    for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
        const std::string g = i < got.size() ? got[i] : "<end of file>";
        const std::string e = i < want.size() ? want[i] : "<end of file>";
        EXPECT_EQ(g, e) << expectedName << " line " << i + 1;
        if (g != e) return;
    }
}

} // namespace shelltest
