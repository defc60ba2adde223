// TFtpClient against a real FTP server (pyftpdlib on loopback): the download
// road of the program (Open, User, Pass, Size, TypeSet, RestGet/Get), resume,
// log-in failures, the refused local names and a server that dies.
#include "ftp_recorder.h"
#include "net/ftpcli.h"
#include "peers/dialogue_server.h"
#include "peers/ftp_peer.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <sys/resource.h>

using namespace net;
using ftptest::Recorder;
using testpeers::fillBytes;

namespace {

constexpr std::int64_t BigSize = 3 * 1024 * 1024 + 17;

class FtpRealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        served_ = std::make_unique<testsupport::TempDir>();
        testsupport::writeFile(served_->file("song.mp3"), fillBytes(0, BigSize));
        testsupport::writeFile(served_->file("small.mp3"), fillBytes(0, 5000));
        testsupport::writeFile(served_->file("empty.mp3"), "");
        testpeers::FtpPeerOptions opt;
        opt.host = "127.0.0.1";
        opt.root = served_->path();
        server_ = std::make_unique<testpeers::FtpPeer>();
        ASSERT_TRUE(server_->start(opt)) << server_->output();
        opt.host = "127.0.0.2";
        opt.refuseRest = true;
        noRest_ = std::make_unique<testpeers::FtpPeer>();
        ASSERT_TRUE(noRest_->start(opt)) << noRest_->output();
    }
    static void TearDownTestSuite() {
        server_.reset();
        noRest_.reset();
        served_.reset();
    }

    void SetUp() override { cwd_ = std::make_unique<ftptest::ScopedCwd>(local_.path()); }
    void TearDown() override { cwd_.reset(); }

    static void aim(TFtpClient& c, const testpeers::FtpPeer& peer, const std::string& file) {
        c.HostName = peer.host();
        c.Port = std::to_string(peer.port());
        c.UserName = "anonymous";
        c.PassWord = "guest@example.com";
        c.HostDirName = ".";
        c.HostFileName = file;
        c.LocalFileName = file;
        c.Timeout = 25;
    }

    // Runs one request and answers its completion (request type, error).
    static std::pair<int, int> run(TFtpClient& c, Recorder& r, void (TFtpClient::*req)()) {
        const std::size_t n = r.done.size();
        (c.*req)();
        if (!r.waitDone(n + 1, 20000)) {
            for (const auto& l : r.display)
                std::fprintf(stderr, "  %s\n", l.substr(0, 120).c_str());
            return {-1, -1};
        }
        return r.done[n];
    }

    // Open, User, Pass, TypeSet, Size (this server answers SIZE only in
    // binary mode).
    static void logInAndSize(TFtpClient& c, Recorder& r) {
        EXPECT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, 0)) << c.LastReply();
        EXPECT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0)) << c.LastReply();
        EXPECT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 0)) << c.LastReply();
        EXPECT_EQ(run(c, r, &TFtpClient::TypeSet), std::make_pair(36, 0)) << c.LastReply();
        EXPECT_EQ(run(c, r, &TFtpClient::Size), std::make_pair(16, 0)) << c.LastReply();
    }

    static std::unique_ptr<testsupport::TempDir> served_;
    static std::unique_ptr<testpeers::FtpPeer> server_;
    static std::unique_ptr<testpeers::FtpPeer> noRest_;
    testsupport::TempDir local_;
    std::unique_ptr<ftptest::ScopedCwd> cwd_;
};

std::unique_ptr<testsupport::TempDir> FtpRealServer::served_;
std::unique_ptr<testpeers::FtpPeer> FtpRealServer::server_;
std::unique_ptr<testpeers::FtpPeer> FtpRealServer::noRest_;

} // namespace

TEST_F(FtpRealServer, AnonymousDownloadWholeFile) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "song.mp3");
    logInAndSize(c, r);
    EXPECT_EQ(c.RemoteSize(), BigSize);
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0)) << c.ErrorMessage();
    EXPECT_TRUE(ftptest::fileHolds(local_.file("song.mp3"), fillBytes(0, BigSize)));
    EXPECT_EQ(c.ByteCount(), BigSize);
    EXPECT_EQ(c.State(), ftpReady);
    EXPECT_TRUE(c.Connected());
    EXPECT_EQ(c.StatusCode(), 226);
    // No local file: no REST; progress counts from 0 and grows.
    EXPECT_EQ(r.commands(), (std::vector<std::string>{"USER anonymous", "PASS guest@example.com", "TYPE I",
                                                      "SIZE song.mp3", r.commands()[4], "RETR song.mp3"}));
    EXPECT_EQ(r.commands()[4].rfind("PORT 127,0,0,1,", 0), 0u);
    ASSERT_FALSE(r.progress.empty());
    EXPECT_EQ(r.progress.front(), 0);
    EXPECT_TRUE(std::is_sorted(r.progress.begin(), r.progress.end()));
    EXPECT_LE(r.progress.back(), BigSize);
    EXPECT_TRUE(r.shownContaining("! " + std::to_string(BigSize) + " bytes received/sent in "));
    EXPECT_EQ(r.sessionConnected, 1);
    EXPECT_EQ(r.sessionClosed, 0);
    EXPECT_EQ(r.done.size(), 6u);
}

TEST_F(FtpRealServer, UserWithPasswordResumesFromTheLocalFileSize) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "small.mp3");
    c.UserName = "wavetrap";
    c.PassWord = "secret";
    c.DisplayFlag = false;
    testsupport::writeFile(local_.file("small.mp3"), fillBytes(0, 100));
    logInAndSize(c, r);
    EXPECT_EQ(c.RemoteSize(), 5000);
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0)) << c.ErrorMessage();
    EXPECT_TRUE(ftptest::fileHolds(local_.file("small.mp3"), fillBytes(0, 5000)));
    EXPECT_TRUE(r.shown("> REST 100"));
    ASSERT_FALSE(r.progress.empty());
    EXPECT_EQ(r.progress.front(), 100);
    EXPECT_EQ(c.ByteCount(), 4900);
    EXPECT_FALSE(r.shownContaining("! Data: ")); // DisplayFlag off
}

// The file data goes by splice or, forced, through read and write: the same
// file, byte count, resume offset and progress bounds either way.
TEST_F(FtpRealServer, SpliceAndReadWriteReceiveTheSameResumedFile) {
    for (const bool splice : {true, false}) {
        SCOPED_TRACE(splice);
        net::setSpliceReceive(splice);
        TFtpClient c;
        Recorder r(c);
        aim(c, *server_, "song.mp3");
        testsupport::writeFile(local_.file("song.mp3"), fillBytes(0, 100));
        logInAndSize(c, r);
        const std::int64_t splicedBefore = net::splicedBytes();
        EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0)) << c.ErrorMessage();
        EXPECT_TRUE(ftptest::fileHolds(local_.file("song.mp3"), fillBytes(0, BigSize)));
        EXPECT_EQ(c.ByteCount(), BigSize - 100);
        EXPECT_EQ(net::splicedBytes() - splicedBefore, splice ? BigSize - 100 : 0);
        ASSERT_FALSE(r.progress.empty());
        EXPECT_EQ(r.progress.front(), 100);
        EXPECT_TRUE(std::is_sorted(r.progress.begin(), r.progress.end()));
        EXPECT_LE(r.progress.back(), BigSize);
        EXPECT_TRUE(r.shownContaining("! " + std::to_string(BigSize - 100) + " bytes received/sent in "));
    }
    net::setSpliceReceive(true);
}

// A local file that takes no splice and then no more bytes (/dev/full): the
// transfer fails with the write error on both paths (550, or the server's
// 426 when its reply to the shut data connection comes first).
TEST_F(FtpRealServer, LocalFileThatRefusesTheBytesFailsTheTransfer) {
    // Files may not grow past 100000 bytes here (writes then fail with EFBIG).
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (const bool splice : {true, false}) {
        SCOPED_TRACE(splice);
        net::setSpliceReceive(splice);
        std::filesystem::remove(local_.file("song.mp3"));
        TFtpClient c;
        Recorder r(c);
        aim(c, *server_, "song.mp3");
        logInAndSize(c, r);
        EXPECT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 550));
        EXPECT_TRUE(r.shown("! Error writing local file"));
        EXPECT_EQ(c.LastReply(), "Unable to write local file song.mp3: File too large");
        EXPECT_EQ(c.LocalError(), "File too large");
        EXPECT_GT(c.ByteCount(), 0);
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    net::setSpliceReceive(true);
}

TEST_F(FtpRealServer, SymbolicLinkInPlaceOfTheLocalFileIsRefused) {
    // A dangling link would have made a file outside the directory.
    testsupport::TempDir elsewhere;
    std::filesystem::create_symlink(elsewhere.file("planted.mp3"), local_.file("small.mp3"));
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "small.mp3");
    logInAndSize(c, r);
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 550));
    EXPECT_EQ(c.ErrorMessage(), "Unable to open local file small.mp3: not a regular file");
    EXPECT_FALSE(std::filesystem::exists(elsewhere.file("planted.mp3")));
    EXPECT_TRUE(std::filesystem::is_symlink(local_.file("small.mp3")));
}

TEST_F(FtpRealServer, ShowsDataPiecesWithDisplayFlag) {
    testsupport::writeFile(served_->file("lines.txt"), "first line\r\nsecond\n\nthird");
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "lines.txt");
    c.DisplayFlag = true;
    logInAndSize(c, r);
    EXPECT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 0));
    EXPECT_TRUE(r.shown("! Data: first line"));
    EXPECT_TRUE(r.shown("! Data: second"));
    EXPECT_TRUE(r.shown("! Data: third"));
    EXPECT_FALSE(r.shown("! Data: "));
}

TEST_F(FtpRealServer, FailingRequestsCompleteWithTheReplyCode) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "missing.mp3");
    c.UserName = "wavetrap";
    c.PassWord = "wrong";
    EXPECT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 530));
    EXPECT_EQ(c.ErrorMessage().substr(0, 4), "530 ");
    // Simple requests do not clear ErrorMessage; the anonymous log-in works.
    c.UserName = "anonymous";
    EXPECT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 0));
    EXPECT_EQ(c.ErrorMessage().substr(0, 4), "530 ");
    EXPECT_EQ(run(c, r, &TFtpClient::Size), std::make_pair(16, 550));
    EXPECT_EQ(c.RemoteSize(), 0);
    // A sequence starts with a clean ErrorMessage; RETR refused: 550.
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 550));
    EXPECT_EQ(c.ErrorMessage().substr(0, 4), "550 ");
    EXPECT_EQ(c.State(), ftpReady);
    EXPECT_TRUE(c.Connected());
}

TEST_F(FtpRealServer, MissingFileInPassiveModeLeavesNoFileAndAPartialOneAsItWas) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "missing.mp3");
    c.Passive = true;
    EXPECT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 550));
    EXPECT_FALSE(std::filesystem::exists(local_.file("missing.mp3")));
    testsupport::writeFile(local_.file("missing.mp3"), "partial");
    EXPECT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 550));
    EXPECT_EQ(testsupport::readFile(local_.file("missing.mp3")), "partial");
    EXPECT_TRUE(c.LocalError().empty());
}

TEST_F(FtpRealServer, RestRefusedEndsTheSequenceWithoutRetr) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *noRest_, "small.mp3");
    testsupport::writeFile(local_.file("small.mp3"), "partial");
    logInAndSize(c, r);
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 502));
    EXPECT_FALSE(r.shown("> RETR small.mp3"));
    EXPECT_EQ(testsupport::readFile(local_.file("small.mp3")), "partial");
    // The plain Get then fetches the whole file (the slot's fallback).
    EXPECT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 0));
    EXPECT_TRUE(ftptest::fileHolds(local_.file("small.mp3"), fillBytes(0, 5000)));
}

TEST_F(FtpRealServer, UnsafeLocalNamesAreRefusedAndNothingIsWritten) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "small.mp3");
    logInAndSize(c, r);
    std::filesystem::create_directory(local_.file("sub"));
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "sub/small.mp3", "../small.mp3", local_.file("abs.mp3")}) {
        SCOPED_TRACE(name);
        c.LocalFileName = name;
        const std::size_t shownBefore = r.display.size();
        EXPECT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 550));
        EXPECT_EQ(c.LastReply(), "Unable to open local file " + name + ": not a plain file name");
        EXPECT_EQ(c.StatusCode(), 550);
        EXPECT_EQ(c.ErrorMessage(), c.LastReply());
        for (std::size_t i = shownBefore; i < r.display.size(); ++i)
            EXPECT_NE(r.display[i], "> RETR small.mp3");
    }
    EXPECT_FALSE(std::filesystem::exists(local_.file("sub/small.mp3")));
    EXPECT_FALSE(std::filesystem::exists(local_.file("abs.mp3")));
    EXPECT_FALSE(std::filesystem::exists(local_.file("small.mp3")));
    // The connection stays usable.
    c.LocalFileName = "small.mp3";
    EXPECT_EQ(run(c, r, &TFtpClient::Get), std::make_pair(10, 0));
    EXPECT_TRUE(ftptest::fileHolds(local_.file("small.mp3"), fillBytes(0, 5000)));
}

TEST_F(FtpRealServer, TheSlotOrderAsksTheSizeBeforeBinaryType) {
    // The download slots ask SIZE before TYPE I; this server refuses SIZE in
    // ASCII mode, and the download goes on without a size.
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "small.mp3");
    EXPECT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Size), std::make_pair(16, 550));
    EXPECT_EQ(c.RemoteSize(), 0);
    EXPECT_EQ(run(c, r, &TFtpClient::TypeSet), std::make_pair(36, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0));
    EXPECT_TRUE(ftptest::fileHolds(local_.file("small.mp3"), fillBytes(0, 5000)));
}

TEST_F(FtpRealServer, EmptyFileAndOtherSequences) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "empty.mp3");
    EXPECT_EQ(run(c, r, &TFtpClient::FileSize), std::make_pair(16, 550)) << c.ErrorMessage();
    EXPECT_FALSE(c.Connected());    // QUIT came after the failed step and closed it
    EXPECT_EQ(c.StatusCode(), 550); // the reply saved before QUIT comes back
    EXPECT_EQ(c.ErrorMessage(), "550 SIZE not allowed in ASCII mode.");
    testsupport::writeFile(local_.file("empty.mp3"), "old content");
    EXPECT_EQ(run(c, r, &TFtpClient::Receive), std::make_pair(6, 0)) << c.ErrorMessage();
    EXPECT_EQ(testsupport::readFile(local_.file("empty.mp3")), "");
    c.HostFileName = c.LocalFileName = "small.mp3";
    testsupport::writeFile(local_.file("small.mp3"), fillBytes(0, 11));
    EXPECT_EQ(run(c, r, &TFtpClient::RestartGet), std::make_pair(39, 0)) << c.ErrorMessage();
    EXPECT_TRUE(r.shown("> REST 11"));
    EXPECT_TRUE(ftptest::fileHolds(local_.file("small.mp3"), fillBytes(0, 5000)));
    c.LocalFileName = "listing.txt";
    EXPECT_EQ(run(c, r, &TFtpClient::Directory), std::make_pair(11, 0)) << c.ErrorMessage();
    const std::string listing = testsupport::readFile(local_.file("listing.txt"));
    EXPECT_NE(listing.find("song.mp3"), std::string::npos);
    EXPECT_NE(listing.find("small.mp3"), std::string::npos);
    EXPECT_EQ(run(c, r, &TFtpClient::System), std::make_pair(13, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Connect), std::make_pair(5, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Pwd), std::make_pair(31, 0));
    EXPECT_EQ(c.DirResult(), "/");
    EXPECT_EQ(run(c, r, &TFtpClient::Quit), std::make_pair(15, 0));
    EXPECT_FALSE(c.Connected());
}

TEST_F(FtpRealServer, ServerKilledMidTransferFailsTheRequest) {
    testpeers::FtpPeerOptions opt;
    opt.host = "127.0.0.3";
    opt.root = served_->path();
    opt.rateLimit = 64 * 1024;
    testpeers::FtpPeer slow;
    ASSERT_TRUE(slow.start(opt)) << slow.output();
    TFtpClient c;
    Recorder r(c);
    aim(c, slow, "song.mp3");
    logInAndSize(c, r);
    const std::size_t n = r.done.size();
    c.RestGet();
    ASSERT_TRUE(platform::runUntil([&] { return c.ByteCount() > 0; }, 20000));
    slow.kill();
    ASSERT_TRUE(r.waitDone(n + 1));
    EXPECT_EQ(r.done[n].first, 38);
    EXPECT_NE(r.done[n].second, 0); // a partial file is no success
    EXPECT_LT(std::filesystem::file_size(local_.file("song.mp3")), static_cast<std::uintmax_t>(BigSize));
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(r.sessionClosed, 1);
    const auto partial = std::filesystem::file_size(local_.file("song.mp3"));
    // The server comes back on the same port (here without the limit); the
    // download resumes from the partial file.
    ASSERT_TRUE(slow.restart()) << slow.output();
    EXPECT_TRUE(testpeers::portAccepts(opt.host, slow.port()));
    slow.kill();
    opt.rateLimit = 0;
    opt.port = slow.port();
    ASSERT_TRUE(slow.start(opt)) << slow.output();
    logInAndSize(c, r);
    EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0)) << c.ErrorMessage();
    EXPECT_TRUE(r.shown("> REST " + std::to_string(partial)));
    EXPECT_TRUE(ftptest::fileHolds(local_.file("song.mp3"), fillBytes(0, BigSize)));
}

TEST_F(FtpRealServer, UploadAppendRenameAndDelete) {
    TFtpClient c;
    Recorder r(c);
    aim(c, *server_, "up.bin");
    c.UserName = "wavetrap";
    c.PassWord = "secret";
    const std::string body = fillBytes(7, 100000);
    testsupport::writeFile(local_.file("up.bin"), body);
    EXPECT_EQ(run(c, r, &TFtpClient::Transmit), std::make_pair(17, 0))
        << c.ErrorMessage(); // the STOR step's number
    EXPECT_TRUE(ftptest::fileHolds(served_->file("up.bin"), body));
    EXPECT_TRUE(r.shownContaining("! 100000 bytes received/sent in "));
    EXPECT_EQ(run(c, r, &TFtpClient::Connect), std::make_pair(5, 0));
    EXPECT_EQ(run(c, r, &TFtpClient::Append), std::make_pair(18, 0)) << c.ErrorMessage();
    EXPECT_TRUE(ftptest::fileHolds(served_->file("up.bin"), body + body));
    c.LocalFileName = "moved.bin";
    EXPECT_EQ(run(c, r, &TFtpClient::Ren), std::make_pair(25, 0)) << c.ErrorMessage();
    EXPECT_TRUE(std::filesystem::exists(served_->file("moved.bin")));
    c.HostFileName = "moved.bin";
    EXPECT_EQ(run(c, r, &TFtpClient::Dele), std::make_pair(24, 0)) << c.ErrorMessage();
    EXPECT_FALSE(std::filesystem::exists(served_->file("moved.bin")));
    c.HostFileName = "newdir";
    EXPECT_EQ(run(c, r, &TFtpClient::Mkd), std::make_pair(21, 0));
    EXPECT_EQ(c.DirResult(), "/newdir");
    EXPECT_EQ(run(c, r, &TFtpClient::Rmd), std::make_pair(22, 0));
    // A local file that cannot be read: 550 and its note.
    c.HostFileName = "x.bin";
    c.LocalFileName = "nothere.bin";
    EXPECT_EQ(run(c, r, &TFtpClient::Put), std::make_pair(17, 550));
    EXPECT_TRUE(r.shown("! Unable to open local file nothere.bin"));
    EXPECT_EQ(c.ErrorMessage(), "Unable to open local file nothere.bin");
}

TEST(FtpConnectFailures, RefusedPortAndUnknownHost) {
    struct Row {
        std::string host;
        int port;
        int error;
        std::string lastReply;
    };
    const testpeers::ClosedPort closed;
    const int closedPort = closed.port();
    const Row rows[] = {
        {"127.0.0.1", closedPort, 10061, "500 Connection refused (Winsock error #10061)"},
        {"nosuchhost.invalid", 21, 11001, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host);
        TFtpClient c;
        Recorder r(c);
        c.HostName = row.host;
        c.Port = std::to_string(row.port);
        c.Open();
        EXPECT_TRUE(r.done.empty()); // never inside the call
        ASSERT_TRUE(r.waitDone(1));
        ftptest::settle();
        EXPECT_EQ(r.done, (std::vector<std::pair<int, int>>{{1, row.error}}));
        if (!row.lastReply.empty()) {
            EXPECT_EQ(c.LastReply(), row.lastReply);
            EXPECT_EQ(c.StatusCode(), 500);
        }
        EXPECT_EQ(c.State(), ftpReady);
        EXPECT_FALSE(c.Connected());
    }
}

TEST_F(FtpRealServer, PassiveModeWhenPortIsRefusedEpsvThenPasv) {
    // Each server refuses what a row names; the transfer of RestGet still
    // arrives whole, and the client stays in passive mode. A server that
    // never connects in active mode costs the session (425 after Timeout):
    // the next session's transfer is passive.
    struct Row {
        const char* name;
        std::vector<std::string> refuse; // pyftpdlib; empty with vsftpd: vsftpd with port_enable=NO
        bool vsftpd;
        bool passiveBefore;
        std::vector<std::string> dataCommands; // PORT, EPSV, PASV as sent, in order
        std::string activeFault;               // pyftpdlib: "425" to the transfer, or "silent"
    };
    const Row rows[] = {
        {"PORT refused", {"PORT"}, false, false, {"PORT", "EPSV"}, ""},
        {"PORT and EPSV refused", {"PORT", "EPSV"}, false, false, {"PORT", "EPSV", "PASV"}, ""},
        {"already passive", {}, false, true, {"EPSV"}, ""},
        {"425 to RETR", {}, false, false, {"PORT", "EPSV"}, "425"},
        {"no data connection in time", {}, false, false, {"PORT", "EPSV"}, "silent"},
        {"vsftpd without PORT", {}, true, false, {"PORT", "EPSV"}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testpeers::FtpPeer py;
        testpeers::VsftpdPeer vs;
        TFtpClient c;
        Recorder r(c);
        if (row.vsftpd) {
            if (!testpeers::VsftpdPeer::available()) GTEST_SKIP() << "vsftpd is not installed";
            ASSERT_TRUE(vs.start(served_->path())) << vs.output();
            c.HostName = vs.host();
            c.Port = std::to_string(vs.port());
        } else {
            testpeers::FtpPeerOptions opt;
            opt.root = served_->path();
            opt.refuse = row.refuse;
            opt.activeFault = row.activeFault;
            ASSERT_TRUE(py.start(opt)) << py.output();
            c.HostName = py.host();
            c.Port = std::to_string(py.port());
        }
        c.UserName = "anonymous";
        c.PassWord = "guest@example.com";
        c.HostFileName = c.LocalFileName = "small.mp3";
        c.Passive = row.passiveBefore;
        c.Timeout = 1;
        std::filesystem::remove(local_.file("small.mp3"));
        auto logIn = [&] {
            EXPECT_EQ(run(c, r, &TFtpClient::Open), std::make_pair(1, 0)) << c.LastReply();
            EXPECT_EQ(run(c, r, &TFtpClient::User), std::make_pair(2, 0)) << c.LastReply();
            if (c.StatusCode() == 331) {
                EXPECT_EQ(run(c, r, &TFtpClient::Pass), std::make_pair(3, 0)) << c.LastReply();
            }
            EXPECT_EQ(run(c, r, &TFtpClient::TypeSet), std::make_pair(36, 0)) << c.LastReply();
        };
        logIn();
        if (row.activeFault == "silent") {
            EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 425)) << c.ErrorMessage();
            EXPECT_TRUE(c.Passive);
            EXPECT_FALSE(c.Connected());
            logIn();
        }
        EXPECT_EQ(run(c, r, &TFtpClient::RestGet), std::make_pair(38, 0)) << c.ErrorMessage();
        EXPECT_TRUE(ftptest::fileHolds(local_.file("small.mp3"), fillBytes(0, 5000)));
        EXPECT_TRUE(c.Passive);
        std::vector<std::string> data;
        for (const std::string& cmd : r.commands())
            for (const char* word : {"PORT", "EPSV", "PASV"})
                if (cmd.rfind(word, 0) == 0) data.push_back(word);
        EXPECT_EQ(data, row.dataCommands);
    }
}
