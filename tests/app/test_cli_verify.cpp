// wavetrap-cli verify, run as a separate program on real MP3 files
// (tests/peers/make_mp3.py) the way a user runs it.

#include "support/cli_run.h"
#include "support/mp3_files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::CliRun;

CliRun verify(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), "verify");
    testsupport::TempDir config;
    return testsupport::runCli(args, config.path(), input);
}

class CliVerify : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = testsupport::mp3Corpus(); }
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }
    static std::string file(const std::string& name) { return dir_ + "/" + name; }
    static std::string dir_;
};
std::string CliVerify::dir_;

const std::string TaggedLine =
    "The Locals - Night Train (0:03, 64 kbps); MPEG-1 Layer III, 32000 Hz, mono, 85 frames, "
    "Info header (85 frames); album: Loopback Sessions; tags: ID3v2, ID3v1\n";

TEST_F(CliVerify, OneLinePerFileAndTheExitStatus) {
    CliRun r = verify({file("tagged.mp3"), file("layer2.mp3")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(
        r.out,
        file("tagged.mp3") + ": audio: " + TaggedLine + file("layer2.mp3") +
            ": audio: untagged (0:02, 64 kbps); MPEG-1 Layer II, 32000 Hz, mono, 56 frames; tags: none\n");

    // Any file that is not audio makes it 1; the lines keep the order given.
    r = verify({file("page.mp3"), file("cut.mp3"), file("tagged.mp3")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              file("page.mp3") + ": not audio: an HTML page\n" + file("cut.mp3") +
                  ": damaged: cut in the middle of frame 40 at byte 11717: 100 of its 288 bytes; MPEG-1 "
                  "Layer III, 32000 Hz, mono, 39 frames (0:01, 64 kbps), Info header (85 frames); album: "
                  "Loopback Sessions; tagged: The Locals - Night Train; tags: ID3v2\n" +
                  file("tagged.mp3") + ": audio: " + TaggedLine);

    // A file that cannot be read is an error, said on standard error; the
    // others are still judged.
    r = verify({file("missing.mp3"), file("zip.mp3"), dir_});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, file("zip.mp3") + ": not audio: a ZIP archive\n");
    EXPECT_EQ(r.err, "wavetrap-cli: verify: " + file("missing.mp3") + ": No such file or directory\n" +
                         "wavetrap-cli: verify: " + dir_ + ": Is a directory\n");
}

TEST_F(CliVerify, StandardInputAndOddNames) {
    const std::string tagged = testsupport::readFile(file("tagged.mp3"));
    CliRun r = verify({"-"}, tagged);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "standard input: audio: " + TaggedLine);

    testsupport::TempDir dir;
    const std::string dash = dir.file("-song.mp3"), odd = dir.file("a\x1b[2Jb.mp3");
    testsupport::writeFile(dash, tagged);
    testsupport::writeFile(odd, "<html><body>gone</body></html>");
    r = verify({"--", dash, odd});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              dash + ": audio: " + TaggedLine + dir.file("a?[2Jb.mp3") + ": not audio: an HTML page\n");
}

TEST_F(CliVerify, UsageAndHelp) {
    CliRun r = verify({});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "wavetrap-cli: verify: no file given (see wavetrap-cli verify --help)\n");
    r = verify({"--fast", file("tagged.mp3")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("unknown option '--fast'"), std::string::npos);
    r = verify({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: wavetrap-cli verify [--] FILE...", 0), 0u);
    testsupport::TempDir config;
    r = testsupport::runCli({"--help"}, config.path());
    EXPECT_NE(r.out.find("  verify FILE...\n      tell whether files are MP3 audio"), std::string::npos);
}

// The generator's single files, as a test of the download road makes one to serve.
TEST_F(CliVerify, AFileMadeForATest) {
    testsupport::TempDir dir;
    const std::string song = dir.file("Harbour Lights.mp3");
    ASSERT_TRUE(testsupport::makeMp3(song, {"--seconds", "4.2", "--rate", "44100", "--channels", "2", "--vbr",
                                            "7", "--title", "Harbour Lights", "--artist", "Paper Kites"}));
    const CliRun r = verify({song});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind(song + ": audio: Paper Kites - Harbour Lights (0:04, VBR ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("MPEG-1 Layer III, 44100 Hz, joint stereo"), std::string::npos) << r.out;
}

} // namespace
