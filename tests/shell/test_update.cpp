// The update check against a real HTTP server on loopback and through a real
// tinyproxy: the request it sends, how the reply's lines are cut and applied,
// and what a failing or silent server leaves behind.

#include "program_fixture.h"

#include "peers/http_peers.h"
#include "peers/nginx_peer.h"
#include "platform/eventloop.h"
#include "platform/profile.h"
#include "shell/update.h"

#include <gtest/gtest.h>

using shelltest::Program;
using UpdateAddress = shelltest::SettingsDirTest;

namespace {

const platform::StringList Old = {"old.test/?q=", "dup.test/?q="};

struct Check {
    Program p;
    std::vector<std::string> messages;
    std::vector<shell::UpdateOutcome> outcomes;

    explicit Check(const std::string& host) {
        p.main.updateIP_Caption = host;
        for (const auto& e : Old)
            p.startlinks.addengine(e);
        p.w.updatecheck.OnMessage.connect([this](const std::string& caption, const std::string& text) {
            EXPECT_EQ(caption, "Cool!");
            messages.push_back(text);
        });
        p.w.updatecheck.OnFinished.connect([this](shell::UpdateOutcome o) { outcomes.push_back(o); });
    }
    void start() { p.w.updatecheck.Checkforupdatestosearchengines1Click(); }
    bool run() {
        start();
        return platform::runUntil([this] { return !outcomes.empty(); }, 10000);
    }
};

struct ReplyCase {
    const char* name;
    std::string bytes;
    std::vector<std::size_t> splits = {};
    platform::StringList engines = {};
    std::vector<std::string> messages = {};
    std::string host = {}, path = {}; // "" : unchanged
};

const std::string Ok = "HTTP/1.0 200 OK\nContent-Type: text/plain\n\n";
const std::string NewBuild = "There is a new version of Wavetrap available at the \r\nNorvane website.";

TEST(UpdateLines, LinesEndAtCrLfCrOrLfAndACutLineStaysWhole) {
    struct Case {
        const char* name;
        std::vector<std::string> blocks;
        platform::StringList lines;
    };
    const Case cases[] = {
        {"a line cut between blocks", {"--:ab", "c\n--:d"}, {"--:abc", "--:d"}},
        {"CR LF", {"--URL\r\nh.test\r\n/u.txt\r\n"}, {"--URL", "h.test", "/u.txt"}},
        {"CR LF cut between its two bytes",
         {"--URL\r", "\nh.test\r", "\n/u.txt"},
         {"--URL", "h.test", "/u.txt"}},
        {"CR alone and LF alone", {"a\rb\nc"}, {"a", "b", "c"}},
        {"an empty line stays one line", {"a\r\n\r\nb\n\nc\r\rd"}, {"a", "", "b", "", "c", "", "d"}},
        {"LF CR is two line ends", {"a\n\rb"}, {"a", "", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell::UpdateLineSplitter s;
        platform::StringList lines;
        for (const auto& b : c.blocks)
            s.feed(b, lines);
        s.finish(lines);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(UpdateCheck, RepliesAreAppliedLineByLine) {
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.start());
    const std::string big = Ok + "--:kill\n" + std::string(1100 * 1024, 'x') + "\n";
    const ReplyCase cases[] = {
        {"kill and two engines",
         Ok + "--:kill\n--:a.test/x?q=\n--:b.test/y?q=\n",
         {},
         {"a.test/x?q=", "b.test/y?q="}},
        {"an engine line cut by the server's writes",
         Ok + "--:kill\n--:cut.test/search?q=",
         {Ok.size() + 12, 6},
         {"cut.test/search?q="}},
        {"present, empty and control-character lines",
         Ok + "--:dup.test/?q=\n--:\n--:t\tab.test/?q=\n--:e\x1b.test/\n",
         {},
         Old},
        {"notices and builds",
         Ok + "--MESSAGE hi\n--MESSAGE\n--:27:Latestbuild#\n--:29:Latestbuild#\n--:soon:Latestbuild#\n" +
             "--MESSAGE" + std::string(300, 'm') + "\n--MESSAGE \x1b]0;title\x07\x1b[2Jgone\n",
         {},
         Old,
         {" hi", "", NewBuild, NewBuild, std::string(254, 'm'), " ?]0;title??[2Jgone"}},
        {"--URL moves the address", Ok + "--URL\nnew.test\n/new.txt\n", {}, Old, {}, "new.test", "/new.txt"},
        {"CR LF ends", Ok + "--URL\r\nnew.test\r\n/new.txt\r\n", {}, Old, {}, "new.test", "/new.txt"},
        {"CR LF cut between the CR and the LF",
         Ok + "--URL\r\nnew.test\r\n/new.txt\r\n",
         {Ok.size() + 6, 9},
         Old,
         {},
         "new.test",
         "/new.txt"},
        {"an empty host keeps the address and the rest applies",
         Ok + "--URL\n\n/new.txt\n--:z.test/?q=\n",
         {},
         {"old.test/?q=", "dup.test/?q=", "z.test/?q="}},
        {"an empty path keeps the address", Ok + "--URL\nnew.test\n\n", {}, Old},
        {"a control character keeps the address", Ok + "--URL\nnew\x1b.test\n/new.txt\n", {}, Old},
        {"--URL among the last two lines changes nothing",
         Ok + "--:z.test/?q=\n--URL\nonly.test\n",
         {},
         {"old.test/?q=", "dup.test/?q=", "z.test/?q="}},
        {"a reply past 1 MB applies nothing", big, {}, Old},
    };
    int n = 0;
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/u" + std::to_string(++n) + ".txt";
        peer.raw(path, c.bytes, c.splits);
        Check check(peer.hostPort());
        check.p.main.updatefile_Caption = path;
        ASSERT_TRUE(check.run());
        EXPECT_EQ(check.outcomes,
                  std::vector<shell::UpdateOutcome>{c.bytes == big ? shell::UpdateOutcome::TooLarge
                                                                   : shell::UpdateOutcome::Applied});
        EXPECT_EQ(check.p.startlinks.Items(), c.engines);
        EXPECT_EQ(check.messages, c.messages);
        EXPECT_EQ(check.p.main.updateIP_Caption, c.host.empty() && c.path.empty() ? peer.hostPort() : c.host);
        EXPECT_EQ(check.p.main.updatefile_Caption, c.path.empty() ? path : c.path);
        EXPECT_EQ(peer.requests().back(), std::vector<std::string>{"GET " + path + " HTTP/1.0"});
    }
}

TEST(UpdateCheck, ThroughARealProxyTheRequestNamesTheWholeAddress) {
    testpeers::HttpPeer peer;
    testpeers::TinyProxy proxy;
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(proxy.start());
    peer.raw("/~jorun/update.txt", Ok + "--:kill\n--:via.test/?q=\n");
    Check check(peer.hostPort());
    check.p.settings.proxy = {true, proxy.host(), std::to_string(proxy.port())};
    ASSERT_TRUE(check.run());
    EXPECT_EQ(check.p.startlinks.Items(), platform::StringList{"via.test/?q="});
    EXPECT_EQ(check.p.w.updatecheck.requestSent(),
              "GET http://" + peer.hostPort() + "/~jorun/update.txt HTTP/1.0\r\n\r\n");
    EXPECT_NE(proxy.log().find("GET http://" + peer.hostPort() + "/~jorun/update.txt HTTP/1.0"),
              std::string::npos)
        << proxy.log();
    EXPECT_EQ(peer.requestLines().back().rfind("GET /~jorun/update.txt HTTP/1.", 0), 0u);
}

TEST(UpdateCheck, FailuresChangeNothing) {
    // The reserved default host fails at once, before anything is sent.
    Check unresolved(shell::DefaultUpdateHost);
    EXPECT_THROW(
        {
            try {
                unresolved.start();
            } catch (const net::ESocketException& e) {
                EXPECT_STREQ(e.what(), "SetAddr: Cannot convert host address 'update.wavetrap.invalid'");
                throw;
            }
        },
        net::ESocketException);
    EXPECT_FALSE(unresolved.p.w.updatecheck.running());

    // Nobody listening.
    const testpeers::ClosedPort closed;
    Check refused("127.0.0.1:" + std::to_string(closed.port()));
    ASSERT_TRUE(refused.run());
    EXPECT_EQ(refused.outcomes, std::vector<shell::UpdateOutcome>{shell::UpdateOutcome::NoReply});
    EXPECT_EQ(refused.p.w.updatecheck.connectError(), net::WSAECONNREFUSED);
    EXPECT_EQ(refused.p.startlinks.Items(), Old);

    // A server that never answers: the check stays open, a second start is
    // refused, and cancelling ends it with nothing applied.
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.start());
    peer.hang("/~jorun/update.txt");
    Check silent(peer.hostPort());
    silent.start();
    ASSERT_TRUE(peer.waitForRequests(1));
    platform::runUntil([] { return false; }, 200);
    EXPECT_TRUE(silent.outcomes.empty());
    EXPECT_THROW(silent.start(), net::ESocketException);
    silent.p.w.updatecheck.cancel();
    EXPECT_EQ(silent.outcomes, std::vector<shell::UpdateOutcome>{shell::UpdateOutcome::Cancelled});
    EXPECT_EQ(silent.p.startlinks.Items(), Old);
}

// nginx serves an update file written with CR LF line ends: the address it
// names is taken whole, the next check reaches it, and what is stored names it.
TEST_F(UpdateAddress, ACrLfUpdateFileFromNginxMovesTheAddressAndTheNextCheckGoesThere) {
    testsupport::TempDir root;
    testpeers::NginxPeer nginx;
    ASSERT_TRUE(nginx.start(root.path())) << nginx.log();
    const std::string host = "127.0.0.1:" + std::to_string(nginx.port());
    testsupport::writeFile(root.file("update.txt"),
                           "--URL\r\n" + host + "\r\n/next.txt\r\n--:kill\r\n--:crlf.test/?q=\r\n");
    testsupport::writeFile(root.file("next.txt"), "--MESSAGE from the new address\r\n");
    {
        Check check(host);
        check.p.main.updatefile_Caption = "/update.txt";
        ASSERT_TRUE(check.run()) << nginx.log();
        EXPECT_EQ(check.outcomes, std::vector<shell::UpdateOutcome>{shell::UpdateOutcome::Applied});
        EXPECT_EQ(check.p.main.updateIP_Caption, host);
        EXPECT_EQ(check.p.main.updatefile_Caption, "/next.txt");
        EXPECT_EQ(check.p.startlinks.Items(), platform::StringList{"crlf.test/?q="});
        check.outcomes.clear();
        ASSERT_TRUE(check.run());
        EXPECT_EQ(check.messages, std::vector<std::string>{" from the new address"});
        check.p.exit();
    }
    const platform::TIniFile forms(this->forms());
    EXPECT_EQ(forms.ReadString("items", "updateIP_Caption", ""), host);
    EXPECT_EQ(forms.ReadString("items", "updatefile_Caption", ""), "/next.txt");
}

// A settings file that an earlier version left with an empty address gets the
// built-in one back at the next start.
TEST_F(UpdateAddress, AnEmptyStoredUpdateAddressIsNotTaken) {
    testsupport::writeFile(forms(), "[items]\nupdateIP_Caption=\nupdatefile_Caption=\n");
    Program p;
    p.start();
    EXPECT_EQ(p.main.updateIP_Caption, shell::DefaultUpdateHost);
    EXPECT_EQ(p.main.updatefile_Caption, shell::DefaultUpdateFile);
    testsupport::writeFile(forms(), "[items]\nupdateIP_Caption=kept.test:8080\nupdatefile_Caption=/k.txt\n");
    Program q;
    q.start();
    EXPECT_EQ(q.main.updateIP_Caption, "kept.test:8080");
    EXPECT_EQ(q.main.updatefile_Caption, "/k.txt");
}

} // namespace
