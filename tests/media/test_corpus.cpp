// The verifier on real files: MP3 files that lame and twolame made from a
// tone, the damaged variants made from them, and files of other formats
// (tests/peers/make_mp3.py corpus). libmpg123's parser walks the same files
// as a second opinion on the frames.

#include "media/mpg123_frames.h"
#include "media/verdict.h"
#include "support/mp3_files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using media::Damage;
using media::Kind;
using media::Looks;

class MediaCorpus : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = testsupport::mp3Corpus(); }
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }
    static std::string file(const std::string& name) { return dir_ + "/" + name; }
    static std::string dir_;
};
std::string MediaCorpus::dir_;

struct AudioFile {
    const char* name;
    const char* summary;
    media::Version version;
    int layer;
    std::uint64_t frames;
    media::InfoHeader header;
    const char* album;
};

TEST_F(MediaCorpus, OrdinaryFilesAreAudio) {
    using H = media::InfoHeader;
    using V = media::Version;
    // lame puts an Info (CBR) or Xing (VBR) header in the first frame, which is
    // no audio, where the frame has room for it (not in frames of 104 or 144 bytes).
    const std::vector<AudioFile> files = {
        {"tagged.mp3", "The Locals - Night Train (0:03, 64 kbps)", V::Mpeg1, 3, 85, H::Info,
         "Loopback Sessions"},
        {"vbr.mp3", "The Locals - Blue Hour (0:03, VBR 34 kbps)", V::Mpeg1, 3, 116, H::Xing, ""},
        {"mpeg2.mp3", "untagged (0:02, 32 kbps)", V::Mpeg2, 3, 79, H::None, ""},
        {"mpeg25.mp3", "Harbour Lights - Paper Kites (0:02, 16 kbps)", V::Mpeg25, 3, 30, H::None, ""},
        {"free.mp3", "untagged (0:02, 88 kbps)", V::Mpeg1, 3, 78, H::Info, ""},
        {"crc.mp3", "untagged (0:02, 128 kbps)", V::Mpeg1, 3, 85, H::Info, ""},
        {"no-info.mp3", "untagged (0:02, 64 kbps)", V::Mpeg1, 3, 57, H::None, ""},
        {"layer2.mp3", "untagged (0:02, 64 kbps)", V::Mpeg1, 2, 56, H::None, ""},
        {"layer2-mpeg2.mp3", "untagged (0:02, 32 kbps)", V::Mpeg2, 2, 39, H::None, ""},
        {"layer1.mp3", "untagged (0:01, 128 kbps)", V::Mpeg1, 1, 150, H::None, ""},
        {"ape.mp3", "APE Band - Moonlight Drive (0:02, 32 kbps)", V::Mpeg2, 3, 79, H::None, "Tags"},
        {"lyrics.mp3", "Singer - Lyrical (0:02, 32 kbps)", V::Mpeg2, 3, 79, H::None, "Words"},
        {"junk-start.mp3", "untagged (0:02, 32 kbps)", V::Mpeg2, 3, 79, H::None, ""},
        {"id3-padding.mp3", "The Locals - Night Train (0:03, 64 kbps)", V::Mpeg1, 3, 85, H::Info,
         "Loopback Sessions"},
        {"joined.mp3", "The Locals - Night Train (0:06, 64 kbps)", V::Mpeg1, 3, 170, H::Info,
         "Loopback Sessions"},
    };
    for (const AudioFile& f : files) {
        SCOPED_TRACE(f.name);
        const media::Verdict v = media::verify(file(f.name));
        ASSERT_EQ(v.kind, Kind::Audio) << media::summary(v);
        EXPECT_EQ(media::summary(v), f.summary);
        EXPECT_EQ(v.stream.version, f.version);
        EXPECT_EQ(v.stream.layer, f.layer);
        EXPECT_EQ(v.stream.frames, f.frames);
        EXPECT_EQ(v.stream.header, f.header);
        EXPECT_EQ(v.tags.album, f.album);
    }
    EXPECT_EQ(media::verify(file("junk-start.mp3")).stream.skipped, 37u);
    EXPECT_EQ(media::verify(file("id3-padding.mp3")).stream.skipped, 300u);
    EXPECT_TRUE(media::verify(file("free.mp3")).stream.freeFormat);
    EXPECT_TRUE(media::verify(file("crc.mp3")).stream.crc);
    const media::Tags tags = media::verify(file("tagged.mp3")).tags;
    EXPECT_TRUE(tags.id3v2 && tags.id3v1 && !tags.ape);
    EXPECT_TRUE(media::verify(file("ape.mp3")).tags.ape);
    EXPECT_EQ(media::verify(file("joined.mp3")).tags.inside, 2);
}

struct DamagedFile {
    const char* name;
    Damage::What what;
    const char* reason;
};

TEST_F(MediaCorpus, DamagedVariants) {
    using W = Damage::What;
    // tagged.mp3's ID3v2 tag is 197 bytes, its frames 288.
    const std::vector<DamagedFile> files = {
        {"cut.mp3", W::CutFrame, "cut in the middle of frame 40 at byte 11717: 100 of its 288 bytes"},
        {"short.mp3", W::ShortOfHeader, "short: 40 frames of the 85 its info header announces"},
        {"zeros-inside.mp3", W::Zeros,
         "the stream breaks after frame 20 at byte 6245: 2016 bytes of zeros before it resumes"},
        {"junk-inside.mp3", W::Junk,
         "the stream breaks after frame 30 at byte 9125: 500 bytes of junk before it resumes"},
        {"zeros-end.mp3", W::Zeros,
         "the stream stops after frame 51 at byte 15173: 9920 bytes of zeros follow"},
        {"junk-head.mp3", W::Junk, "102400 bytes of junk before the first frame"},
        // Its ID3v2 tag is 146 bytes, then a Xing frame and frames of 32 to 128 kbps.
        {"vbr-cut.mp3", W::CutFrame, "cut in the middle of frame 66 at byte 7897: 86 of its 104 bytes"},
    };
    for (const DamagedFile& f : files) {
        SCOPED_TRACE(f.name);
        const media::Verdict v = media::verify(file(f.name));
        ASSERT_EQ(v.kind, Kind::Damaged) << media::summary(v);
        EXPECT_EQ(v.damage.what, f.what);
        EXPECT_EQ(media::reason(v), f.reason);
    }
    // The tags of a damaged file are read too.
    EXPECT_EQ(media::verify(file("cut.mp3")).tags.title, "Night Train");
}

TEST_F(MediaCorpus, OtherFilesAreNotAudio) {
    const std::vector<std::pair<const char*, Looks>> files = {
        {"page.mp3", Looks::Html},
        {"text.mp3", Looks::Text},
        {"zeros.mp3", Looks::Zeros},
        {"empty.mp3", Looks::Empty},
        {"tags-only.mp3", Looks::TagsOnly},
        {"zip.mp3", Looks::Zip},
        {"zip-stored.mp3", Looks::Zip},
        {"wav.mp3", Looks::Wav},
        {"ogg.mp3", Looks::Ogg},
        {"flac.mp3", Looks::Flac},
        {"pdf.mp3", Looks::Pdf},
        {"elf.mp3", Looks::Elf},
        {"random.mp3", Looks::Unknown},
    };
    for (const auto& [name, looks] : files) {
        SCOPED_TRACE(name);
        const media::Verdict v = media::verify(file(name));
        EXPECT_EQ(v.kind, Kind::NotAudio) << media::summary(v);
        EXPECT_EQ(v.looks, looks) << media::summary(v);
        EXPECT_EQ(v.tags.title, "");
    }
}

// libmpg123 finds the same frames: as many, from the same first audio frame,
// and where the stream breaks (junk or zeros inside it) a gap at the same byte
// after as many frames. (After a gap it takes the first frame header it meets,
// so its count past a gap may take in frames that are none.)
TEST_F(MediaCorpus, LibMpg123FindsTheSameFrames) {
    const std::vector<const char*> names = {
        "tagged.mp3", "vbr.mp3",          "mpeg2.mp3",       "mpeg25.mp3",       "free.mp3",
        "crc.mp3",    "no-info.mp3",      "layer2.mp3",      "layer2-mpeg2.mp3", "layer1.mp3",
        "ape.mp3",    "lyrics.mp3",       "junk-start.mp3",  "id3-padding.mp3",  "cut.mp3",
        "short.mp3",  "zeros-inside.mp3", "junk-inside.mp3", "zeros-end.mp3",    "junk-head.mp3",
        "vbr-cut.mp3"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const media::Verdict v = media::verify(file(name));
        const media::Mpg123Frames m = media::walkWithMpg123(file(name));
        ASSERT_TRUE(m.opened) << m.error;
        EXPECT_EQ(m.first, v.stream.firstAudio); // after an info frame
        const bool inside = v.kind == Kind::Damaged && v.damage.afterFrame > 0 && !v.damage.atEnd &&
                            (v.damage.what == Damage::What::Junk || v.damage.what == Damage::What::Zeros);
        EXPECT_EQ(m.gaps > 0, inside);
        if (inside) {
            EXPECT_EQ(m.firstGap, v.damage.offset);
            EXPECT_EQ(m.beforeGap, v.damage.afterFrame);
        } else {
            EXPECT_EQ(m.frames, v.stream.frames);
        }
        if (v.kind == Kind::Damaged && v.damage.what == Damage::What::CutFrame) {
            EXPECT_EQ(m.end, v.damage.offset);
        }
    }
}

// The same verdicts through a small window as through the default one.
TEST_F(MediaCorpus, SmallWindowsGiveTheSameVerdicts) {
    for (const char* name : {"tagged.mp3", "vbr.mp3", "free.mp3", "lyrics.mp3", "joined.mp3",
                             "zeros-inside.mp3", "junk-head.mp3", "vbr-cut.mp3", "page.mp3", "zip.mp3"}) {
        SCOPED_TRACE(name);
        media::Options small;
        small.window = 300;
        const media::Verdict a = media::verify(file(name)), b = media::verify(file(name), small);
        EXPECT_EQ(media::summary(a), media::summary(b));
        EXPECT_EQ(media::details(a), media::details(b));
    }
}

} // namespace
