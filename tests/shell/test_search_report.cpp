// What a search says when it ends, against real HTTP engines on loopback: the
// files it added, the engines that answered, and each one that failed.

#include "program_fixture.h"

#include "peers/http_peers.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "shell/search_report.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using Report = shelltest::SettingsDirTest;

std::string page(const std::vector<std::string>& links) {
    std::string p = "<html><body>";
    for (const auto& l : links)
        p += "<a href=\"" + l + "\">x</a>\n";
    return p + "</body></html>";
}

struct Searcher {
    shell::Wavetrap& w;
    std::vector<std::string> lines, details;
    explicit Searcher(shell::Wavetrap& program) : w(program) {
        w.searchReport.statusLine.connect([this](const std::string& l) { lines.push_back(l); });
        w.searchReport.detailLine.connect([this](const std::string& l) { details.push_back(l); });
    }
    bool search(const std::string& phrase, const platform::StringList& engines) {
        lines.clear();
        details.clear();
        w.dispatch.search.Text = phrase;
        w.dispatch.Start_search_butClick(engines);
        return platform::runUntil([this] { return !w.searchReport.running() && !lines.empty(); }, 10000);
    }
};

TEST_F(Report, ASearchSaysWhatItFoundFromHowManyEnginesAndWhichFailed) {
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.start());
    const testpeers::ClosedPort closed;
    const std::string refused = "127.0.0.1:" + std::to_string(closed.port());
    peer.serve("/a?q=night", page({"ftp://s1.test/pub/a.mp3", "ftp://s1.test/pub/b.mp3"}));
    peer.serve("/b?q=night", page({"ftp://s1.test/pub/b.mp3", "ftp://s2.test/c.mp3"})); // one already listed
    peer.reply("/c?q=night", 404, "Not Found", {}, "gone");
    peer.serve("/a?q=nothing", page({}));
    peer.hang("/slow?q=night");

    shell::Wavetrap w;
    Searcher s(w);
    const std::string e = peer.hostPort();
    ASSERT_TRUE(s.search("night", {e + "/a?q=", e + "/b?q=", e + "/c?q=", refused + "/d?q="}));
    ASSERT_EQ(s.lines.size(), 2u);
    EXPECT_EQ(s.lines[0], "Searching 4 engines...");
    // The failed engines in the order they ended.
    const std::string notFound = e + " (404 Not Found)",
                      noConnection = refused + " (Connection refused (Error #10061))";
    const std::string head = "Found 3 files from 2 of 4 engines; failed: ";
    EXPECT_TRUE(s.lines[1] == head + notFound + ", " + noConnection ||
                s.lines[1] == head + noConnection + ", " + notFound)
        << s.lines[1];
    std::vector<std::string> expected = {"Search: " + e + "/c?q=night: 404 Not Found",
                                         "Search: " + refused +
                                             "/d?q=night: Connection refused (Error #10061)"};
    std::sort(s.details.begin(), s.details.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(s.details, expected);

    // No results: the line says so (the last search's line does not stay).
    ASSERT_TRUE(s.search("nothing", {e + "/a?q="}));
    EXPECT_EQ(s.lines.back(), "Found no files from 1 engine");
    ASSERT_TRUE(s.search("night", {e + "/a?q="})); // every file listed already
    EXPECT_EQ(s.lines.back(), "Found no files from 1 engine");

    // Cancelled while an engine is silent: what came before the cancel.
    w.dispatch.search.Text = "night";
    s.lines.clear();
    w.dispatch.Start_search_butClick({e + "/slow?q=", e + "/b?q="});
    ASSERT_TRUE(peer.waitForRequests(7));
    ASSERT_TRUE(platform::runUntil([&] { return w.dispatch.clientlist.size() == 1; }, 5000));
    w.dispatch.cancelbutClick();
    ASSERT_TRUE(platform::runUntil([&] { return !w.searchReport.running(); }, 5000));
    EXPECT_EQ(s.lines.back(), "Search cancelled: found no files from 1 of 2 engines");
}

TEST(ReportLine, CountsAndFailuresReadAsOneLine) {
    using F = shell::SearchOutcome::Failure;
    struct Case {
        shell::SearchOutcome o;
        std::string line;
    };
    const std::vector<F> five = {{"a", "x"}, {"b", "y"}, {"c", "z"}, {"d", "w"}, {"e", "v"}};
    const Case cases[] = {
        {{1, 1, 1, false, {}}, "Found 1 file from 1 engine"},
        {{7, 7, 150, false, {}}, "Found 150 files from 7 engines"},
        {{2, 0, 0, false, {{"a", "x"}, {"b", "y"}}}, "Found no files: no engine answered; a (x), b (y)"},
        {{7, 2, 4, false, five},
         "Found 4 files from 2 of 7 engines; failed: a (x), b (y), c (z) and 2 more (Windows > Details)"},
        {{3, 1, 2, true, {}}, "Search cancelled: found 2 files from 1 of 3 engines"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shell::searchReportText(c.o), c.line);
    EXPECT_EQ(shell::engineOf("https://[::1]:8443/find?q=x"), "[::1]:8443");
    EXPECT_EQ(shell::engineOf("127.0.0.1:9/a?q=x"), "127.0.0.1:9");
    EXPECT_EQ(shell::engineOf("mp3.test?q=x"), "mp3.test");
}

} // namespace
