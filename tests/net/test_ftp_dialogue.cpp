// TFtpClient against the scripted server: every file in dialogues/ holds the
// server's side, the commands the client must send and, in its "E:" lines,
// the requests to make and the completions and values expected (see
// dialogues/README).
#include "ftp_recorder.h"
#include "net/ftpcli.h"
#include "peers/dialogue_server.h"
#include "platform/system.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace net;
using ftptest::Recorder;

namespace {

std::string expectedContent(const std::string& text) {
    std::istringstream in(text);
    std::string kind;
    in >> kind;
    if (kind == "fill") {
        std::int64_t off = 0, n = 0;
        in >> off >> n;
        return testpeers::fillBytes(off, n);
    }
    if (kind == "text") return text.size() > 5 ? text.substr(5) : "";
    if (kind == "empty") return "";
    ADD_FAILURE() << "bad content: " << text;
    return {};
}

using Request = void (TFtpClient::*)();
const std::map<std::string, Request>& requests() {
    static const std::map<std::string, Request> m = {
        {"Open", &TFtpClient::Open},       {"User", &TFtpClient::User},
        {"Pass", &TFtpClient::Pass},       {"Size", &TFtpClient::Size},
        {"TypeSet", &TFtpClient::TypeSet}, {"Get", &TFtpClient::Get},
        {"RestGet", &TFtpClient::RestGet}, {"Quote", &TFtpClient::Quote},
        {"Quit", &TFtpClient::Quit},       {"Cwd", &TFtpClient::Cwd},
        {"Pwd", &TFtpClient::Pwd},         {"Syst", &TFtpClient::Syst},
        {"Connect", &TFtpClient::Connect}, {"FileSize", &TFtpClient::FileSize},
        {"Receive", &TFtpClient::Receive},
    };
    return m;
}

class FtpDialogue : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        platform::setTickSource([] { return 5000u; });
    }
    void TearDown() override { platform::setTickSource({}); }
};

std::string valueOf(const std::string& name, TFtpClient& c, Recorder& r, const testsupport::TempDir& dir) {
    if (name == "ErrorMessage") return c.ErrorMessage();
    if (name == "LastReply") return c.LastReply();
    if (name == "LastCommand") {
        for (const char* word :
             {"USER", "PASS", "SIZE", "TYPE", "REST", "RETR", "PORT", "EPRT", "PASV", "EPSV"})
            if (net::ftp::CommandOf(word) == c.LastCommand()) return word;
        return c.LastCommand() == net::FtpCommand::None ? "none" : "other";
    }
    if (name == "StatusCode") return std::to_string(c.StatusCode());
    if (name == "RemoteSize") return std::to_string(c.RemoteSize());
    if (name == "ByteCount") return std::to_string(c.ByteCount());
    if (name == "State") return std::to_string(static_cast<int>(c.State()));
    if (name == "Connected") return c.Connected() ? "true" : "false";
    if (name == "Overran") return c.Overran() ? "true" : "false";
    if (name == "LocalError") return c.LocalError();
    if (name == "sessionClosed") return std::to_string(r.sessionClosed);
    if (name == "done.count") return std::to_string(r.done.size());
    if (name == "progress.first") return r.progress.empty() ? "none" : std::to_string(r.progress.front());
    if (name == "file") {
        const std::string path = dir.file(c.LocalFileName);
        return std::filesystem::exists(path) ? testsupport::readFile(path) : "<absent>";
    }
    ADD_FAILURE() << "unknown value " << name;
    return {};
}

} // namespace

TEST_P(FtpDialogue, Plays) {
    testsupport::TempDir dir;
    ftptest::ScopedCwd cwd(dir.path());
    testpeers::DialogueServer server;
    ASSERT_TRUE(server.startFile(testpeers::dialoguePath(GetParam()), "127.0.0.1"));
    TFtpClient c;
    Recorder r(c);
    c.HostName = server.host();
    c.Port = std::to_string(server.port());
    c.UserName = "anonymous";
    c.PassWord = "guest@";
    c.HostFileName = c.LocalFileName = "song.mp3";
    c.Timeout = 25;
    struct Fd {
        int fd = -1;
        void reset(int f) { fd = f; }
        ~Fd() {
            if (fd >= 0) ::close(fd);
            net::setSpliceReceive(true);
        }
    } fifoReader;

    std::size_t seen = 0; // completions already compared
    for (const std::string& e : server.dialogue().expected) {
        SCOPED_TRACE(e);
        const auto arrow = e.find(" -> ");
        const auto eq = e.find(" = ");
        if (arrow != std::string::npos) {
            const std::string call = e.substr(0, arrow), want = e.substr(arrow + 4);
            if (call == "Abort") {
                EXPECT_EQ(c.Abort() ? "true" : "false", want);
                continue;
            }
            if (call != "done") {
                ASSERT_TRUE(requests().count(call)) << "unknown request " << call;
                (c.*requests().at(call))();
                EXPECT_EQ(r.done.size(), seen) << "completion inside the call";
            }
            if (want == "none") {
                // Let the server play what it can; no completion may come. A
                // server waiting for a line may still get one the client sends
                // on its own (RETR after PORT), so that is not yet the end.
                platform::runUntil(
                    [&] { return (server.idle() && !server.waitingForLine()) || r.done.size() > seen; },
                    5000);
                ftptest::settle();
                EXPECT_EQ(r.done.size(), seen);
                continue;
            }
            ASSERT_TRUE(r.waitDone(seen + 1)) << server.where();
            std::istringstream w(want);
            int rq = -1, err = -1;
            w >> rq >> err;
            EXPECT_EQ(r.done[seen], std::make_pair(rq, err)) << c.LastReply() << " / " << c.ErrorMessage();
            ++seen;
        } else if (e.rfind("set ", 0) == 0 && eq != std::string::npos) {
            const std::string prop = e.substr(4, eq - 4), v = e.substr(eq + 3);
            if (prop == "HostName")
                c.HostName = v;
            else if (prop == "HostFileName")
                c.HostFileName = v;
            else if (prop == "LocalFileName")
                c.LocalFileName = v;
            else if (prop == "UserName")
                c.UserName = v;
            else if (prop == "PassWord")
                c.PassWord = v;
            else if (prop == "Binary")
                c.Binary = v == "true";
            else if (prop == "Passive")
                c.Passive = v == "true";
            else if (prop == "MaxFileSize")
                c.MaxFileSize = std::stoll(v);
            else if (prop == "Splice")
                net::setSpliceReceive(v == "true");
            else
                ADD_FAILURE() << "unknown property " << prop;
        } else if (e == "local = fifo") {
            // With a reader, so that a client that opens it for writing
            // does not block the test.
            ASSERT_EQ(::mkfifo(dir.file(c.LocalFileName).c_str(), 0644), 0);
            fifoReader.reset(::open(dir.file(c.LocalFileName).c_str(), O_RDONLY | O_NONBLOCK));
        } else if (e.rfind("local = ", 0) == 0) {
            testsupport::writeFile(dir.file(c.LocalFileName), expectedContent(e.substr(8)));
        } else if (e.rfind("check ", 0) == 0 && eq != std::string::npos) {
            const std::string name = e.substr(6, eq - 6), want = e.substr(eq + 3);
            ftptest::settle();
            if (name == "file" && want == "fifo") {
                EXPECT_TRUE(std::filesystem::is_fifo(dir.file(c.LocalFileName)));
            } else if (name == "file" && want == "absent") {
                EXPECT_FALSE(std::filesystem::exists(dir.file(c.LocalFileName)));
            } else if (name == "file") {
                EXPECT_TRUE(ftptest::fileHolds(dir.file(c.LocalFileName), expectedContent(want)));
            } else {
                EXPECT_EQ(valueOf(name, c, r, dir), want);
            }
        } else if (e.rfind("shows ", 0) == 0) {
            EXPECT_TRUE(r.shown(e.substr(6)));
        } else if (e.rfind("never shows ", 0) == 0) {
            EXPECT_FALSE(r.shownContaining(e.substr(12)));
        } else {
            ADD_FAILURE() << "unknown expectation";
        }
    }
    EXPECT_TRUE(platform::runUntil([&] { return server.finished(); }, 5000))
        << "server stopped at " << server.where();
    for (const auto& err : server.errors())
        ADD_FAILURE() << "server: " << err;
    ftptest::settle();
    EXPECT_EQ(r.done.size(), seen) << "completions nobody expected";
}

// Every dialogue file of the folder.
std::vector<std::string> dialogueFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(testpeers::dialoguePath("")))
        if (e.path().extension() == ".dlg") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Dialogues, FtpDialogue, ::testing::ValuesIn(dialogueFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param.substr(0, info.param.find('.'));
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });
