// TFtpClient over TLS against vsftpd with TLS forced on log-in and data and
// session reuse required, explicit (AUTH TLS) and implicit, passive and
// active, with certificates made by the tests; and the refusals: a server
// without TLS when TLS is required (no USER leaves), an untrusted server.
#include "ftp_recorder.h"
#include "net/ftpcli.h"
#include "net/tls.h"
#include "peers/dialogue_server.h"
#include "peers/ftp_peer.h"
#include "peers/test_ca.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace net;
using ftptest::Recorder;

namespace {

std::pair<int, int> run(TFtpClient& c, Recorder& r, void (TFtpClient::*req)()) {
    const std::size_t n = r.done.size();
    (c.*req)();
    if (!r.waitDone(n + 1, 20000)) {
        for (const auto& l : r.display)
            std::fprintf(stderr, "  %s\n", l.substr(0, 160).c_str());
        return {-1, -1};
    }
    return r.done[n];
}

class Ftps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ca = new testpeers::TestCa();
        rogue = new testpeers::TestCa("Rogue CA");
        std::string error;
        ASSERT_TRUE(ca->ok() && rogue->ok());
        ASSERT_TRUE(tlsAddTrustFile(ca->certFile(), error)) << error;
        good = new testpeers::ServerCert(ca->issue("ftp", "IP:127.0.0.1"));
        untrusted = new testpeers::ServerCert(rogue->issue("ftp", "IP:127.0.0.1"));
        served = new testsupport::TempDir;
        testsupport::writeFile(served->file("song.mp3"), testpeers::fillBytes(0, 3 << 20));
    }
    static void TearDownTestSuite() {
        delete good;
        delete untrusted;
        delete ca;
        delete rogue;
        delete served;
    }
    static std::string tlsConf(const testpeers::ServerCert& c, bool implicit) {
        return "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
               "require_ssl_reuse=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
               c.cert + "\nrsa_private_key_file=" + c.key + "\n" + (implicit ? "implicit_ssl=YES\n" : "");
    }
    // The client aimed at the server, in the row's TLS mode.
    static void aim(TFtpClient& c, const testpeers::VsftpdPeer& vs, FtpTls mode) {
        c.HostName = vs.host();
        c.Port = std::to_string(vs.port());
        c.Tls = mode;
    }
    void SetUp() override { cwd_ = std::make_unique<ftptest::ScopedCwd>(local_.path()); }
    void TearDown() override { cwd_.reset(); }

    static inline testpeers::TestCa* ca = nullptr;
    static inline testpeers::TestCa* rogue = nullptr;
    static inline testpeers::ServerCert* good = nullptr;
    static inline testpeers::ServerCert* untrusted = nullptr;
    static inline testsupport::TempDir* served = nullptr;
    testsupport::TempDir local_;
    std::unique_ptr<ftptest::ScopedCwd> cwd_;
};

TEST_F(Ftps, DownloadsOverTlsResumingTheControlSession) {
    if (!testpeers::VsftpdPeer::available()) GTEST_SKIP() << "vsftpd is not installed";
    struct Row {
        const char* name;
        FtpTls mode;
        bool passive;
    } rows[] = {
        {"explicit, passive", FtpTls::Explicit, true},
        {"explicit, active", FtpTls::Explicit, false},
        {"implicit, passive", FtpTls::Implicit, true},
        {"offered to a TLS server", FtpTls::Offered, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testpeers::VsftpdPeer vs;
        ASSERT_TRUE(vs.start(served->path(), true, "127.0.0.1", tlsConf(*good, row.mode == FtpTls::Implicit)))
            << vs.output();
        TFtpClient c;
        Recorder r(c);
        aim(c, vs, row.mode);
        c.Passive = row.passive;
        c.UserName = "anonymous";
        c.PassWord = "guest@example.com";
        c.HostFileName = c.LocalFileName = "song.mp3";
        std::filesystem::remove(local_.file("song.mp3"));
        // A piece of the file is here already: REST and the rest over TLS.
        testsupport::writeFile(local_.file("song.mp3"), testpeers::fillBytes(0, 100000));
        ASSERT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, 0)) << c.LastReply();
        EXPECT_TRUE(c.TlsUp());
        EXPECT_TRUE(c.TlsVerified());
        ASSERT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0)) << c.LastReply();
        if (c.StatusCode() == 331) {
            ASSERT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 0)) << c.LastReply();
        }
        ASSERT_EQ(run(c, r, &TFtpClient::TypeSet), std::make_pair(36, 0)) << c.LastReply();
        ASSERT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0)) << c.ErrorMessage();
        EXPECT_TRUE(ftptest::fileHolds(local_.file("song.mp3"), testpeers::fillBytes(0, 3 << 20)));
        // A second transfer on the same session resumes the session again.
        std::filesystem::remove(local_.file("song.mp3"));
        ASSERT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 0)) << c.ErrorMessage();
        EXPECT_TRUE(ftptest::fileHolds(local_.file("song.mp3"), testpeers::fillBytes(0, 3 << 20)));
        const auto cmds = r.commands();
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "PBSZ 0"), 1);
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "PROT P"), 1);
        if (row.mode != FtpTls::Implicit) {
            ASSERT_FALSE(cmds.empty());
            EXPECT_EQ(cmds[0], "AUTH TLS");
        }
    }
}

TEST_F(Ftps, RefusedWithoutTlsOrTrust) {
    if (!testpeers::VsftpdPeer::available()) GTEST_SKIP() << "vsftpd is not installed";
    struct Row {
        const char* name;
        const testpeers::ServerCert* cert; // nullptr: a server without TLS
        FtpTls mode;
        int error;
        const char* reply;
    } rows[] = {
        {"required, no TLS", nullptr, FtpTls::Explicit, 534, "534 No TLS offered by 127.0.0.1"},
        {"untrusted, explicit", untrusted, FtpTls::Explicit, 534, "534 TLS with 127.0.0.1: untrusted issuer"},
        {"untrusted, implicit", untrusted, FtpTls::Implicit, WSAETLSHANDSHAKE,
         "534 TLS with 127.0.0.1: untrusted issuer"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testpeers::VsftpdPeer vs;
        ASSERT_TRUE(vs.start(served->path(), true, "127.0.0.1",
                             row.cert ? tlsConf(*row.cert, row.mode == FtpTls::Implicit) : ""))
            << vs.output();
        TFtpClient c;
        Recorder r(c);
        aim(c, vs, row.mode);
        EXPECT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, row.error));
        EXPECT_EQ(c.LastReply().rfind(row.reply, 0), 0u) << c.LastReply();
        EXPECT_FALSE(c.Connected());
        for (const std::string& cmd : r.commands())
            EXPECT_NE(cmd.rfind("USER", 0), 0u) << "a log-in went out: " << cmd;
    }
}

} // namespace
