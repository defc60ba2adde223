// A search against real local HTTP servers: queries built and sent at once,
// pages scanned as they arrive, the progress display, failures, cancelling.

#include "search_fixture.h"

#include "peers/http_peers.h"
#include "support/tempdir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>

using searchtest::resultPage;
using searchtest::SearchRig;
using searchtest::siteLinks;

namespace {

class Dispatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        peer_ = new testpeers::HttpPeer;
        ASSERT_TRUE(peer_->start());
    }
    static void TearDownTestSuite() {
        delete peer_;
        peer_ = nullptr;
    }
    static testpeers::HttpPeer& peer() { return *peer_; }
    // An engine entry on the peer: "127.0.0.1:port" + path and query prefix.
    static std::string entry(const std::string& pathAndPrefix) { return peer_->hostPort() + pathAndPrefix; }
    static std::size_t requestCount() { return peer_->requestLines().size(); }
    static std::vector<std::string> requestsSince(std::size_t n) {
        const auto all = peer_->requestLines();
        return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(n, all.size())),
                                        all.end());
    }

    SearchRig rig;

private:
    static testpeers::HttpPeer* peer_;
};

testpeers::HttpPeer* Dispatch::peer_ = nullptr;

TEST_F(Dispatch, SevenDefaultLikeEnginesAreAllAskedAtOnceAndTheBarCountsTheirEnds) {
    std::set<std::string> wantLinks, wantRequests;
    for (int i = 0; i < 7; ++i) {
        const auto links = siteLinks("engine" + std::to_string(i) + ".test", 3);
        wantLinks.insert(links.begin(), links.end());
        peer().serve(std::string(searchtest::DefaultPaths[i]) + "two+words", resultPage(links));
        rig.startlinks.addengine(entry(searchtest::DefaultPaths[i]));
        wantRequests.insert(std::string("GET ") + searchtest::DefaultPaths[i] + "two+words HTTP/1.0");
    }
    std::vector<int> bar;
    bool hiddenBeforeLast = false;
    rig.d.changed.connect([&] {
        if (bar.empty() || bar.back() != rig.d.pbarPosition()) bar.push_back(rig.d.pbarPosition());
        if (!rig.d.pbarVisible() && rig.d.queriesFinished() < 7 && rig.d.queriesFinished() > 0)
            hiddenBeforeLast = true;
    });
    const std::size_t before = requestCount();
    rig.d.search.Text = "two words";
    rig.d.searchKeyDown(search::SearchDispatch::Key_Return);

    EXPECT_EQ(rig.d.search.Text, "two+words");
    EXPECT_EQ(rig.d.search.Items, (platform::StringList{"two words"}));
    EXPECT_TRUE(rig.d.htmlbuf.empty());
    EXPECT_EQ(rig.d.clientlist.size(), 7u);
    EXPECT_TRUE(rig.d.pbarVisible());
    EXPECT_TRUE(rig.d.cancelbutVisible());
    ASSERT_TRUE(rig.settle());

    EXPECT_EQ(bar, (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70}));
    EXPECT_FALSE(hiddenBeforeLast);
    EXPECT_FALSE(rig.d.pbarVisible());
    EXPECT_FALSE(rig.d.cancelbutVisible());
    const auto got = requestsSince(before);
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), wantRequests);
    const auto urls = rig.urls();
    EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()), wantLinks);
}

TEST_F(Dispatch, PagesCutInsideLinksAndLargePagesYieldEveryLinkInPageOrder) {
    const auto small = siteLinks("split.test", 6);
    const std::string page = resultPage(small, 40);
    // Cut the reply inside every link: at the middle of each "ftp://" text.
    std::vector<std::size_t> splits;
    std::size_t last = 0, pos = 0;
    const std::size_t head = 80; // about the size of the status and header lines
    while ((pos = page.find("ftp://", pos)) != std::string::npos) {
        const std::size_t cut = head + pos + 12;
        splits.push_back(cut - last);
        last = cut;
        pos += 6;
    }
    peer().serve("/split?q=x", page, splits);
    const auto many = siteLinks("large.test", 40);
    peer().serve("/large?q=x", resultPage(many, 40000)); // about 1.6 MB
    rig.startlinks.addengine(entry("/split?q="));
    rig.d.search.Text = "x";
    rig.d.Start_search_butClick();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.urls(), small);

    SearchRig big;
    big.startlinks.addengine(entry("/large?q="));
    big.d.search.Text = "x";
    big.d.Start_search_butClick();
    ASSERT_TRUE(big.settle(20000));
    EXPECT_EQ(big.urls(), many);
}

// Engines that answer with chunked bodies: the scan sees the page without the
// chunk framing, though the chunk boundaries cut the links. A real server
// (Python's http.server) that keeps the connection open after the last chunk,
// a scripted one, and one whose chunk size is malformed half-way.
TEST_F(Dispatch, ChunkedPagesAreScannedDecoded) {
    const auto realLinks = siteLinks("chunked.test", 5), scriptedLinks = siteLinks("scripted.test", 3);
    testsupport::TempDir root;
    testsupport::writeFile(root.file("page.html"), resultPage(realLinks, 100));
    testpeers::ChunkedHttpServer real;
    ASSERT_TRUE(real.start(root.path(), 37));
    auto chunked = [](const std::string& text, std::size_t size) {
        std::string out;
        for (std::size_t at = 0; at < text.size(); at += size) {
            const std::string piece = text.substr(at, size);
            char len[16];
            std::snprintf(len, sizeof len, "%zx", piece.size());
            out += len + std::string("\r\n") + piece + "\r\n";
        }
        return out;
    };
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    peer().raw("/chunked?q=x", head + chunked(resultPage(scriptedLinks, 60), 29) + "0\r\n\r\n", {200, 7});
    const std::string brokenPage = resultPage(siteLinks("broken.test", 2), 0);
    const std::size_t cut = brokenPage.find("<tr><td><a href=\"ftp://broken.test/pub/mp3/track_1");
    peer().raw("/broken?q=x",
               head + chunked(brokenPage.substr(0, cut), 50) + "19O\r\n" + brokenPage.substr(cut));
    std::vector<std::string> failures;
    const platform::ScopedConnection outcomes = rig.d.queryDone.connect(
        [&](const std::string& url, int status, const std::string& reason, int, std::int64_t) {
            if (status != 200) failures.push_back(url + " " + std::to_string(status) + " " + reason);
        });
    for (const std::string& e :
         {real.hostPort() + "/page.html?q=", entry("/chunked?q="), entry("/broken?q=")})
        rig.startlinks.addengine(e);
    rig.d.search.Text = "x";
    rig.d.Start_search_butClick();
    ASSERT_TRUE(rig.settle());
    std::set<std::string> want(realLinks.begin(), realLinks.end());
    want.insert(scriptedLinks.begin(), scriptedLinks.end());
    want.insert("ftp://broken.test/pub/mp3/track_0.mp3"); // in the chunk before the malformed size
    const auto urls = rig.urls();
    EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()), want);
    EXPECT_EQ(failures, std::vector<std::string>{entry("/broken?q=x") + " 404 Malformed chunk size"});
}

TEST_F(Dispatch, FailedQueriesCountAsFinishedAndBringNoLinks) {
    peer().reply("/gone?q=x", 404, "Not Found", {}, resultPage(siteLinks("notfound.test", 2)));
    peer().relocate("/moved?q=x", "/moved-here");
    peer().serve("/moved-here", resultPage(siteLinks("relocated.test", 2)));
    peer().serve("/fine?q=x", resultPage(siteLinks("fine.test", 2)));
    for (const std::string& e :
         {std::string("no-such-engine.invalid/s?q="), entry("/gone?q="), entry("/moved?q="),
          entry("/fine?q="), std::string("127.0.0.1:1/refused?q=")})
        rig.startlinks.addengine(e);
    rig.d.search.Text = "x";
    rig.d.Start_search_butClick();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.d.pbarPosition(), 50);
    EXPECT_EQ(rig.d.queriesFinished(), 5u);
    EXPECT_FALSE(rig.d.pbarVisible());
    std::set<std::string> want;
    for (const auto& l : siteLinks("relocated.test", 2))
        want.insert(l);
    for (const auto& l : siteLinks("fine.test", 2))
        want.insert(l);
    const auto urls = rig.urls();
    EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()), want);
}

TEST_F(Dispatch, CancelEmptiesTheQueueAbortsEveryQueryAndKeepsTheLinksFound) {
    peer().serve("/early?q=x", resultPage(siteLinks("early.test", 2)));
    rig.startlinks.addengine(entry("/early?q="));
    rig.d.search.Text = "x";
    rig.d.Start_search_butClick();
    ASSERT_TRUE(rig.settle());
    ASSERT_EQ(rig.urls().size(), 2u);

    rig.startlinks.Clear();
    for (int i = 0; i < 4; ++i) {
        peer().hang("/hang" + std::to_string(i) + "?q=y");
        rig.startlinks.addengine(entry("/hang" + std::to_string(i) + "?q="));
    }
    const std::size_t before = requestCount();
    rig.d.search.Text = "y";
    rig.d.Start_search_butClick();
    ASSERT_TRUE(peer().waitForRequests(before + 4));
    rig.d.htmlbuf = {"a.test/q=", "b.test/q=", "c.test/q="}; // three still queued
    int firstEndVisible = -1;
    rig.d.changed.connect([&] {
        if (firstEndVisible == -1 && rig.d.queriesFinished() == 2) firstEndVisible = rig.d.pbarVisible();
    });
    rig.d.cancelbutClick();
    EXPECT_TRUE(rig.d.htmlbuf.empty());
    EXPECT_TRUE(rig.d.clientlist.empty());
    EXPECT_TRUE(rig.d.pbarVisible()); // nothing else at once
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(firstEndVisible, 0); // the first abort report hid the bar
    EXPECT_EQ(rig.d.queriesFinished(), 5u);
    EXPECT_EQ(rig.d.pbarPosition(), 40);
    EXPECT_EQ(rig.d.clientsAlive(), 0u);
    EXPECT_EQ(rig.urls().size(), 2u);
}

TEST_F(Dispatch, ThePhraseHistoryAndTheEmptyPhrase) {
    peer().serve("/h?q=a+b", resultPage({}));
    peer().serve("/h?q=", resultPage({}));
    rig.startlinks.addengine(entry("/h?q="));
    const std::size_t before = requestCount();
    rig.d.search.Text = "a b";
    rig.d.searchKeyDown(search::SearchDispatch::Key_Return);
    rig.d.searchKeyDown('x'); // other keys do nothing
    rig.d.searchKeyDown(search::SearchDispatch::Key_Return);
    EXPECT_EQ(rig.d.search.Items, (platform::StringList{"a+b", "a b"}));
    rig.d.search.Text = "";
    rig.d.searchKeyDown(search::SearchDispatch::Key_Return);
    EXPECT_EQ(rig.d.search.Items, (platform::StringList{"", "a+b", "a b"}));
    ASSERT_TRUE(rig.settle());
    auto got = requestsSince(before);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"GET /h?q= HTTP/1.0", "GET /h?q=a+b HTTP/1.0",
                                             "GET /h?q=a+b HTTP/1.0"}));
}

TEST_F(Dispatch, TheProxyFieldsCountOnlyWhenUseProxyIsChecked) {
    // The peer stands in for a proxy: it sees the whole URL on the request line.
    peer().serve("/p?q=z", resultPage(siteLinks("proxied.test", 1)));
    rig.startlinks.addengine("engine.invalid/p?q=");
    rig.proxy.useproxy = true;
    rig.proxy.proxynamein = peer().hostPort(); // a port after a colon wins over proxyportin
    rig.proxy.proxyportin = "1";
    std::size_t before = requestCount();
    rig.d.search.Text = "z";
    rig.d.Start_search_butClick();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(requestsSince(before), (std::vector<std::string>{"GET http://engine.invalid/p?q=z HTTP/1.0"}));
    EXPECT_EQ(rig.urls(), siteLinks("proxied.test", 1));

    SearchRig direct;
    direct.startlinks.addengine(entry("/p?q="));
    direct.proxy.useproxy = false;
    direct.proxy.proxynamein = "proxy.invalid";
    direct.proxy.proxyportin = "nonsense";
    before = requestCount();
    direct.d.search.Text = "z";
    direct.d.Start_search_butClick();
    ASSERT_TRUE(direct.settle());
    EXPECT_EQ(requestsSince(before), (std::vector<std::string>{"GET /p?q=z HTTP/1.0"}));
}

TEST_F(Dispatch, OneEngineOneClientAndAZeroByteHidesNothingOfItsBlock) {
    peer().raw("/zero?q=n", std::string("HTTP/1.0 200 OK\r\n\r\n\"ftp://z.test/a.mp3\" ") + '\0' +
                                " \"ftp://z.test/after.mp3\" ");
    rig.startlinks.addengine(entry("/zero?q="));
    rig.d.search.Text = "n";
    rig.d.Start_search_butClick();
    EXPECT_EQ(rig.d.clientlist.size(), 1u);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.d.pbarPosition(), 10);
    EXPECT_EQ(rig.urls(), (std::vector<std::string>{"ftp://z.test/a.mp3", "ftp://z.test/after.mp3"}));
}

TEST_F(Dispatch, AnEntryWithoutAHostEndsLikeAnUnknownNameAndTheOthersStillGo) {
    peer().serve("/after?q=w", resultPage(siteLinks("after.test", 1)));
    rig.startlinks.addengine("/no-host?q=");
    rig.startlinks.addengine(entry("/after?q="));
    rig.d.search.Text = "w";
    EXPECT_NO_THROW(rig.d.Start_search_butClick());
    EXPECT_TRUE(rig.d.htmlbuf.empty());
    EXPECT_EQ(rig.d.clientlist.size(), 2u);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.d.queriesFinished(), 2u);
    EXPECT_EQ(rig.urls(), siteLinks("after.test", 1));
}

TEST_F(Dispatch, ASecondSearchWhileOneRunsSharesTheBarAndTheList) {
    peer().hang("/slow?q=1");
    peer().serve("/quick?q=2", resultPage(siteLinks("quick.test", 1)));
    rig.startlinks.addengine(entry("/slow?q="));
    rig.d.search.Text = "1";
    rig.d.Start_search_butClick();
    rig.startlinks.Clear();
    rig.startlinks.addengine(entry("/quick?q="));
    rig.d.search.Text = "2";
    rig.d.Start_search_butClick();
    EXPECT_EQ(rig.d.clientlist.size(), 2u);
    EXPECT_EQ(rig.d.pbarPosition(), 0);
    ASSERT_TRUE(platform::runUntil([&] { return rig.d.queriesFinished() == 1; }, 10000));
    EXPECT_TRUE(rig.d.pbarVisible()); // the first search still runs
    EXPECT_EQ(rig.d.pbarPosition(), 10);
    rig.d.cancelbutClick();
    ASSERT_TRUE(rig.settle());
    EXPECT_FALSE(rig.d.cancelbutVisible());
    EXPECT_EQ(rig.urls(), siteLinks("quick.test", 1));
}

TEST_F(Dispatch, TheBarStopsAtItsMaximumWithManyEngines) {
    for (int i = 0; i < 17; ++i)
        rig.startlinks.addengine(entry("/many" + std::to_string(i) + "?q="));
    rig.d.search.Text = "m";
    rig.d.Start_search_butClick();
    EXPECT_EQ(rig.d.clientlist.size(), 17u);
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.d.queriesFinished(), 17u);
    EXPECT_EQ(rig.d.pbarPosition(), search::SearchDispatch::PbarMax);
}

TEST_F(Dispatch, DestroyingTheSearchWhileQueriesRunIsSafe) {
    peer().hang("/forever?q=d");
    const std::size_t before = requestCount();
    auto r = std::make_unique<SearchRig>();
    r->startlinks.addengine(entry("/forever?q="));
    r->d.search.Text = "d";
    r->d.Start_search_butClick();
    ASSERT_TRUE(peer().waitForRequests(before + 1));
    r.reset();
    platform::runUntil([] { return false; }, 100); // posted events of the released clients run
}

} // namespace
