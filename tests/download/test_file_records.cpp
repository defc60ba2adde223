// What the program remembers of fetched files across runs: "already here"
// only for the same file, unchanged, in the folder asked for; URLs that served
// something other than a song; files moved out of a music player's way.

#include "download/file_records.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using download::FileRecords;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(FileRecords, AFileIsAlreadyHereOnlyWhileItIsThereUnchanged) {
    TempDir settings, music, elsewhere;
    const std::string url = "ftp://127.0.0.1/pub/Night Train.mp3";
    const std::string song = music.file("Night Train.mp3");
    writeFile(song, "ID3 the song's bytes");
    {
        FileRecords records(settings.file("files.txt"));
        std::string error;
        ASSERT_TRUE(records.fetched(url, song, error)) << error;
        EXPECT_EQ(records.alreadyHere(url, music.path()), song);
    }
    // A later run reads what the earlier one wrote.
    const FileRecords later(settings.file("files.txt"));
    EXPECT_EQ(later.alreadyHere(url, music.path() + "/./"), song) << "the same folder, spelled otherwise";
    EXPECT_FALSE(later.alreadyHere(url, elsewhere.path())) << "asked for in another folder: fetched there";
    EXPECT_FALSE(later.alreadyHere("ftp://127.0.0.1/pub/other.mp3", music.path()));

    struct Change {
        const char* what;
        std::string content; // empty: removed
    };
    for (const Change& change : {Change{"the same size, other bytes", "ID3 the song's BYTES"},
                                 Change{"longer", "ID3 the song's bytes and more"}, Change{"removed", ""}}) {
        SCOPED_TRACE(change.what);
        writeFile(song, "ID3 the song's bytes");
        ASSERT_TRUE(later.alreadyHere(url, music.path()));
        if (change.content.empty())
            ::unlink(song.c_str());
        else
            writeFile(song, change.content);
        EXPECT_FALSE(later.alreadyHere(url, music.path()));
    }
}

TEST(FileRecords, TheLastWordOnAUrlHoldsAndOddCharactersReadBack) {
    TempDir settings, music;
    const std::string odd = "ftp://127.0.0.1/a%20b\t%09/x.mp3";
    const std::string oddFile = music.file("tab\there%25.mp3");
    writeFile(oddFile, "abc");
    std::string error;
    {
        FileRecords records(settings.file("files.txt"));
        ASSERT_TRUE(records.notAudio("http://127.0.0.1/x.mp3", "an HTML page", error)) << error;
        ASSERT_TRUE(records.fetched(odd, oddFile, error)) << error;
    }
    FileRecords records(settings.file("files.txt"));
    EXPECT_EQ(records.refusedBecause("http://127.0.0.1/x.mp3"), "an HTML page");
    const auto fetched = records.lastFetched(odd);
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->path, oddFile);
    EXPECT_EQ(fetched->size, 3);
    // SHA-256 of "abc", the standard's own example.
    EXPECT_EQ(fetched->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // The user fetched it anyway (the check turned off): no longer refused.
    writeFile(music.file("x.mp3"), "<html>");
    ASSERT_TRUE(records.fetched("http://127.0.0.1/x.mp3", music.file("x.mp3"), error));
    EXPECT_EQ(FileRecords(settings.file("files.txt")).refusedBecause("http://127.0.0.1/x.mp3"), "");

    // A line cut by a crash, and garbage, are skipped; the rest still reads.
    writeFile(settings.file("files.txt"), readFile(settings.file("files.txt")) + "fetched\tcut-in-the-mid");
    EXPECT_TRUE(FileRecords(settings.file("files.txt")).lastFetched(odd));
}

TEST(FileRecords, RecordsThatCannotBeWrittenOrFilesThatCannotBeReadSaySo) {
    TempDir settings, music;
    std::string error;
    FileRecords missing(settings.file("files.txt"));
    EXPECT_FALSE(missing.fetched("ftp://127.0.0.1/x.mp3", music.file("none.mp3"), error));
    EXPECT_NE(error.find("none.mp3"), std::string::npos) << error;

    std::filesystem::create_directory(settings.file("dir.txt"));
    writeFile(music.file("x.mp3"), "x");
    FileRecords unwritable(settings.file("dir.txt"));
    error.clear();
    EXPECT_FALSE(unwritable.fetched("ftp://127.0.0.1/x.mp3", music.file("x.mp3"), error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

TEST(MoveToRejected, TheBytesAreKeptAwayFromTheirMp3NameAndNeverOverAnother) {
    TempDir music;
    std::string error;
    writeFile(music.file("Song.mp3"), "<html>first</html>");
    const std::string first = download::moveToRejected(music.file("Song.mp3"), error);
    EXPECT_EQ(first, music.file("rejected/Song.mp3.rejected")) << error;
    EXPECT_FALSE(std::filesystem::exists(music.file("Song.mp3")));

    writeFile(music.file("Song.mp3"), "<html>second</html>");
    const std::string second = download::moveToRejected(music.file("Song.mp3"), error);
    EXPECT_EQ(second, music.file("rejected/Song (2).mp3.rejected")) << error;
    EXPECT_EQ(readFile(first), "<html>first</html>");
    EXPECT_EQ(readFile(second), "<html>second</html>");

    // "rejected" taken by a file: the song stays where it is, and the error says why.
    TempDir other;
    writeFile(other.file("rejected"), "");
    writeFile(other.file("Song.mp3"), "x");
    error.clear();
    EXPECT_EQ(download::moveToRejected(other.file("Song.mp3"), error), "");
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
    EXPECT_EQ(readFile(other.file("Song.mp3")), "x");
}
