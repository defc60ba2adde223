// The frame walk on streams built byte by byte: what passes as audio, where a
// stream breaks, what other data look like, and the lines people read.

#include "media/tags.h"
#include "media/verdict.h"
#include "streams.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace streams;
using media::Damage;
using media::Kind;
using media::Looks;

media::Verdict judge(const std::string& data) {
    media::Options o;
    o.readTags = false;
    return media::verifyBytes(bytes(data), o);
}

std::string junk(std::size_t n, unsigned seed = 7) {
    std::string out(n, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>((seed >> 16) & 0xFF);
    }
    return out;
}

struct AudioCase {
    const char* name;
    std::string data;
    media::Version version;
    int layer;
    int rate;
    std::uint64_t frames;
    std::uint64_t milliseconds;
    int kbps;
    bool vbr;
};

// Ordinary files: each is audio, with these facts.
TEST(MediaWalk, OrdinaryStreamsAreAudio) {
    using V = media::Version;
    const std::string mixed = frames(M1L3, 5) + frames(M1L3At128, 5); // 10 frames, 4320 bytes in 0.36 s
    const std::vector<AudioCase> cases = {
        {"MPEG-1 layer III", frames(M1L3, 100), V::Mpeg1, 3, 32000, 100, 3600, 64, false},
        {"a single frame", frames(M1L3, 1), V::Mpeg1, 3, 32000, 1, 36, 64, false},
        {"checksums", frames(M1L3Crc, 10), V::Mpeg1, 3, 32000, 10, 360, 64, false},
        {"MPEG-2", frames(M2L3, 50), V::Mpeg2, 3, 22050, 50, 1306, 32, false},
        {"MPEG-2.5", frames(M25L3, 50), V::Mpeg25, 3, 8000, 50, 3600, 16, false},
        {"layer I", frames(M1L1, 125), V::Mpeg1, 1, 48000, 125, 1000, 128, false},
        {"layer II", frames(M1L2, 50), V::Mpeg1, 2, 48000, 50, 1200, 64, false},
        {"free format", frames(M1L3Free, 30), V::Mpeg1, 3, 44100, 30, 783, 92, false},
        {"two bitrates", mixed, V::Mpeg1, 3, 32000, 10, 360, 96, true},
        {"ID3v2 at the start", id3v2("Song") + frames(M1L3, 20), V::Mpeg1, 3, 32000, 20, 720, 64, false},
        {"ID3v2 with a footer at the end", frames(M1L3, 20) + id3v2("Song", true), V::Mpeg1, 3, 32000, 20,
         720, 64, false},
        {"ID3v1", frames(M1L3, 20) + id3v1("T", "A", "B"), V::Mpeg1, 3, 32000, 20, 720, 64, false},
        {"APEv2 and ID3v1", frames(M1L3, 20) + ape("Title", "T") + id3v1("T", "A", "B"), V::Mpeg1, 3, 32000,
         20, 720, 64, false},
        {"APEv1", frames(M1L3, 20) + ape("Title", "T", false), V::Mpeg1, 3, 32000, 20, 720, 64, false},
        {"Lyrics3v2 and ID3v1", frames(M1L3, 20) + lyrics3v2("[00:01]la") + id3v1("T", "A", "B"), V::Mpeg1, 3,
         32000, 20, 720, 64, false},
        {"Lyrics3v1 and ID3v1", frames(M1L3, 20) + lyrics3v1("la la") + id3v1("T", "A", "B"), V::Mpeg1, 3,
         32000, 20, 720, 64, false},
        {"a few junk bytes first", junk(37) + frames(M1L3, 20), V::Mpeg1, 3, 32000, 20, 720, 64, false},
        {"zero padding after the ID3v2 tag", id3v2("Song") + std::string(500, '\0') + frames(M1L3, 20),
         V::Mpeg1, 3, 32000, 20, 720, 64, false},
        {"Info header (not a frame of audio)", xingFrame("Info", 20) + frames(M1L3, 20), V::Mpeg1, 3, 32000,
         20, 720, 64, false},
        {"Xing header", xingFrame("Xing", 20) + frames(M1L3, 20), V::Mpeg1, 3, 32000, 20, 720, 64, true},
        {"VBRI header", vbriFrame(20) + frames(M1L3, 20), V::Mpeg1, 3, 32000, 20, 720, 64, true},
        {"one frame fewer than the Xing header says", xingFrame("Xing", 21) + frames(M1L3, 20), V::Mpeg1, 3,
         32000, 20, 720, 64, true},
        {"joined files",
         id3v2("A") + frames(M1L3, 10) + id3v1("A", "", "") + id3v2("B") + frames(M1L3, 10) +
             id3v1("B", "", ""),
         V::Mpeg1, 3, 32000, 20, 720, 64, false},
    };
    for (const AudioCase& c : cases) {
        SCOPED_TRACE(c.name);
        const media::Verdict v = judge(c.data);
        ASSERT_EQ(v.kind, Kind::Audio) << media::summary(v);
        EXPECT_EQ(v.stream.version, c.version);
        EXPECT_EQ(v.stream.layer, c.layer);
        EXPECT_EQ(v.stream.rate, c.rate);
        EXPECT_EQ(v.stream.frames, c.frames);
        EXPECT_EQ(v.stream.milliseconds(), c.milliseconds);
        EXPECT_EQ(v.stream.kbps, c.kbps);
        EXPECT_EQ(v.stream.vbr, c.vbr);
    }
}

TEST(MediaWalk, TagsAroundTheStreamAreNamed) {
    EXPECT_TRUE(judge(id3v2("x") + frames(M1L3, 5)).tags.id3v2);
    EXPECT_TRUE(judge(frames(M1L3, 5) + id3v2("x", true)).tags.id3v2);
    const media::Verdict all =
        judge(frames(M1L3, 5) + ape("Title", "T") + lyrics3v2("la") + id3v1("T", "", ""));
    EXPECT_TRUE(all.tags.ape && all.tags.lyrics3 && all.tags.id3v1);
    EXPECT_FALSE(all.tags.id3v2);
    const media::Verdict joined = judge(frames(M1L3, 5) + id3v2("B") + frames(M1L3, 5));
    EXPECT_EQ(joined.tags.inside, 1);
    EXPECT_EQ(joined.stream.frames, 10u);
    EXPECT_FALSE(judge(frames(M1L3, 5)).tags.any());
}

struct DamageCase {
    const char* name;
    std::string data;
    Damage::What what;
    std::uint64_t offset, length, expected, afterFrame;
    bool atEnd;
    int breaks;
};

TEST(MediaWalk, WhereAStreamBreaks) {
    using W = Damage::What;
    const std::string tag = id3v2("Song");
    const std::uint64_t t = tag.size();
    const std::string ten = frames(M1L3, 10);
    const std::vector<DamageCase> cases = {
        {"cut one byte into the last frame", ten + frames(M1L3, 1).substr(0, 1), W::CutFrame, 2880, 1, 288,
         10, false, 1},
        {"cut in the middle of a frame", tag + ten + frames(M1L3, 1).substr(0, 150), W::CutFrame, t + 2880,
         150, 288, 10, false, 1},
        {"cut one byte short", ten.substr(0, 2879), W::CutFrame, 2592, 287, 288, 9, false, 1},
        {"cut, then an ID3v1 tag", ten.substr(0, 2800) + id3v1("T", "A", "B"), W::CutFrame, 2592, 208, 288, 9,
         false, 1},
        {"junk between frames", ten + junk(500) + ten, W::Junk, 2880, 500, 0, 10, false, 1},
        {"zeros between frames", ten + std::string(1000, '\0') + ten, W::Zeros, 2880, 1000, 0, 10, false, 1},
        // 2000 zeros from inside the sixth frame on: its header stands, so the
        // stream breaks where the seventh begins, up to the first whole frame.
        {"zeros over frames", ten.substr(0, 1500) + std::string(2000, '\0') + (ten + ten).substr(3500),
         W::Zeros, 1728, 2016, 0, 6, false, 1},
        {"two breaks", ten + junk(100) + ten + std::string(50, '\0') + ten, W::Junk, 2880, 100, 0, 10, false,
         2},
        {"zeros to the end (a download never finished)", ten + std::string(5000, '\0'), W::Zeros, 2880, 5000,
         0, 10, true, 1},
        {"junk to the end, before the ID3v1 tag", ten + junk(300) + id3v1("T", "A", "B"), W::Junk, 2880, 300,
         0, 10, true, 1},
        {"four frames in junk make a stream", junk(3000) + frames(M1L3, 4) + junk(3000, 9), W::Junk, 4152,
         3000, 0, 4, true, 1},
        {"frames of another stream after the first", ten + frames(M2L3, 3), W::Zeros, 2880, 312, 0, 10, true,
         1},
        {"too much before the first frame", junk(media::SkippedAllowed + 1) + ten, W::Junk, 0,
         media::SkippedAllowed + 1, 0, 0, false, 1},
        {"zeros before the first frame", tag + std::string(100000, '\0') + ten, W::Zeros, t, 100000, 0, 0,
         false, 1},
        {"fewer frames than the Xing header says", xingFrame("Xing", 40) + ten, W::ShortOfHeader, 3168, 10,
         40, 10, false, 1},
        {"fewer frames than the VBRI header says", vbriFrame(40) + ten, W::ShortOfHeader, 3168, 10, 40, 10,
         false, 1},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const media::Verdict v = judge(c.data);
        ASSERT_EQ(v.kind, Kind::Damaged) << media::summary(v);
        EXPECT_EQ(v.damage.what, c.what);
        EXPECT_EQ(v.damage.offset, c.offset);
        EXPECT_EQ(v.damage.length, c.length);
        EXPECT_EQ(v.damage.expected, c.expected);
        EXPECT_EQ(v.damage.afterFrame, c.afterFrame);
        EXPECT_EQ(v.damage.atEnd, c.atEnd);
        EXPECT_EQ(v.damage.breaks, c.breaks);
    }
    // The frames on both sides of a break are counted.
    EXPECT_EQ(judge(ten + junk(500) + ten).stream.frames, 20u);
}

TEST(MediaWalk, WhatOtherDataLookLike) {
    const std::string zip = std::string("PK\x03\x04", 4) + junk(200);
    const std::vector<std::pair<std::string, Looks>> cases = {
        {"", Looks::Empty},
        {id3v2("Only a tag"), Looks::TagsOnly},
        {std::string(70000, '\0'), Looks::Zeros},
        {"<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head><body>gone</body></html>",
         Looks::Html},
        {"\xEF\xBB\xBF  <HTML>\n<BODY>Moved</BODY></HTML>", Looks::Html},
        {"Error: file not found.\r\nTry again later.\n", Looks::Text},
        {junk(20000), Looks::Unknown},
        {zip, Looks::Zip},
        {std::string("PK\x05\x06", 4) + std::string(18, '\0'), Looks::Zip},
        {std::string("Rar!\x1A\x07\x00", 7) + junk(50), Looks::Rar},
        {std::string("7z\xBC\xAF\x27\x1C", 6) + junk(50), Looks::SevenZip},
        {std::string("\x1F\x8B\x08", 3) + junk(50), Looks::Gzip},
        {"RIFF" + le32(100) + "WAVEfmt " + junk(50), Looks::Wav},
        {"RIFF" + le32(100) + "AVI LIST" + junk(50), Looks::Riff},
        {"OggS" + std::string(1, '\0') + junk(50), Looks::Ogg},
        {"fLaC" + junk(50), Looks::Flac},
        {id3v2("tagged FLAC") + "fLaC" + junk(50), Looks::Flac},
        {le32(0x18000000) + "ftypM4A " + junk(50), Looks::Mp4},
        {std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8) + junk(50), Looks::Asf},
        {"FORM" + le32(100) + "AIFFCOMM" + junk(50), Looks::Aiff},
        {"MThd" + be32(6) + junk(50), Looks::Midi},
        {"%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj", Looks::Pdf},
        {std::string("\x7F"
                     "ELF\x02\x01\x01",
                     7) +
             std::string(100, '\0'),
         Looks::Elf},
        {std::string("MZ\x90\x00\x03\x00", 6) + std::string(100, '\0'), Looks::WindowsExe},
        {"MZ is where the line begins, and it goes on as text for a while longer than sixty-four bytes.",
         Looks::Text},
        {std::string("\x89PNG\r\n\x1A\n", 8) + junk(50), Looks::Png},
        {std::string("\xFF\xD8\xFF\xE0", 4) + junk(50), Looks::Jpeg},
        {"GIF89a" + junk(50), Looks::Gif},
        // A ZIP that stores an MP3 file unpacked is still a ZIP.
        {zip + frames(M1L3, 20), Looks::Zip},
        // Frame headers that are not allowed, or a frame without the frames
        // that should follow it, make no stream.
        {frames(FrameKind{BadBitrate, 288, 1152, 32000}, 20), Looks::Unknown},
        {junk(3000) + frames(M1L3, 1) + junk(3000), Looks::Unknown},
        {junk(3000) + frames(M1L3, 3) + junk(3000), Looks::Unknown},
    };
    for (const auto& [data, looks] : cases) {
        SCOPED_TRACE(data.substr(0, 24));
        const media::Verdict v = judge(data);
        EXPECT_EQ(v.kind, Kind::NotAudio) << media::summary(v);
        EXPECT_EQ(v.looks, looks) << media::summary(v);
    }
}

// Any window holds the same verdict: the walk reads the file through a
// window that moves (frames, junk and tags across its edges).
TEST(MediaWalk, TheWindowDoesNotChangeTheVerdict) {
    testsupport::TempDir dir;
    const std::vector<std::string> files = {
        id3v2("Song") + frames(M1L3, 300) + junk(777) + frames(M1L3, 300) + ape("Title", "T") +
            id3v1("T", "", ""),
        frames(M1L3Free, 200) + std::string(3000, '\0') + frames(M1L3Free, 50) +
            frames(M1L3Free, 1).substr(0, 99),
        junk(1000) + xingFrame("Xing", 500) + frames(M1L3, 400),
        std::string(200000, '\0'),
        frames(M1L3, 100) + lyrics3v1(std::string(4000, 'x')) + id3v1("T", "", ""),
    };
    int n = 0;
    for (const std::string& data : files) {
        const std::string path = dir.file(std::to_string(n++) + ".mp3");
        testsupport::writeFile(path, data);
        media::Options whole;
        whole.window = data.size() + 1;
        whole.readTags = false;
        const media::Verdict expected = media::verify(path, whole);
        const media::Verdict inMemory = judge(data);
        EXPECT_EQ(media::summary(inMemory), media::summary(expected));
        for (std::size_t window : {64u, 100u, 289u, 4096u, 65536u}) {
            SCOPED_TRACE(std::to_string(n) + " with a window of " + std::to_string(window));
            media::Options o = whole;
            o.window = window;
            const media::Verdict v = media::verify(path, o);
            EXPECT_EQ(v.kind, expected.kind);
            EXPECT_EQ(media::summary(v), media::summary(expected));
            EXPECT_EQ(media::details(v), media::details(expected));
            EXPECT_EQ(v.stream.frames, expected.stream.frames);
        }
    }
}

TEST(MediaWalk, FilesThatCannotBeRead) {
    testsupport::TempDir dir;
    media::Verdict v = media::verify(dir.file("missing.mp3"));
    EXPECT_EQ(v.kind, Kind::Unreadable);
    EXPECT_EQ(v.error, ENOENT);
    EXPECT_EQ(media::summary(v), "cannot be read: No such file or directory");
    v = media::verify(dir.path());
    EXPECT_EQ(v.kind, Kind::Unreadable);
    EXPECT_EQ(v.errorText, "Is a directory");
    // A FIFO is refused at once, never waited on.
    ASSERT_EQ(::mkfifo(dir.file("fifo.mp3").c_str(), 0600), 0);
    v = media::verify(dir.file("fifo.mp3"));
    EXPECT_EQ(v.kind, Kind::Unreadable);
    EXPECT_EQ(v.errorText, "not a regular file");
    // A file cut short between its size was taken and its end was read.
    testsupport::writeFile(dir.file("shrinking.mp3"), frames(M1L3, 10));
    const int fd = ::open(dir.file("shrinking.mp3").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    v = media::verifyOpenFile(fd, 10 * 288 + 2000);
    ::close(fd);
    EXPECT_EQ(v.kind, Kind::Unreadable);
    EXPECT_EQ(v.errorText, "the file became shorter while it was read");
}

TEST(MediaWalk, TheLinesPeopleRead) {
    struct Case {
        std::string data;
        const char* summary;
        const char* details;
    };
    const std::vector<Case> cases = {
        {frames(M1L3, 5000), "untagged (3:00, 64 kbps)",
         "MPEG-1 Layer III, 32000 Hz, mono, 5000 frames; tags: none"},
        {frames(M1L3, 100000) + id3v1("Title", "Artist", "Album"), "Artist - Title (1:00:00, 64 kbps)",
         "MPEG-1 Layer III, 32000 Hz, mono, 100000 frames; album: Album; tags: ID3v1"},
        {frames(M1L3, 10) + id3v1("Title only", "", ""), "Title only (0:00, 64 kbps)",
         "MPEG-1 Layer III, 32000 Hz, mono, 10 frames; tags: ID3v1"},
        {junk(37) + xingFrame("Xing", 5) + frames(M1L3Crc, 5) + frames(M1L3At128, 5),
         "untagged (0:00, VBR 96 kbps)",
         "MPEG-1 Layer III, 32000 Hz, mono, 10 frames, Xing header (5 frames), 37 bytes skipped before the "
         "first "
         "frame; tags: none"},
        {frames(M1L3Free, 3), "untagged (0:00, 92 kbps)",
         "MPEG-1 Layer III, 44100 Hz, stereo, free format, 3 frames; tags: none"},
        {frames(M1L3, 10) + frames(M1L3, 1).substr(0, 100) + id3v1("T", "A", ""),
         "damaged: cut in the middle of frame 11 at byte 2880: 100 of its 288 bytes",
         "MPEG-1 Layer III, 32000 Hz, mono, 10 frames (0:00, 64 kbps); tagged: A - T; tags: ID3v1"},
        {frames(M1L3, 10) + junk(100) + frames(M1L3, 10) + std::string(9, '\0') + frames(M1L3, 10),
         "damaged: the stream breaks after frame 10 at byte 2880: 100 bytes of junk before it resumes (and 1 "
         "more "
         "break)",
         "MPEG-1 Layer III, 32000 Hz, mono, 30 frames (0:01, 64 kbps); tags: none"},
        {frames(M1L3, 10) + std::string(1, '\0'),
         "damaged: the stream stops after frame 10 at byte 2880: 1 byte of "
         "zeros follow",
         "MPEG-1 Layer III, 32000 Hz, mono, 10 frames (0:00, 64 kbps); tags: none"},
        {junk(70000) + frames(M1L3, 10), "damaged: 70000 bytes of junk before the first frame",
         "MPEG-1 Layer III, 32000 Hz, mono, 10 frames (0:00, 64 kbps); tags: none"},
        {xingFrame("Info", 99) + frames(M1L3, 10),
         "damaged: short: 10 frames of the 99 its info header announces",
         "MPEG-1 Layer III, 32000 Hz, mono, 10 frames (0:00, 64 kbps), Info header (99 frames); tags: none"},
        {"<html><body>no</body></html>", "not audio: an HTML page", ""},
        {"", "not audio: an empty file", ""},
        {junk(1000), "not audio: no MPEG audio frames in it (unknown data)", ""},
    };
    for (const Case& c : cases) {
        media::Options o; // the tags' text through TagLib, from memory
        const media::Verdict v = media::verifyBytes(bytes(c.data), o);
        EXPECT_EQ(media::summary(v), c.summary);
        EXPECT_EQ(media::details(v), c.details);
    }
}

TEST(MediaWalk, DurationsRoundToTheSecond) {
    const std::vector<std::pair<std::uint64_t, const char*>> cases = {
        {0, "0:00"},      {499, "0:00"},      {500, "0:01"},        {59499, "0:59"},        {59500, "1:00"},
        {225000, "3:45"}, {3599499, "59:59"}, {3599500, "1:00:00"}, {36061000, "10:01:01"},
    };
    for (const auto& [ms, text] : cases)
        EXPECT_EQ(media::duration(ms), text) << ms;
}

TEST(MediaWalk, TagTextIsMadePrintable) {
    const std::vector<std::pair<std::u32string, std::string>> cases = {
        {U"Night Train", "Night Train"},
        {U"  padded \t\n", "padded"},
        {U"\x1B]0;title\x07", "?]0;title?"},
        {U"a\x7F"
         U"b\x85"
         U"c\x9B"
         U"d",
         "a?b?c?d"},
        {U"Caf\xE9 \x263A", "Caf\xC3\xA9 \xE2\x98\xBA"},
        {U"line\nbreak", "line?break"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(media::printableTagText(in), out);
    // Through a real tag: an ID3v1 title with an escape sequence in it.
    const std::string data = frames(M1L3, 5) + id3v1("\x1B[2JCleared", "Art\x9Bist", "");
    const media::Verdict v = media::verifyBytes(bytes(data));
    EXPECT_EQ(v.tags.title, "?[2JCleared");
    EXPECT_EQ(v.tags.artist, "Art?ist");
}

} // namespace
