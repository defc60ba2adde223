// A file's bytes coded on the way (gzip, ...) are never stored as the file:
// the download asks for the bytes as they are, and a reply that codes them
// all the same is refused as broken before a byte reaches the disk. nginx
// with gzip_static always (a common way to serve precompressed files) codes
// them whatever was asked; the scripted server sends transfer codings no
// real server uses.
#include "download/transfer.h"
#include "peers/http_peers.h"
#include "peers/nginx_peer.h"
#include "platform/eventloop.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

using download::HttpSession;
using download::Outcome;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string Absent = "<no file>";

TEST(HttpCodings, CodedBytesAreNeverStoredAsTheFile) {
    const std::string gz =
        std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + "not the song at all";
    testsupport::TempDir root;
    writeFile(root.file("song.mp3.gz"), gz);
    writeFile(root.file("plain.mp3"), "the plain song");
    testpeers::NginxPeer nginx;
    ASSERT_TRUE(
        nginx.start(root.path(), "location /gz/ { alias " + root.path() + "/; gzip_static always; }\n"))
        << nginx.log();
    testpeers::HttpPeer bad;
    ASSERT_TRUE(bad.start());
    const std::string chunked = "1d\r\n" + gz + "\r\n0\r\n\r\n";
    bad.raw("/te-gzip.mp3", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n" + gz);
    bad.raw("/te-gzip-chunked.mp3", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" + chunked);
    bad.raw("/te-gzip-length.mp3",
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nContent-Length: 29\r\n\r\n" + gz);
    bad.raw("/ce-gzip-206.mp3",
            "HTTP/1.1 206 Partial Content\r\nContent-Encoding: gzip\r\nContent-Range: bytes 4-32/33\r\n"
            "Content-Length: 29\r\n\r\n" +
                gz);

    struct Row {
        const char* name;
        std::string url;
        std::optional<std::string> local; // the file before, resumed when set
        Outcome outcome;
        std::string reason; // in the detail
        std::string file;   // after
    };
    const std::vector<Row> rows = {
        {"gzip_static", nginx.url("/gz/song.mp3"), {}, Outcome::Broken, "coded as gzip", Absent},
        {"gzip_static, resumed", nginx.url("/gz/song.mp3"), "part", Outcome::Broken, "coded as gzip", "part"},
        {"transfer coding gzip",
         bad.url("/te-gzip.mp3"),
         {},
         Outcome::Broken,
         "transfer coding: gzip",
         Absent},
        {"gzip, then chunked", bad.url("/te-gzip-chunked.mp3"), "part", Outcome::Broken,
         "transfer coding: gzip", "part"},
        {"gzip with a length",
         bad.url("/te-gzip-length.mp3"),
         {},
         Outcome::Broken,
         "transfer coding: gzip",
         Absent},
        {"a coded 206", bad.url("/ce-gzip-206.mp3"), "part", Outcome::Broken, "coded as gzip", "part"},
        {"no coding", nginx.url("/plain.mp3"), {}, Outcome::Done, "200", "the plain song"},
    };
    testsupport::TempDir dir;
    const std::string out = dir.file("out.mp3");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(out);
        if (row.local) writeFile(out, *row.local);
        HttpSession s;
        HttpSession::Request rq;
        rq.url = row.url;
        rq.localName = out;
        rq.resume = row.local.has_value();
        rq.agent = "WavetrapTest/1";
        bool finished = false;
        download::TransferResult result;
        platform::ScopedConnection c = s.finished.connect([&](const download::TransferResult& t) {
            finished = true;
            result = t;
        });
        s.start(rq);
        ASSERT_TRUE(platform::runUntil([&] { return finished; }, 20000));
        EXPECT_EQ(download::outcomeName(result.outcome), std::string(download::outcomeName(row.outcome)))
            << result.detail;
        EXPECT_NE(result.detail.find(row.reason), std::string::npos) << result.detail;
        EXPECT_EQ(std::filesystem::exists(out) ? readFile(out) : Absent, row.file);
    }
    // Every request asked for the bytes as they are.
    for (const auto& head : bad.requests())
        EXPECT_NE(std::find(head.begin(), head.end(), "Accept-Encoding: identity"), head.end()) << head[0];
}

} // namespace
