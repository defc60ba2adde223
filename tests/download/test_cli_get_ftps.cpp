// wavetrap-cli get with ftpes:// and ftps:// URLs against vsftpd with TLS
// forced and session reuse required, trusted with --cacert; and a server
// without TLS for an ftpes:// URL: the run ends, says why, and no log-in
// ever went out.
#include "peers/dialogue_server.h"
#include "peers/ftp_peer.h"
#include "peers/process.h"
#include "peers/test_ca.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

int runGet(std::vector<std::string> args, std::string& output) {
    testpeers::ChildProcess p;
    args.insert(args.begin(), "get");
    EXPECT_TRUE(p.start(WAVETRAP_CLI_PATH, args));
    EXPECT_TRUE(platform::runUntil([&] { return !p.running(); }, 60000)) << p.output();
    output = p.output();
    return p.exitCode();
}

std::string tlsConf(const testpeers::ServerCert& c, bool implicit) {
    return "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
           "require_ssl_reuse=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
           c.cert + "\nrsa_private_key_file=" + c.key + "\n" + (implicit ? "implicit_ssl=YES\n" : "");
}

TEST(CliGetFtps, ExplicitAndImplicitFtpsAndNoTlsWhenRequired) {
    if (!testpeers::VsftpdPeer::available()) GTEST_SKIP() << "vsftpd is not installed";
    testpeers::TestCa ca;
    ASSERT_TRUE(ca.ok());
    const testpeers::ServerCert cert = ca.issue("ftp", "IP:127.0.0.1");
    testsupport::TempDir root, config, out;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "5"};
    const std::string body = testpeers::fillBytes(0, 300000);
    testsupport::writeFile(root.file("one.mp3"), body);
    testsupport::writeFile(root.file("two.mp3"), body.substr(0, 1000));

    struct Row {
        const char* scheme;
        bool implicit;
    } rows[] = {{"ftpes", false}, {"ftps", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scheme);
        testpeers::VsftpdPeer vs;
        ASSERT_TRUE(vs.start(root.path(), false, "127.0.0.1", tlsConf(cert, row.implicit))) << vs.output();
        const std::string base = std::string(row.scheme) + "://127.0.0.1:" + std::to_string(vs.port()) + "/";
        std::string output;
        EXPECT_EQ(
            runGet({"-C", out.path(), "--cacert", ca.certFile(), base + "one.mp3", base + "two.mp3"}, output),
            0)
            << output;
        EXPECT_EQ(testsupport::readFile(out.file("one.mp3")), body);
        EXPECT_EQ(testsupport::readFile(out.file("two.mp3")), body.substr(0, 1000));
        ::unlink(out.file("one.mp3").c_str());
        ::unlink(out.file("two.mp3").c_str());
    }

    testpeers::VsftpdPeer plain;
    ASSERT_TRUE(plain.start(root.path(), false, "127.0.0.1", "log_ftp_protocol=YES\n")) << plain.output();
    std::string output;
    EXPECT_EQ(
        runGet({"-C", out.path(), "ftpes://127.0.0.1:" + std::to_string(plain.port()) + "/one.mp3"}, output),
        1);
    EXPECT_NE(output.find("No TLS offered by 127.0.0.1"), std::string::npos) << output;
    struct stat st {};
    EXPECT_NE(::stat(out.file("one.mp3").c_str(), &st), 0);
}

} // namespace
