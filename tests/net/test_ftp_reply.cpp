// Reply parsing and the texts the FTP client builds, from tables.
#include "net/ftpreply.h"

#include <gtest/gtest.h>

using namespace net::ftp;

TEST(FtpReplyParsing, CodeContinuationAndSecondNumber) {
    struct Row {
        const char* line;
        int code;
        bool continuation;
        std::int64_t second;
    };
    const Row rows[] = {
        {"220 Ready", 220, false, 0},
        {"220-Welcome", 220, true, 0},
        {"  \t220 leading blanks", 220, false, 0},
        {"213 4711", 213, false, 4711},
        {"213   4711 trailing", 213, false, 4711},
        {"213 3000000000", 213, false, 3000000000LL},
        {"213", 213, false, 0},
        {"213 size", 213, false, 0},
        {"Text inside a multi-line reply", 0, false, 0},
        {"", 0, false, 0},
        {"-5 odd", -5, false, 0},
        {"230- continued", 230, true, 0},
        {"230 -not a continuation", 230, false, 0},
        {"99999999999999999999999 overflow", 2147483647, false, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ReplyCode(r.line), r.code) << r.line;
        EXPECT_EQ(IsContinuation(r.line), r.continuation) << r.line;
        EXPECT_EQ(SecondNumber(r.line), r.second) << r.line;
    }
}

TEST(FtpReplyParsing, QuotedDirectoryName) {
    EXPECT_EQ(QuotedName("257 \"/pub/mp3\" is current directory."), "/pub/mp3");
    EXPECT_EQ(QuotedName("257 \"/a \"\"b\"\"\" created"), "/a \"b\"");
    EXPECT_EQ(QuotedName("257 \"unterminated"), "unterminated");
    EXPECT_EQ(QuotedName("250 CWD command successful."), "");
}

TEST(FtpReplyParsing, TransferLine) {
    EXPECT_EQ(TransferLine(4900, 1000, 1000), "! 4900 bytes received/sent in 0 seconds");
    // Below 32768 bytes the rate is count * 1000 / ms.
    EXPECT_EQ(TransferLine(1000, 0, 300), "! 1000 bytes received/sent in 0 seconds (3333 Bytes/sec)");
    // From 32768 bytes on it is (count / ms) * 1000.
    EXPECT_EQ(TransferLine(100000, 0, 2500), "! 100000 bytes received/sent in 2 seconds (40000 Bytes/sec)");
    // The tick counter wraps.
    EXPECT_EQ(TransferLine(10, 0xFFFFFF00u, 0x00000100u),
              "! 10 bytes received/sent in 0 seconds (19 Bytes/sec)");
    // Beyond 2 GiB nothing overflows.
    EXPECT_EQ(TransferLine(5000000000LL, 0, 1000),
              "! 5000000000 bytes received/sent in 1 seconds (5000000000 Bytes/sec)");
}

TEST(FtpReplyParsing, PortCommand) {
    EXPECT_EQ(PortCommand("127.0.0.1", "127.0.0.1", 0x1234), "PORT 127,0,0,1,18,52");
    EXPECT_EQ(PortCommand("127.0.0.9", "127.0.0.1", 5000), "PORT 127,0,0,1,19,136");
    EXPECT_EQ(PortCommand("127.0.0.1", "127.0.0.7", 21), "PORT 127,0,0,1,0,21");
    EXPECT_EQ(PortCommand("10.1.2.3", "127.0.0.7", 65535), "PORT 10,1,2,3,255,255");
}

TEST(FtpReplyParsing, PlainLocalNames) {
    for (const char* ok : {"song.mp3", "a b.mp3", "..hidden", ".x"})
        EXPECT_TRUE(IsPlainLocalName(ok)) << ok;
    for (const char* bad : {"", ".", "..", "a/b", "/etc/passwd", "../up.mp3", "dir/"})
        EXPECT_FALSE(IsPlainLocalName(bad)) << bad;
}

TEST(FtpReplyParsing, CommandOfTheLineSent) {
    const struct {
        const char* line;
        net::FtpCommand command;
    } cases[] = {
        {"USER anonymous", net::FtpCommand::User},
        {"PASS x@y", net::FtpCommand::Pass},
        {"RETR /pub/a b.mp3", net::FtpCommand::Retr},
        {"REST 100", net::FtpCommand::Rest},
        {"retr x", net::FtpCommand::Retr},
        {"EPRT |2|::1|5000|", net::FtpCommand::Eprt},
        {"PASV", net::FtpCommand::Pasv},
        {"AUTH TLS", net::FtpCommand::Auth},
        {"XCRC a", net::FtpCommand::Other},
        {"RETRIEVE x", net::FtpCommand::Other},
        {"", net::FtpCommand::None},
        {" RETR x", net::FtpCommand::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CommandOf(c.line), c.command) << c.line;
}

// A refusal of the whole site: the code, the command it answers, and the
// words only where servers tell the cases apart by words.
TEST(FtpReplyParsing, RefusalsOfTheSite) {
    using net::FtpCommand;
    const struct {
        int code;
        FtpCommand command;
        const char* line;
        Refusal refusal;
    } cases[] = {
        {530, FtpCommand::User, "530 Permission denied.", Refusal::Site},
        {530, FtpCommand::Pass, "530 Password incorrect", Refusal::Site},
        {530, FtpCommand::Pass, "530 Login incorrect.", Refusal::None}, // tried again
        {421, FtpCommand::None, "421 Can't connect to host", Refusal::Unreachable},
        {421, FtpCommand::None, "421 user limit exeeded", Refusal::Site},
        {421, FtpCommand::None, "421 Too many users, try later", Refusal::None},
        {550, FtpCommand::Retr, "550 PERMISSION DENIED", Refusal::Site},
        {550, FtpCommand::Port, "550 Permission denied.", Refusal::None}, // asks for passive mode
        {550, FtpCommand::Eprt, "550 Permission denied.", Refusal::None},
        {534, FtpCommand::Auth, "534 Permission denied", Refusal::None}, // no TLS there
        {331, FtpCommand::User, "331 Password required for Permission denied", Refusal::None},
        {150, FtpCommand::Retr, "150 Opening data connection for Lion denied.mp3", Refusal::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RefusalOf(c.code, c.command, c.line), c.refusal) << c.line;
}
