// wavetrap-cli search run as a separate program against several local HTTP
// servers and a real tinyproxy, with its settings in a temporary directory.

#include "search_fixture.h"

#include "peers/ftp_peer.h"
#include "peers/http_peers.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "platform/profile.h"
#include "support/cli_run.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <sys/stat.h>

using searchtest::resultPage;
using searchtest::siteLinks;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using testsupport::CliRun;

CliRun runCli(std::vector<std::string> args, const std::string& configDir) {
    args.insert(args.begin(), "search");
    return testsupport::runCli(args, configDir);
}

// The table rows of links as the program prints them, for a site of the given score.
std::string rows(const std::vector<std::string>& links, const std::string& site, int score) {
    std::string out;
    for (const std::string& l : links) {
        std::string name = l.substr(l.rfind('/') + 1);
        for (char& c : name)
            if (c == '_') c = ' ';
        out += name + "\t" + std::to_string(score) + "\t" + site + "\t" + l + "\n";
    }
    return out;
}

class SearchCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (int i = 0; i < 3; ++i) {
            peers_[i] = new testpeers::HttpPeer;
            ASSERT_TRUE(peers_[i]->start("127.0.0." + std::to_string(i + 1)));
        }
        proxy_ = new testpeers::TinyProxy;
        ASSERT_TRUE(proxy_->start());
    }
    static void TearDownTestSuite() {
        for (auto*& p : peers_) {
            delete p;
            p = nullptr;
        }
        delete proxy_;
        proxy_ = nullptr;
    }
    static testpeers::HttpPeer& peer(int i) { return *peers_[i]; }

    // Site statistics giving site e<i>.test the score (7 - i) * 1000, so the
    // table order does not depend on which page arrives first.
    void writeStats() {
        std::string ip = "[items.stats_ip_Items]\nCount=7\n", good = "[items.stats_good_Items]\nCount=7\n",
                    bad = "[items.stats_bad_Items]\nCount=7\n";
        for (int i = 0; i < 7; ++i) {
            ip += "Item" + std::to_string(i) + "=e" + std::to_string(i) + ".test\n";
            good += "Item" + std::to_string(i) + "=" + std::to_string(7 - i) + "\n";
            bad += "Item" + std::to_string(i) + "=1\n";
        }
        writeFile(cfg.file("wavbin"), ip + good + bad);
    }
    void writeLinks(const std::vector<std::string>& entries,
                    const std::string& settings = "path=cutftp32\n") {
        std::string s = "[Settings]\n" + settings + "[Links]\n";
        for (std::size_t i = 0; i < entries.size(); ++i)
            s += std::to_string(i) + "=" + entries[i] + "\n";
        writeFile(cfg.file("wavbin.Ini"), s);
    }

    TempDir cfg;

private:
    static testpeers::HttpPeer* peers_[3];
    static testpeers::TinyProxy* proxy_;

protected:
    static testpeers::TinyProxy& proxy() { return *proxy_; }
};

testpeers::HttpPeer* SearchCli::peers_[3] = {nullptr, nullptr, nullptr};
testpeers::TinyProxy* SearchCli::proxy_ = nullptr;

TEST_F(SearchCli, AllEnginesOnSeveralServersFillOneTableAndTheSettingsStay) {
    std::vector<std::string> entries;
    std::string want;
    for (int i = 0; i < 7; ++i) {
        testpeers::HttpPeer& p = peer(i % 3);
        const std::string site = "e" + std::to_string(i) + ".test";
        const auto links = siteLinks(site, i == 2 ? 20 : 3);
        const std::string path = std::string(searchtest::DefaultPaths[i]) + "two+words";
        if (i == 1) { // relocated to another server
            p.relocate(path, peer(2).url("/moved/" + std::to_string(i)));
            peer(2).serve("/moved/" + std::to_string(i), resultPage(links));
        } else if (i == 2) { // a large page whose links arrive cut by the server's writes
            p.serve(path, resultPage(links, 50000), {100, 5003, 7, 20011, 3, 60000});
        } else {
            p.serve(path, resultPage(links), {90, 13, 250});
        }
        entries.push_back(p.hostPort() + searchtest::DefaultPaths[i]);
        want += rows(links, site, (7 - i) * 1000);
    }
    peer(0).reply("/gone?q=two+words", 404, "Not Found", {}, resultPage(siteLinks("e0.test", 1)));
    entries.push_back(peer(0).hostPort() + "/gone?q=");
    entries.push_back("engine.invalid/s?q=");
    writeLinks(entries, "path=/opt/cute/cutftp32\nproxy=0\nproxyname=\nproxyport=81\n");
    writeStats();

    const CliRun r = runCli({"two", "words"}, cfg.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // No progress when standard error is not a terminal; the failed queries say why.
    EXPECT_NE(r.err.find("wavetrap-cli: search: engine.invalid/s?q=two+words: 404 can't resolve hostname"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("/gone?q=two+words: 404 Not Found\n"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_EQ(r.out, want);

    const platform::TIniFile ini(cfg.file("wavbin.Ini"));
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(ini.ReadString("Links", std::to_string(i), ""), entries[i]);
    EXPECT_EQ(ini.ReadString("Links", std::to_string(entries.size()), "?"), "");
    EXPECT_EQ(ini.ReadString("Settings", "path", ""), "/opt/cute/cutftp32");
    const platform::TIniFile forms(cfg.file("wavbin"));
    EXPECT_EQ(forms.ReadString("items.stats_ip_Items", "Item6", ""), "e6.test");
    EXPECT_EQ(forms.ReadString("cfg", "Guideshow_Checked", ""), "True");
}

TEST_F(SearchCli, EngineOptionsReplaceTheSavedListForThisRunOnly) {
    peer(1).serve("/only?q=x", resultPage(siteLinks("e3.test", 2)));
    writeLinks({"saved.invalid/s?q="});
    writeStats();
    const std::size_t before = peer(1).requestLines().size();
    const CliRun r = runCli(
        {"--engine", peer(1).hostPort() + "/only?q=", "--engine=" + peer(1).hostPort() + "/none?q=", "x"},
        cfg.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, rows(siteLinks("e3.test", 2), "e3.test", 4000));
    auto lines = peer(1).requestLines();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(before));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"GET /none?q=x HTTP/1.0", "GET /only?q=x HTTP/1.0"}));
    EXPECT_EQ(platform::TIniFile(cfg.file("wavbin.Ini")).ReadString("Links", "0", ""), "saved.invalid/s?q=");
    EXPECT_EQ(platform::TIniFile(cfg.file("wavbin.Ini")).ReadString("Links", "1", "?"), "");

    // Once the files have settled (the first runs put the sections in the
    // order the program writes them), a search that changes no setting leaves
    // both as they are, not even replaced by the same text (a replaced file
    // is waited for on the disk).
    const auto inode = [this](const char* name) {
        struct stat st = {};
        return ::stat(cfg.file(name).c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const std::vector<std::string> again{"--engine", peer(1).hostPort() + "/only?q=", "x"};
    EXPECT_EQ(runCli(again, cfg.path()).exitCode, 0);
    const auto ini = inode("wavbin.Ini"), forms = inode("wavbin");
    const std::string iniText = readFile(cfg.file("wavbin.Ini")), formsText = readFile(cfg.file("wavbin"));
    EXPECT_EQ(runCli(again, cfg.path()).exitCode, 0);
    EXPECT_EQ(inode("wavbin.Ini"), ini);
    EXPECT_EQ(inode("wavbin"), forms);
    EXPECT_EQ(readFile(cfg.file("wavbin.Ini")), iniText);
    EXPECT_EQ(readFile(cfg.file("wavbin")), formsText);
}

TEST_F(SearchCli, TheTimeOutCancelsEnginesThatNeverAnswerOrNeverStopAndPrintsWhatWasFound) {
    peer(2).hang("/never?q=late");
    peer(2).endless("/flood?q=late", "HTTP/1.0 200 OK\r\n\r\n", "la la la ");
    peer(2).endless("/headers?q=late", "HTTP/1.0 200 OK\r\n", "X-More: again\r\n");
    peer(2).serve("/quick?q=late", resultPage(siteLinks("e5.test", 2)));
    writeLinks({peer(2).hostPort() + "/never?q=", peer(2).hostPort() + "/flood?q=",
                peer(2).hostPort() + "/headers?q=", peer(2).hostPort() + "/quick?q="});
    writeStats();
    const CliRun r = runCli({"--timeout", "1", "late"}, cfg.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, rows(siteLinks("e5.test", 2), "e5.test", 2000));
}

// Without --timeout the search still ends; an engine entry (or a relocation)
// that leads to a real FTP server fails that engine at once, the others go on.
TEST_F(SearchCli, AnFtpServerAsEngineFailsThatEngineAtOnce) {
    TempDir root;
    testpeers::FtpPeer ftp;
    testpeers::FtpPeerOptions opt;
    opt.root = root.path();
    ASSERT_TRUE(ftp.start(opt));
    const std::string ftpEngine = ftp.host() + ":" + std::to_string(ftp.port()) + "/search?q=";
    peer(1).relocate("/moved?q=ftp", "http://" + ftpEngine + "ftp");
    peer(1).serve("/fine?q=ftp", resultPage(siteLinks("e2.test", 1)));
    const std::string moved = peer(1).hostPort() + "/moved?q=";
    writeLinks({ftpEngine, moved, peer(1).hostPort() + "/fine?q="});
    writeStats();
    const auto start = std::chrono::steady_clock::now();
    const CliRun r = runCli({"ftp"}, cfg.path());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, rows(siteLinks("e2.test", 1), "e2.test", 5000));
    for (const std::string& engine : {ftpEngine, moved})
        EXPECT_NE(r.err.find("search: " + engine + "ftp: 404 Not an HTTP reply: \"220 "), std::string::npos)
            << r.err;
}

TEST_F(SearchCli, FailedQueriesSayWhyAndUnsavableSettingsOnlyWarn) {
    peer(1).serve("/ok?q=why", resultPage(siteLinks("e3.test", 1)));
    peer(1).reply("/gone?q=why", 404, "Not Found\x1b]0;owned\x07\x1b[2J", {}, ""); // a hostile reason
    const std::string ok = peer(1).hostPort() + "/ok?q=", gone = peer(1).hostPort() + "/gone?q=";
    CliRun r = runCli({"--engine", ok, "--engine", gone, "why"}, "/dev/null/wavetrap");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, rows(siteLinks("e3.test", 1), "e3.test", 250));
    EXPECT_EQ(r.err, "wavetrap-cli: warning: the settings cannot be saved: Unable to write to "
                     "/dev/null/wavetrap/wavbin.Ini\nwavetrap-cli: search: " +
                         gone + "why: 404 Not Found?]0;owned??[2J\n");
    r = runCli({"-v", "--engine", ok, "why"}, cfg.path());
    EXPECT_NE(r.err.find("search: " + ok + "why: 200 OK, "), std::string::npos) << r.err;
    // A proxy that refuses the connection is named.
    const testpeers::ClosedPort closed;
    const int closedPort = closed.port();
    r = runCli({"--proxy", "127.0.0.1:" + std::to_string(closedPort), "--engine", ok, "why"}, cfg.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Connection refused (Error #10061) (through the proxy 127.0.0.1:" +
                         std::to_string(closedPort) + ")"),
              std::string::npos)
        << r.err;
}

TEST_F(SearchCli, SigintOrSigtermPrintsTheRowsFoundSoFarSavesAndExits130Or143) {
    peer(1).serve("/part?q=sig", resultPage(siteLinks("e6.test", 2)));
    peer(1).hang("/stuck?q=sig");
    for (const auto& [sig, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        TempDir config;
        testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
        testpeers::ChildProcess p;
        ASSERT_TRUE(p.start(WAVETRAP_CLI_PATH, {"search", "-v", "--timeout", "60", "--engine",
                                                peer(1).hostPort() + "/part?q=", "--engine",
                                                peer(1).hostPort() + "/stuck?q=", "sig"}));
        // The first engine's page is in; the second never answers.
        ASSERT_TRUE(platform::runUntil(
            [&] { return p.output().find("part?q=sig: 200 OK") != std::string::npos || !p.running(); },
            20000));
        ASSERT_TRUE(p.running()) << p.output();
        ::kill(static_cast<pid_t>(p.pid()), sig);
        ASSERT_TRUE(platform::runUntil([&] { return !p.running(); }, 10000));
        EXPECT_EQ(p.exitCode(), status) << p.output();
        for (const std::string& link : siteLinks("e6.test", 2)) // the rows found so far
            EXPECT_NE(p.output().find("\te6.test\t" + link + "\n"), std::string::npos) << p.output();
        EXPECT_TRUE(platform::TIniFile(config.file("wavbin.Ini")).SectionExists("Links")); // saved
    }
}

TEST_F(SearchCli, ThroughARealProxy) {
    peer(1).serve("/viaproxy?q=p+q", resultPage(siteLinks("e4.test", 2)));
    writeLinks({peer(1).hostPort() + "/viaproxy?q="}, "path=cutftp32\nproxy=0\nproxyname=\nproxyport=81\n");
    writeStats();
    const std::size_t before = peer(1).requestLines().size();
    const CliRun r = runCli({"--proxy", proxy().hostPort(), "p", "q"}, cfg.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, rows(siteLinks("e4.test", 2), "e4.test", 3000));
    // The engine got the request from the proxy, which logged the full URL.
    ASSERT_GT(peer(1).requestLines().size(), before);
    EXPECT_EQ(peer(1).requestLines().back().rfind("GET /viaproxy?q=p+q HTTP/1.", 0), 0u);
    EXPECT_NE(proxy().log().find("http://" + peer(1).hostPort() + "/viaproxy?q=p+q"), std::string::npos)
        << proxy().log();
    // The proxy given on the command line is not remembered.
    EXPECT_EQ(platform::TIniFile(cfg.file("wavbin.Ini")).ReadString("Settings", "proxy", ""), "0");
}

TEST_F(SearchCli, ExitStatusesAndUsageErrors) {
    peer(0).reply("/empty?q=nothing", 200, "OK", {}, "<html>no results</html>");
    writeLinks({peer(0).hostPort() + "/empty?q="});
    CliRun r = runCli({"nothing"}, cfg.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");

    struct Row {
        std::vector<std::string> args;
        const char* message;
    } bad[] = {
        {{}, "wavetrap-cli: search: no search phrase given"},
        {{"--timeout", "soon", "x"},
         "wavetrap-cli: search: --timeout: 'soon' is not a positive number of seconds"},
        {{"--timeout", "0", "x"}, "wavetrap-cli: search: --timeout: '0' is not a positive number of seconds"},
        {{"--proxy", "host:99999", "x"}, "wavetrap-cli: search: --proxy: '99999' is not a port number"},
        {{"--proxy", ":8080", "x"}, "wavetrap-cli: search: --proxy needs a host name"},
        {{"--engine"}, "wavetrap-cli: search: --engine needs an engine entry"},
        {{"--colour", "x"}, "wavetrap-cli: search: unknown option '--colour'"},
        // A line break would split the request line of every query.
        {{"two\nlines"}, "wavetrap-cli: search: the phrase cannot hold a line break"},
        {{"x", "y\r"}, "wavetrap-cli: search: the phrase cannot hold a line break"},
        {{"--engine", "a.test/s?q=\r\nX-Injected: 1", "x"},
         "wavetrap-cli: search: --engine: an engine entry cannot hold a line break"},
    };
    const std::string before = readFile(cfg.file("wavbin.Ini"));
    for (const Row& b : bad) {
        r = runCli(b.args, cfg.path());
        EXPECT_EQ(r.exitCode, 2) << b.message;
        EXPECT_EQ(r.err.rfind(b.message, 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(readFile(cfg.file("wavbin.Ini")), before); // a refused command line touches nothing

    // A settings directory that cannot be written: a warning, once; the search still runs.
    writeFile(cfg.file("plainfile"), "");
    r = runCli({"--engine", peer(0).hostPort() + "/empty?q=", "x"}, cfg.file("plainfile") + "/wavetrap");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("wavetrap-cli: warning: the settings cannot be saved: Unable to write to " +
                              cfg.file("plainfile") + "/wavetrap/wavbin.Ini\n",
                          0),
              0u)
        << r.err;

    r = runCli({"--help"}, cfg.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage: wavetrap-cli search [OPTIONS] PHRASE..."), std::string::npos);
}

} // namespace
