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
