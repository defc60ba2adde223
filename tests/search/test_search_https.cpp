// wavetrap-cli search with an https:// engine entry from the saved list,
// against an HTTPS server whose certificate the tests made: trusted only
// with --cacert, and a failure that names the host and the reason.

#include "search_fixture.h"

#include "peers/http_peers.h"
#include "peers/test_ca.h"
#include "support/cli_run.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/inotify.h>
#include <unistd.h>

using searchtest::resultPage;
using searchtest::siteLinks;

TEST(SearchHttps, EngineEntryOverTlsTrustedWithCacertOnly) {
    testpeers::TestCa ca;
    ASSERT_TRUE(ca.ok());
    const testpeers::ServerCert cert = ca.issue("engine", "DNS:localhost,IP:127.0.0.1");
    testpeers::HttpPeer peer;
    ASSERT_TRUE(peer.startTls(cert.cert, cert.key));
    peer.serve("/s?q=tls", resultPage(siteLinks("e1.test", 2)));
    testsupport::TempDir cfg;
    testsupport::writeFile(cfg.file("wavbin.Ini"),
                           "[Settings]\npath=cutftp32\n[Links]\n0=" + peer.url("/s?q=") + "\n");

    testsupport::CliRun r = testsupport::runCli({"search", "--cacert", ca.certFile(), "tls"}, cfg.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("ftp://e1.test/"), std::string::npos) << r.out;
    ASSERT_EQ(peer.requestLines().size(), 1u);
    EXPECT_EQ(peer.requestLines()[0], "GET /s?q=tls HTTP/1.0");

    r = testsupport::runCli({"search", "tls"}, cfg.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("TLS with 127.0.0.1: untrusted issuer"), std::string::npos) << r.err;
    EXPECT_EQ(peer.requestLines().size(), 1u);

    // The system's trust store as OpenSSL's variables name it: a hashed
    // directory (read a certificate at a time), or a bundle file.
    testsupport::TempDir hashed;
    testsupport::writeFile(hashed.file("ca.pem"), testsupport::readFile(ca.certFile()));
    ASSERT_EQ(std::system(("openssl rehash " + hashed.path() + " 2>/dev/null").c_str()), 0);
    {
        const testsupport::ScopedEnv dir("SSL_CERT_DIR", hashed.path());
        r = testsupport::runCli({"search", "tls"}, cfg.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    {
        const testsupport::ScopedEnv file("SSL_CERT_FILE", ca.certFile());
        r = testsupport::runCli({"search", "tls"}, cfg.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }

    r = testsupport::runCli({"search", "--cacert", cfg.file("missing.pem"), "tls"}, cfg.path());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--cacert: " + cfg.file("missing.pem")), std::string::npos) << r.err;
}

// The system's bundle of trusted certificates is read only when a chain needs
// a certificate that neither --cacert nor the store already holds, and then
// once in a run however many engines need it. The bundle's openings are
// counted as the kernel reports them.
TEST(SearchHttps, TheSystemBundleIsReadOnceAndOnlyWhenAChainNeedsIt) {
    testpeers::TestCa given("Given CA"), system("System CA"), rogue("Rogue CA");
    ASSERT_TRUE(given.ok() && system.ok() && rogue.ok());
    testsupport::TempDir trust, cfg;
    const std::string bundle = trust.file("bundle.pem");
    testsupport::writeFile(bundle, testsupport::readFile(system.certFile()));
    const testsupport::ScopedEnv file("SSL_CERT_FILE", bundle);
    const testsupport::ScopedEnv dir("SSL_CERT_DIR", trust.path()); // no hashed certificates

    testpeers::HttpPeer plain, byGiven, bySystem, byRogue;
    const auto tls = [](testpeers::HttpPeer& p, testpeers::TestCa& ca, const char* name) {
        const testpeers::ServerCert c = ca.issue(name, "DNS:localhost,IP:127.0.0.1");
        return p.startTls(c.cert, c.key);
    };
    ASSERT_TRUE(plain.start() && tls(byGiven, given, "given") && tls(bySystem, system, "system") &&
                tls(byRogue, rogue, "rogue"));
    std::vector<std::string> engines[4]; // three entries on each server
    testpeers::HttpPeer* servers[4] = {&plain, &byGiven, &bySystem, &byRogue};
    for (int s = 0; s < 4; ++s) {
        for (int e = 0; e < 3; ++e) {
            const std::string path = "/e" + std::to_string(e) + "?q=";
            servers[s]->serve(path + "x", resultPage(siteLinks("s" + std::to_string(s) + ".test", 1)));
            engines[s].push_back(servers[s]->url(path));
        }
    }
    struct Run {
        const char* name;
        bool cacert;
        std::vector<int> servers;
        int openings;
        int exitCode;
        const char* errorHas;
    } runs[] = {
        {"http engines", true, {0}, 0, 0, ""},
        {"engines trusted through --cacert", true, {1}, 0, 0, ""},
        {"engines trusted through the bundle", false, {2}, 1, 0, ""},
        {"all of them and an untrusted one", true, {0, 1, 2, 3}, 1, 0, "untrusted issuer"},
        {"only an untrusted one", true, {3}, 1, 1, "untrusted issuer"},
    };
    for (const Run& r : runs) {
        std::vector<std::string> args{"search"};
        if (r.cacert) args.insert(args.end(), {"--cacert", given.certFile()});
        for (int s : r.servers)
            for (const std::string& e : engines[s])
                args.insert(args.end(), {"--engine", e});
        args.push_back("x");
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, bundle.c_str(), IN_OPEN), 0);
        const testsupport::CliRun run = testsupport::runCli(args, cfg.path());
        int openings = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
            for (char* at = events; at < events + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(at);
                openings += (e->mask & IN_OPEN) != 0;
                at += sizeof(inotify_event) + e->len;
            }
        }
        ::close(watch);
        EXPECT_EQ(openings, r.openings) << r.name;
        EXPECT_EQ(run.exitCode, r.exitCode) << r.name << "\n" << run.err;
        for (int s : r.servers) // every trusted server's rows, the untrusted one's none
            EXPECT_EQ(run.out.find("s" + std::to_string(s) + ".test") != std::string::npos, s != 3) << r.name;
        EXPECT_NE(run.err.find(r.errorHas), std::string::npos) << r.name << "\n" << run.err;
    }
}
