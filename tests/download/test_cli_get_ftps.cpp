// wavetrap-cli get with ftpes:// and ftps:// URLs against vsftpd with TLS
// forced and session reuse required, trusted with --cacert; and a server
// without TLS for an ftpes:// URL: the run ends, says why, and no log-in
// ever went out. ftp:// links under ftptls offered and required: TLS where
// the server has it, plain where not (offered), never a log-in in clear
// (required), and a certificate that changed at a host and port is refused.
#include "peers/dialogue_server.h"
#include "peers/ftp_peer.h"
#include "peers/process.h"
#include "peers/test_ca.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <optional>

namespace {

// limit: a shell line run before the program ("ulimit -f 3; ").
int runGet(std::vector<std::string> args, std::string& output, const std::string& limit = "") {
    testpeers::ChildProcess p;
    // The sites serve patterned text under .mp3 names, compared byte for byte.
    args.insert(args.begin(), {"get", "--no-verify"});
    if (limit.empty()) {
        EXPECT_TRUE(p.start(WAVETRAP_CLI_PATH, args));
    } else {
        args.insert(args.begin(), {"-c", limit + "exec \"$0\" \"$@\"", WAVETRAP_CLI_PATH});
        EXPECT_TRUE(p.start("/bin/sh", args));
    }
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

std::string protocolLog(const std::string& file) {
    return "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\nvsftpd_log_file=" + file + "\n";
}

TEST(CliGetFtps, FtpLinksUnderFtpTlsOfferedAndRequired) {
    if (!testpeers::VsftpdPeer::available()) GTEST_SKIP() << "vsftpd is not installed";
    testpeers::TestCa ca, other("Another Test CA");
    ASSERT_TRUE(ca.ok() && other.ok());
    const testpeers::ServerCert first = ca.issue("ftp", "IP:127.0.0.1");
    const testpeers::ServerCert second = other.issue("ftp", "IP:127.0.0.1");
    testsupport::TempDir root, config, out, logs;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "5"};
    const std::string body = testpeers::fillBytes(0, 200000);
    testsupport::writeFile(root.file("one.mp3"), body);
    const std::string known = config.file("ftptls.Ini");
    std::string output;
    auto fetched = [&] {
        const bool whole = testsupport::readFile(out.file("one.mp3")) == body;
        ::unlink(out.file("one.mp3").c_str());
        return whole;
    };

    int port = 0;
    std::string remembered;
    {
        // vsftpd refuses a log-in in clear here: a fetched file went over TLS.
        testpeers::VsftpdPeer vs;
        ASSERT_TRUE(vs.start(root.path(), false, "127.0.0.1", tlsConf(first, false))) << vs.output();
        port = vs.port();
        const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/one.mp3";
        // A certificate that verifies is taken as usual, and not remembered.
        EXPECT_EQ(runGet({"-C", out.path(), "--ftp-tls", "offered", "--cacert", ca.certFile(), url}, output),
                  0)
            << output;
        EXPECT_TRUE(fetched()) << output;
        EXPECT_NE(::access(known.c_str(), F_OK), 0);
        // One that does not is taken on first contact, and remembered.
        EXPECT_EQ(runGet({"-C", out.path(), "--ftp-tls=offered", url}, output), 0) << output;
        EXPECT_TRUE(fetched()) << output;
        struct stat st {};
        ASSERT_EQ(::stat(known.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const std::string text = testsupport::readFile(known);
        const std::string key = "127.0.0.1:" + std::to_string(port) + "=";
        ASSERT_NE(text.find(key), std::string::npos) << text;
        remembered = text.substr(text.find(key) + key.size(), 95);
    }
    {
        // Another certificate that does not verify at the same host and port,
        // with the mode from the settings file: refused, no plain try.
        testpeers::VsftpdPeer vs;
        ASSERT_TRUE(vs.start(root.path(), false, "127.0.0.1",
                             tlsConf(second, false) + "listen_port=" + std::to_string(port) + "\n"))
            << vs.output();
        ASSERT_EQ(vs.port(), port);
        testsupport::writeFile(config.file("wavbin.Ini"), "[Settings]\nftptls=offered\n");
        EXPECT_EQ(runGet({"-C", out.path(), "ftp://127.0.0.1:" + std::to_string(port) + "/one.mp3"}, output),
                  1)
            << output;
        EXPECT_NE(output.find("certificate of 127.0.0.1:" + std::to_string(port) + " changed"),
                  std::string::npos)
            << output;
        EXPECT_NE(output.find("remembered SHA-256 " + remembered + ", now "), std::string::npos) << output;
        EXPECT_FALSE(fetched());
        EXPECT_NE(testsupport::readFile(config.file("wavbin.Ini")).find("ftptls=offered"), std::string::npos);
    }
    {
        // The same host and port without TLS now: it spoke TLS before, so
        // this is refused, and no log-in goes out in clear.
        const std::string log = logs.file("pinned.log");
        testpeers::VsftpdPeer plain;
        ASSERT_TRUE(plain.start(root.path(), false, "127.0.0.1",
                                protocolLog(log) + "listen_port=" + std::to_string(port) + "\n"))
            << plain.output();
        ASSERT_EQ(plain.port(), port);
        const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/one.mp3";
        EXPECT_EQ(runGet({"-C", out.path(), "--ftp-tls", "offered", url}, output), 1) << output;
        EXPECT_NE(output.find(url + ": site given up: 534 No TLS offered by 127.0.0.1"), std::string::npos)
            << output;
        EXPECT_NE(output.find("showed a certificate before, remembered in " + known +
                              ": it is fetched over TLS only; delete its line there to forget it"),
                  std::string::npos)
            << output;
        const std::string said = testsupport::readFile(log);
        EXPECT_NE(said.find("AUTH TLS"), std::string::npos) << said;
        EXPECT_EQ(said.find("FTP command: Client \"127.0.0.1\", \"USER"), std::string::npos) << said;
        EXPECT_EQ(said.find("FTP command: Client \"127.0.0.1\", \"PASS"), std::string::npos) << said;
        EXPECT_FALSE(fetched());
    }
    {
        // A server without TLS: offered goes on in plain; required logs in nowhere.
        const std::string log = logs.file("vsftpd.log");
        testpeers::VsftpdPeer plain;
        ASSERT_TRUE(plain.start(root.path(), false, "127.0.0.1", protocolLog(log))) << plain.output();
        const std::string url = "ftp://127.0.0.1:" + std::to_string(plain.port()) + "/one.mp3";
        EXPECT_EQ(runGet({"-C", out.path(), "--ftp-tls", "offered", url}, output), 0) << output;
        EXPECT_TRUE(fetched()) << output;
        const std::string before = testsupport::readFile(log);
        EXPECT_NE(before.find("FTP command: Client \"127.0.0.1\", \"USER"), std::string::npos) << before;
        const std::size_t seen = before.size();
        EXPECT_EQ(runGet({"-C", out.path(), "--ftp-tls", "required", url}, output), 1) << output;
        EXPECT_NE(output.find(url + ": site given up: 534 No TLS offered by 127.0.0.1"), std::string::npos)
            << output;
        const std::string later = testsupport::readFile(log).substr(seen);
        EXPECT_NE(later.find("AUTH TLS"), std::string::npos) << later;
        // (vsftpd answers AUTH with "530 Please login with USER and PASS.")
        EXPECT_EQ(later.find("FTP command: Client \"127.0.0.1\", \"USER"), std::string::npos) << later;
        EXPECT_EQ(later.find("FTP command: Client \"127.0.0.1\", \"PASS"), std::string::npos) << later;
        EXPECT_FALSE(fetched());
    }
}

// Under offered, a store of remembered certificates that cannot be read (a
// directory in its place) or written (the file size limit, as on a full disk)
// takes no certificate: the site is refused, saying why, and the store's
// lines stay as they were.
TEST(CliGetFtps, CertificatesThatCannotBeRememberedAreRefused) {
    if (!testpeers::VsftpdPeer::available()) GTEST_SKIP() << "vsftpd is not installed";
    testpeers::TestCa ca;
    ASSERT_TRUE(ca.ok());
    const testpeers::ServerCert cert = ca.issue("ftp", "IP:127.0.0.1"); // not trusted: no --cacert
    testsupport::TempDir root, config, out;
    testsupport::ScopedEnv env{"WAVETRAP_CONFIG_DIR", config.path()};
    testsupport::ScopedEnv tick{"WAVETRAP_TICK_MS", "5"};
    testsupport::writeFile(root.file("one.mp3"), testpeers::fillBytes(0, 1000));
    testpeers::VsftpdPeer vs;
    ASSERT_TRUE(vs.start(root.path(), false, "127.0.0.1", tlsConf(cert, false))) << vs.output();
    const std::string url = "ftp://127.0.0.1:" + std::to_string(vs.port()) + "/one.mp3";
    const std::string known = config.file("ftptls.Ini");
    std::string others = "[known]\n";
    for (int i = 0; i < 60; ++i)
        others += "other" + std::to_string(i) + ".example:21=" + std::string(95, 'A') + "\n";

    struct Row {
        const char* name;
        bool directory; // else the file holds others
        const char* limit;
        const char* said;
    } rows[] = {
        {"a directory", true, "", "ftptls.Ini cannot be read (not a regular file)"},
        {"no room to write", false, "ulimit -f 3; ", "which does not verify, cannot be remembered"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(known);
        if (row.directory) {
            ASSERT_EQ(::mkdir(known.c_str(), 0700), 0);
        } else {
            testsupport::writeFile(known, others);
        }
        std::string output;
        EXPECT_EQ(runGet({"-C", out.path(), "--ftp-tls", "offered", url}, output, row.limit), 1) << output;
        EXPECT_NE(output.find(url + ": site given up: "), std::string::npos) << output;
        EXPECT_NE(output.find(row.said), std::string::npos) << output;
        EXPECT_EQ(output.find("bad_alloc"), std::string::npos) << output;
        EXPECT_FALSE(std::filesystem::exists(out.file("one.mp3")));
        if (!row.directory) {
            EXPECT_EQ(testsupport::readFile(known), others);
        }
    }
}

} // namespace
