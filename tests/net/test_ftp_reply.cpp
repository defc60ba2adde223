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
