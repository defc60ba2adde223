// TFtpClient: refusals with their exact texts, the state changes of a
// download, a reply line longer than the reply buffer, abort from progress.
#include "ftp_recorder.h"
#include "net/ftpcli.h"
#include "net/wsocket.h"
#include "peers/dialogue_server.h"
#include "peers/process.h"
#include "platform/system.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace net;
using ftptest::Recorder;
using testpeers::Dialogue;
using testpeers::DialogueServer;

namespace {

struct Session {
    testsupport::TempDir dir;
    ftptest::ScopedCwd cwd{dir.path()};
    DialogueServer server;
    TFtpClient c;
    Recorder r{c};
    std::vector<int> states;

    explicit Session(const std::string& dialogue) {
        EXPECT_TRUE(server.start(Dialogue::fromText(dialogue)));
        c.HostName = server.host();
        c.Port = std::to_string(server.port());
        c.UserName = "anonymous";
        c.PassWord = "guest@";
        c.HostFileName = c.LocalFileName = "song.mp3";
        c.OnStateChange.connect([this](TFtpClient& s) { states.push_back(s.State()); });
    }
    std::pair<int, int> run(void (TFtpClient::*req)()) {
        const std::size_t n = r.done.size();
        (c.*req)();
        if (!r.waitDone(n + 1)) return {-1, -1};
        return r.done[n];
    }
};

const char* const LogIn = "S: 220 ready\n"
                          "C: USER anonymous\n"
                          "S: 230 ok\n";

std::string exceptionText(const std::function<void()>& f) {
    try {
        f();
    } catch (const FtpException& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace

TEST(FtpClientStates, DownloadGoesThroughTheStatesInOrder) {
    Session s(std::string(LogIn) + "CP: PORT 127,0,0,1,\n"
                                   "S: 200 ok\n"
                                   "C: REST 3\n"
                                   "S: 350 ok\n"
                                   "C: RETR song.mp3\n"
                                   "S: 150 go\n"
                                   "DATACONNECT\n"
                                   "DATAFILL 3 10\n"
                                   "DATACLOSE\n"
                                   "DATAWAITCLOSE\n"
                                   "S: 226 done\n");
    testsupport::writeFile(s.dir.file("song.mp3"), testpeers::fillBytes(0, 3));
    EXPECT_EQ(s.c.State(), ftpReady);
    EXPECT_EQ(s.run(&TFtpClient::Open), std::make_pair(1, 0));
    EXPECT_EQ(s.states, (std::vector<int>{3, 7, 4, 1}));
    s.states.clear();
    EXPECT_EQ(s.run(&TFtpClient::User), std::make_pair(2, 0));
    EXPECT_EQ(s.states, (std::vector<int>{8, 1}));
    s.states.clear();
    EXPECT_EQ(s.run(&TFtpClient::RestGet), std::make_pair(38, 0));
    EXPECT_EQ(s.states, (std::vector<int>{8, 2, 8, 2, 8, 2, 1}));
    EXPECT_EQ(s.r.sessionConnected, 1);
    EXPECT_TRUE(ftptest::fileHolds(s.dir.file("song.mp3"), testpeers::fillBytes(0, 13)));
    EXPECT_TRUE(s.server.errors().empty());
}

TEST(FtpClientRefusals, ExactTexts) {
    Session s(std::string(LogIn) + "C: NOOP\n");
    TFtpClient& c = s.c;
    // Not connected: a transfer step refuses, a simple command does nothing.
    EXPECT_EQ(exceptionText([&] { c.Retr(); }), "RETR: not connected");
    EXPECT_EQ(exceptionText([&] { c.ListCmd(); }), "LIST: not connected");
    EXPECT_EQ(exceptionText([&] { c.Stor(); }), "STOR/APPE: not connected");
    c.UserName.clear();
    EXPECT_EQ(exceptionText([&] { c.User(); }), "UserName emtpy");
    c.UserName = "anonymous";
    EXPECT_EQ(exceptionText([&] { c.Cwd(); }), "HostDirName emtpy");
    EXPECT_EQ(c.State(), ftpReady);

    c.Open();
    EXPECT_EQ(exceptionText([&] { c.User(); }), "FTP component not ready"); // awaiting the welcome
    EXPECT_EQ(exceptionText([&] { c.Get(); }), "FTP component not ready");
    ASSERT_TRUE(s.r.waitDone(1));
    EXPECT_EQ(exceptionText([&] { c.Open(); }), "FTP component already connected");
    EXPECT_EQ(exceptionText([&] { c.Connect(); }), "FTP component already connected");
    EXPECT_EQ(s.run(&TFtpClient::User), std::make_pair(2, 0));
    c.LocalFileName.clear();
    EXPECT_EQ(exceptionText([&] { c.Stor(); }), "LocalFileName empty");
    // A refused request left the client usable.
    c.LocalFileName = "NOOP";
    c.Quote();
    EXPECT_TRUE(platform::runUntil([&] { return s.server.finished(); }, 5000));
    EXPECT_TRUE(s.server.errors().empty());
}

TEST(FtpClientRefusals, EmptyHostNameLeavesTheClientReady) {
    TFtpClient c;
    EXPECT_THROW(c.Open(), ESocketException);
    EXPECT_EQ(c.State(), ftpReady);
}

TEST(FtpClientReplies, LineLongerThanTheReplyBufferFailsTheRequestCleanly) {
    for (const std::size_t len : {TFtpClient::ReplyBufferSize - 2, TFtpClient::ReplyBufferSize + 1000}) {
        SCOPED_TRACE(len);
        const std::string text = "331 " + std::string(len - 4, 'x');
        Session s(std::string("S: 220 ready\nC: USER anonymous\nS: ") + text +
                  "\nC: PASS guest@\nS: 230 ok\n");
        EXPECT_EQ(s.run(&TFtpClient::Open), std::make_pair(1, 0));
        const auto user = s.run(&TFtpClient::User);
        if (len + 2 <= TFtpClient::ReplyBufferSize) {
            // Fits with its CR LF: an ordinary reply.
            EXPECT_EQ(user, std::make_pair(2, 0));
            EXPECT_EQ(s.c.LastReply(), text);
            EXPECT_EQ(s.run(&TFtpClient::Pass), std::make_pair(3, 0));
        } else {
            EXPECT_EQ(user, std::make_pair(2, 500));
            EXPECT_EQ(s.c.LastReply(), "500 Reply line too long");
            EXPECT_EQ(s.c.ErrorMessage(), "500 Reply line too long");
            EXPECT_FALSE(s.c.Connected());
            EXPECT_EQ(s.c.State(), ftpReady);
            EXPECT_TRUE(s.r.shown("! Reply line longer than 4094 bytes"));
        }
    }
}

TEST(FtpClientReplies, TextLinesInsideAMultiLineReplyBelongToIt) {
    // The lines between "214-" and "214 " are the reply's text, whatever they hold.
    Session s("S: 220 ready\n"
              "C: SITE HELP\n"
              "S: 214-The following commands are recognized\n"
              "S:  CHMOD IDLE\n"
              "S: 500 is text here\n"
              "S: 214 Help OK.\n");
    s.c.LocalFileName = "SITE HELP";
    EXPECT_EQ(s.run(&TFtpClient::Open), std::make_pair(1, 0));
    EXPECT_EQ(s.run(&TFtpClient::Quote), std::make_pair(32, 0));
    ftptest::settle();
    EXPECT_EQ(s.c.StatusCode(), 214);
    EXPECT_EQ(s.c.LastReply(), "214 Help OK.");
    EXPECT_TRUE(s.r.shown("<  CHMOD IDLE"));
    EXPECT_EQ(s.r.done.size(), 2u);
}

TEST(FtpClientTransfer, ProgressHandlerAbortsTheTransfer) {
    // The progress handler stops the transfer at its first call. Whether the
    // server then fails it (426) or had already confirmed it (226, all of it
    // sent but not yet read here), the request fails: the file is not whole.
    struct Row {
        const char* name;
        void (TFtpClient::*request)();
        const char* server; // after PORT
        int type;
        const char* note;
        const char* errorMessage;
    };
    const Row rows[] = {
        {"server fails it", &TFtpClient::Get,
         "C: RETR song.mp3\nS: 150 go\nDATACONNECT\nDATAFILL 0 100000\nDATAWAITCLOSE\n"
         "S: 426 Transfer aborted.\n",
         10, "! RETR/LIST/NLST Failed", "426 Transfer aborted."},
        {"server confirmed it", &TFtpClient::Get,
         "C: RETR song.mp3\nS: 150 go\nDATACONNECT\nDATAFILL 0 5000\nDATACLOSE\nS: 226 done\n"
         "DATAWAITCLOSE\n",
         10, "! 0 bytes received/sent in 0 seconds", "426 Operation aborted."},
        {"upload confirmed", &TFtpClient::Put,
         "C: STOR song.mp3\nS: 150 go\nDATACONNECT\nDATAWAITCLOSE\nS: 226 stored\n", 17,
         "! 0 bytes received/sent in 0 seconds", "426 Operation aborted."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Session s(std::string(LogIn) + "CP: PORT 127,0,0,1,\nS: 200 ok\n" + row.server);
        platform::setTickSource([] { return 7000u; });
        testsupport::writeFile(s.dir.file("song.mp3"), testpeers::fillBytes(0, 3000));
        EXPECT_EQ(s.run(&TFtpClient::Open), std::make_pair(1, 0));
        EXPECT_EQ(s.run(&TFtpClient::User), std::make_pair(2, 0));
        s.r.abortAtProgress = true;
        EXPECT_EQ(s.run(row.request), std::make_pair(row.type, 426));
        EXPECT_EQ(s.r.progress, (std::vector<std::int64_t>{0})); // nothing read or sent after the abort
        EXPECT_TRUE(s.r.shown("! Abort requested"));
        EXPECT_TRUE(s.r.shown(row.note));
        EXPECT_EQ(s.c.ErrorMessage(), row.errorMessage);
        EXPECT_EQ(s.c.ByteCount(), 0);
        EXPECT_TRUE(s.c.Connected());
        EXPECT_TRUE(platform::runUntil([&] { return s.server.finished(); }, 5000));
        EXPECT_TRUE(s.server.errors().empty());
        platform::setTickSource({});
    }
}

TEST(FtpClientTransfer, CompletionIsNeverDeliveredInsideTheCallNorAfterDestruction) {
    testsupport::TempDir dir;
    ftptest::ScopedCwd cwd(dir.path());
    // REST with no local file completes at once, without a command.
    std::vector<std::pair<int, int>> done;
    auto record = [&](TFtpClient&, TFtpRequest rq, std::uint16_t err) { done.emplace_back(rq, err); };
    TFtpClient kept;
    kept.OnRequestDone.connect(record);
    kept.Rest();
    {
        TFtpClient gone;
        gone.OnRequestDone.connect(record);
        gone.Rest();
        EXPECT_TRUE(done.empty()); // posted, not delivered inside the call
    }
    ftptest::settle();
    EXPECT_EQ(done, (std::vector<std::pair<int, int>>{{37, 0}})); // only the client still alive
}

TEST(FtpClientSequences, ServerClosingBetweenStepsEndsTheSequence) {
    // USER is answered 230, so PASS is skipped; then the server hangs up
    // before SIZE: the sequence ends with 426 instead of waiting for ever.
    Session s("S: 220 ready\n"
              "C: USER anonymous\n"
              "S: 230 ok\n"
              "CLOSE\n");
    EXPECT_EQ(s.run(&TFtpClient::FileSize), std::make_pair(16, 426));
    EXPECT_FALSE(s.r.shown("> PASS guest@"));
    EXPECT_EQ(s.c.State(), ftpReady);
    EXPECT_FALSE(s.c.Connected());
}

TEST(FtpClientSequences, WithoutConnectionGetDoesNothingAndLeavesNoSequenceBehind) {
    Session s(LogIn);
    s.c.Get();
    s.c.RestGet();
    ftptest::settle();
    EXPECT_TRUE(s.r.done.empty());
    EXPECT_EQ(s.c.State(), ftpReady);
    // A later Open is a plain Open (type 1), not a step of the Get above.
    EXPECT_EQ(s.run(&TFtpClient::Open), std::make_pair(1, 0));
    EXPECT_EQ(s.run(&TFtpClient::User), std::make_pair(2, 0));
    ftptest::settle();
    EXPECT_EQ(s.r.done.size(), 2u);
}

TEST(FtpClientSequences, AbortDuringTheNameLookup) {
    TFtpClient c;
    Recorder r(c);
    c.HostName = "slow-lookup.invalid";
    c.Port = "21";
    c.Open();
    EXPECT_EQ(c.State(), ftpDnsLookup);
    EXPECT_FALSE(c.Abort()); // the cancelled lookup is the request's result
    EXPECT_EQ(c.State(), ftpReady);
    ASSERT_TRUE(r.waitDone(1));
    ftptest::settle();
    EXPECT_EQ(r.done, (std::vector<std::pair<int, int>>{{1, 10004}}));
}
