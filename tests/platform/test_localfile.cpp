// platform::LocalFileSink, the one writer of downloaded bytes: what a refusal
// before the go-ahead leaves, where a resume writes, the size limit, names
// that are no regular file, and a file that takes no more bytes.
#include "platform/localfile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::LocalFileSink;
using Missing = LocalFileSink::Missing;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

enum class Before { Nothing, File, Fifo, Folder, Link };
enum class Place { None, Cut, Seek };
enum class End { Close, Discard }; // Discard: the sender refused after all

constexpr const char* Old = "0123456789"; // an existing file's bytes

void makeLocal(const testsupport::TempDir& dir, const std::string& path, Before before) {
    switch (before) {
    case Before::Nothing:
        break;
    case Before::File:
        writeFile(path, Old);
        break;
    case Before::Fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        break;
    case Before::Folder:
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
        break;
    case Before::Link:
        writeFile(dir.file("target"), Old);
        ASSERT_EQ(::symlink("target", path.c_str()), 0);
        break;
    }
}

} // namespace

TEST(LocalFileSink, OpensPlacesLimitsAndLeavesRefusedFilesAlone) {
    const struct {
        const char* what;
        Before before;
        Missing missing;
        bool begin; // the sender's go-ahead came
        Place place;
        std::int64_t at, limit;
        std::string bytes;
        End end;
        std::string cause;                // of open (empty: it opens) or of the write
        std::int64_t taken;               // by write
        std::optional<std::string> after; // the file afterwards (nullopt: none)
    } rows[] = {
        {"deferred, refused: nothing made", Before::Nothing, Missing::Defer, false, Place::None, 0, 0, "",
         End::Discard, "", 0, std::nullopt},
        {"existing, refused before the go-ahead: as it was", Before::File, Missing::Defer, false, Place::None,
         0, 0, "", End::Discard, "", 0, Old},
        {"existing, from the start: emptied first", Before::File, Missing::Defer, true, Place::Cut, 0, 0,
         "abc", End::Close, "", 3, "abc"},
        {"deferred, accepted: made", Before::Nothing, Missing::Defer, true, Place::None, 0, 0, "abc",
         End::Close, "", 3, "abc"},
        {"resume at 4, the tail kept", Before::File, Missing::Fail, true, Place::Seek, 4, 0, "xy", End::Close,
         "", 2, "0123xy6789"},
        {"resume at 4, cut there", Before::File, Missing::Create, true, Place::Cut, 4, 0, "xy", End::Close,
         "", 2, "0123xy"},
        {"made now, then refused: removed", Before::Nothing, Missing::Create, true, Place::Cut, 0, 0, "abc",
         End::Discard, "", 3, std::nullopt},
        {"missing, not to be made", Before::Nothing, Missing::Fail, false, Place::None, 0, 0, "", End::Close,
         "No such file or directory", 0, std::nullopt},
        {"limit: what fits", Before::Nothing, Missing::Create, true, Place::Cut, 0, 5, "abcdefgh", End::Close,
         "", 5, "abcde"},
        {"limit counts from the resume offset", Before::File, Missing::Fail, true, Place::Seek, 8, 12,
         "abcdef", End::Close, "", 4, "01234567abcd"},
        {"no bytes before the go-ahead", Before::File, Missing::Defer, false, Place::None, 0, 0, "abc",
         End::Close, "Bad file descriptor", -1, Old},
        {"FIFO", Before::Fifo, Missing::Defer, false, Place::None, 0, 0, "", End::Close, "not a regular file",
         0, std::nullopt},
        {"FIFO, to be made", Before::Fifo, Missing::Create, false, Place::None, 0, 0, "", End::Close,
         "not a regular file", 0, std::nullopt},
        {"folder", Before::Folder, Missing::Fail, false, Place::None, 0, 0, "", End::Close,
         "not a regular file", 0, std::nullopt},
        {"link to a file", Before::Link, Missing::Create, false, Place::None, 0, 0, "", End::Close,
         "not a regular file", 0, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        testsupport::TempDir dir;
        const std::string path = dir.file("song.mp3");
        makeLocal(dir, path, row.before);
        LocalFileSink sink;
        sink.setLimit(row.limit);
        const bool opened = sink.open(path, row.missing);
        const bool refusedName = !row.cause.empty() && row.bytes.empty(); // the cause is open's
        ASSERT_EQ(opened, !refusedName) << sink.cause();
        if (!opened) {
            EXPECT_EQ(sink.cause(), row.cause);
            EXPECT_FALSE(sink.isOpen());
            if (row.before == Before::Link) {
                EXPECT_EQ(readFile(dir.file("target")), Old);
            }
            continue;
        }
        EXPECT_EQ(sink.deferred(), row.missing == Missing::Defer && row.before == Before::Nothing);
        if (row.begin) {
            ASSERT_TRUE(sink.begin()) << sink.cause();
        }
        if (row.place == Place::Cut) {
            ASSERT_TRUE(sink.cut(row.at)) << sink.cause();
        }
        if (row.place == Place::Seek) {
            ASSERT_TRUE(sink.seek(row.at)) << sink.cause();
        }
        if (!row.bytes.empty()) {
            EXPECT_EQ(sink.write(row.bytes.data(), row.bytes.size()), row.taken);
            EXPECT_EQ(sink.cause(), row.cause);
        }
        if (row.limit > 0) {
            EXPECT_EQ(sink.room(), 0);
        }
        if (row.end == End::Discard)
            sink.discard();
        else
            sink.close();
        if (row.after) {
            EXPECT_EQ(readFile(path), *row.after);
        } else {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path))) << "no file";
        }
    }
}

// Bytes through a pipe (the zero-copy road) land as written ones do, within
// the limit; what is past it stays in the pipe for the caller to drop.
TEST(LocalFileSink, TakesBytesFromAPipeUpToTheLimit) {
    testsupport::TempDir dir;
    const std::string path = dir.file("song.mp3");
    writeFile(path, Old);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abcdefgh", 8), 8);
    LocalFileSink sink;
    sink.setLimit(9);
    ASSERT_TRUE(sink.open(path, Missing::Fail));
    ASSERT_TRUE(sink.seek(4));
    ASSERT_TRUE(sink.begin());
    std::int64_t spliced = 0;
    EXPECT_EQ(sink.writeFromPipe(fds[0], 8, spliced), 5);
    EXPECT_TRUE(spliced == 5 || sink.spliceRefused());
    sink.close();
    EXPECT_EQ(readFile(path), "0123abcde9"); // a resume keeps what follows
    char rest[8];
    EXPECT_EQ(::read(fds[0], rest, sizeof rest), 3);
    ::close(fds[0]);
    ::close(fds[1]);
}

// A file that takes no more (here a file size limit, as a full disk would):
// the system's cause, and what reached the file is still there.
TEST(LocalFileSink, AFullFileFailsWithTheSystemsCause) {
    testsupport::TempDir dir;
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string block(6000, 'x');
    LocalFileSink written, piped;
    ASSERT_TRUE(written.open(dir.file("a.mp3"), Missing::Create));
    ASSERT_TRUE(written.begin());
    const std::int64_t took = written.write(block.data(), block.size());
    const std::string cause = written.cause();
    const std::int64_t at = written.position();

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], block.data(), block.size()), static_cast<ssize_t>(block.size()));
    ASSERT_TRUE(piped.open(dir.file("b.mp3"), Missing::Create));
    ASSERT_TRUE(piped.begin());
    std::int64_t spliced = 0;
    const std::int64_t tookPiped = piped.writeFromPipe(fds[0], block.size(), spliced);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    ::close(fds[0]);
    ::close(fds[1]);

    EXPECT_EQ(took, -1);
    EXPECT_EQ(cause, "File too large");
    EXPECT_EQ(at, 4096) << "the bytes that fit stay for a resume";
    EXPECT_EQ(tookPiped, -1);
    EXPECT_EQ(piped.cause(), "File too large");
    written.close();
    EXPECT_EQ(readFile(dir.file("a.mp3")), block.substr(0, 4096));
}
