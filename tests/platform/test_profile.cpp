#include "platform/profile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using platform::EProfileError;
using platform::TIniFile;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(ProfileInt, ParsesLikeTheProfileFunctions) {
    struct Row {
        const char* text;
        int def;
        int want;
    } rows[] = {
        {"0", 7, 0},
        {"42", 7, 42},
        {"-13", 7, -13},
        {"+5", 7, 5},
        {" 12 ", 7, 12},
        {"0x1F", 7, 31},
        {"0XfF", 7, 255},
        {"0xFFFFFFFF", 7, -1},
        {"0x", 7, 7},
        {"0x1G", 7, 7},
        {"0x123456789", 7, 7},
        {"", 7, 7},
        {"abc", 7, 7},
        {"12abc", 7, 7},
        {"-", 7, 7},
        {"2147483647", 7, 2147483647},
        {"2147483648", 7, 7},
        {"-2147483648", 7, -2147483647 - 1},
        {"99999999999999999999", 3, 3},
    };
    for (const Row& r : rows)
        EXPECT_EQ(platform::parseProfileInt(r.text, r.def), r.want) << r.text;
}

TEST(ProfileFile, RoundTripAndCaseInsensitiveNames) {
    TempDir dir;
    const std::string path = dir.file("wavbin.Ini");
    {
        TIniFile f(path);
        f.WriteString("Settings", "proxyname", "proxy.example.net");
        f.WriteInteger("Settings", "count", 12);
        f.WriteBool("Settings", "proxy", true);
        f.WriteString("Links", "0", "www.example.com/cgi?q=");
    }
    EXPECT_EQ(readFile(path), "[Settings]\nproxyname=proxy.example.net\ncount=12\nproxy=1\n\n"
                              "[Links]\n0=www.example.com/cgi?q=\n");
    TIniFile g(path);
    EXPECT_EQ(g.ReadString("SETTINGS", "ProxyName", "x"), "proxy.example.net");
    EXPECT_EQ(g.ReadInteger("settings", "COUNT", 0), 12);
    EXPECT_TRUE(g.ReadBool("Settings", "proxy", false));
    EXPECT_EQ(g.ReadString("Settings", "missing", "def"), "def");
    EXPECT_EQ(g.ReadInteger("Nowhere", "count", -4), -4);
    EXPECT_EQ(g.ReadInteger("Settings", "proxyname", 81), 81); // not a number: the default
    // A write under another case of the name changes the existing key.
    g.WriteString("settings", "PROXYNAME", "other");
    EXPECT_EQ(TIniFile(path).ReadString("Settings", "proxyname", ""), "other");
    EXPECT_EQ(TIniFile(path).ReadSection("Settings"),
              (std::vector<std::string>{"proxyname", "count", "proxy"}));
}

TEST(ProfileFile, ValuesReadBackWithAtMost1023Characters) {
    TempDir dir;
    TIniFile f(dir.file("long"));
    const std::string v(2000, 'a');
    f.WriteString("s", "k", v);
    EXPECT_EQ(TIniFile(dir.file("long")).ReadString("s", "k", ""), std::string(1023, 'a'));
    f.WriteString("s", "k", std::string(1023, 'b'));
    EXPECT_EQ(TIniFile(dir.file("long")).ReadString("s", "k", "").size(), 1023u);
}

TEST(ProfileFile, ReadsHandWrittenFilesAndKeepsForeignLines) {
    TempDir dir;
    const std::string path = dir.file("hand");
    writeFile(path, "; a comment\r\n[Items]\r\n Count = 2 "
                    "\r\nItem0=a=b\r\nItem0=ignored\r\nstray\r\n[items]\r\nItem1=c\r\n");
    TIniFile f(path);
    EXPECT_EQ(f.ReadInteger("items", "count", 0), 2);
    for (int i = 0; i < 2; ++i) // also when read again, with the repeat next in line
        EXPECT_EQ(f.ReadString("items", "item0", ""), "a=b"); // the first of repeated keys wins
    EXPECT_EQ(f.ReadString("items", "item1", ""), "c");       // a repeated header continues the section
    f.WriteString("Other", "x", "1");
    const std::string out = readFile(path);
    EXPECT_NE(out.find("; a comment"), std::string::npos);
    EXPECT_NE(out.find("stray"), std::string::npos);
}

// Values not written since loading stay in the file text as read: copies of
// the store, later writes and the end of the store they came from leave
// every value whole.
TEST(ProfileFile, CopiesAndWritesAfterReadingKeepEveryValue) {
    TempDir dir;
    const std::string path = dir.file("f");
    writeFile(path, "; note\n[s]\na = 1\nb=two\n[t]\nx=y\n");
    auto f = std::make_unique<TIniFile>(path);
    const TIniFile before(*f);
    f->WriteString("s", "a", "changed");
    f->DeleteKey("t", "x");
    TIniFile after(*f);
    f.reset();
    EXPECT_EQ(before.ReadString("s", "a", ""), "1");
    EXPECT_EQ(before.ReadString("t", "x", ""), "y");
    EXPECT_EQ(after.ReadString("s", "a", ""), "changed");
    after.WriteString("s", "c", "3");
    EXPECT_EQ(readFile(path), "; note\n\n[s]\na=changed\nb=two\nc=3\n\n[t]\n");
    EXPECT_EQ(TIniFile(path).ReadSection("s"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(ProfileFile, EraseSectionAndDeleteKey) {
    TempDir dir;
    const std::string path = dir.file("f");
    TIniFile f(path);
    f.WriteString("a", "1", "x");
    f.WriteString("b", "1", "y");
    f.WriteString("b", "2", "z");
    f.EraseSection("A");
    f.DeleteKey("B", "1");
    EXPECT_FALSE(f.SectionExists("a"));
    EXPECT_FALSE(f.ValueExists("b", "1"));
    EXPECT_EQ(f.ReadString("b", "2", ""), "z");
    EXPECT_EQ(readFile(path), "[b]\n2=z\n");
}

TEST(ProfileFile, LineBreaksInValuesCannotForgeLines) {
    TempDir dir;
    TIniFile f(dir.file("f"));
    f.WriteString("s", "k", "one\n[evil]\nk=v");
    TIniFile g(dir.file("f"));
    EXPECT_FALSE(g.SectionExists("evil"));
    EXPECT_EQ(g.ReadString("s", "k", ""), "one [evil] k=v");
}

TEST(ProfileFile, BatchedWritesLandOnce) {
    TempDir dir;
    const std::string path = dir.file("batch");
    TIniFile f(path);
    {
        platform::IniBatch batch(f);
        for (int i = 0; i < 1000; ++i)
            f.WriteInteger("s", "Item" + std::to_string(i), i);
        EXPECT_EQ(readFile(path), ""); // nothing written before the batch ends
    }
    EXPECT_EQ(TIniFile(path).ReadInteger("s", "item999", -1), 999);
}

// A write that leaves the text as the file already holds it does not replace
// the file (a run that changes no setting waits for no disk); any difference
// on the disk, in the bytes, the mode or the kind of file, still replaces it.
TEST(ProfileFile, AFileIsReplacedOnlyWhenTheDiskHoldsSomethingElse) {
    struct Case {
        const char* name;
        const char* before;    // the file's text when the store reads it
        mode_t mode;           // its mode then
        bool symlink;          // the settings file is a link to that file
        const char* meanwhile; // written over the file after it was read ("" for nothing)
        const char* value;     // then written to [s] k
        bool replaced;
        const char* after;
    } cases[] = {
        {"same text", "[s]\nk=v\n", 0600, false, "", "v", false, "[s]\nk=v\n"},
        {"new value", "[s]\nk=v\n", 0600, false, "", "w", true, "[s]\nk=w\n"},
        {"readable by others", "[s]\nk=v\n", 0644, false, "", "v", true, "[s]\nk=v\n"},
        {"a link", "[s]\nk=v\n", 0600, true, "", "v", true, "[s]\nk=v\n"},
        {"changed since read, same size", "[s]\nk=v\n", 0600, false, "[s]\nk=x\n", "v", true, "[s]\nk=v\n"},
        {"grown since read", "[s]\nk=v\n", 0600, false, "[s]\nk=v\nz=1\n", "v", true, "[s]\nk=v\n"},
        {"two sections", "[a]\nx=1\n\n[s]\nk=v\n", 0600, false, "", "v", false, "[a]\nx=1\n\n[s]\nk=v\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string real = dir.file("real"), path = dir.file("wavbin.Ini");
        writeFile(real, c.before);
        ::chmod(real.c_str(), c.mode);
        if (c.symlink)
            ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
        else
            ASSERT_EQ(::rename(real.c_str(), path.c_str()), 0);
        TIniFile f(path);
        if (*c.meanwhile) {
            writeFile(path, c.meanwhile);
            ::chmod(path.c_str(), 0600);
        }
        struct stat was {};
        ASSERT_EQ(::lstat(path.c_str(), &was), 0);
        f.WriteString("s", "k", c.value);
        struct stat now {};
        ASSERT_EQ(::lstat(path.c_str(), &now), 0);
        EXPECT_EQ(now.st_ino != was.st_ino, c.replaced) << c.name;
        EXPECT_EQ(readFile(path), c.after) << c.name;
        EXPECT_TRUE(S_ISREG(now.st_mode)) << c.name;
        EXPECT_EQ(now.st_mode & 07777, 0600u) << c.name;
    }
}

TEST(ProfileFile, FailedWriteSaysUnableToWriteAndKeepsTheOldFile) {
    if (::geteuid() == 0) {
        // root writes into read-only directories; use a path whose parent is a file instead
        TempDir dir;
        writeFile(dir.file("notadir"), "x");
        TIniFile f(dir.file("notadir") + "/wavbin.Ini");
        try {
            f.WriteString("s", "k", "v");
            FAIL() << "no error";
        } catch (const EProfileError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("notadir") + "/wavbin.Ini");
        }
        return;
    }
    TempDir dir;
    const std::string path = dir.file("wavbin.Ini");
    writeFile(path, "[s]\nk=old\n");
    ::chmod(dir.path().c_str(), 0555);
    TIniFile f(path);
    EXPECT_THROW(f.WriteString("s", "k", "new"), EProfileError);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readFile(path), "[s]\nk=old\n");
}

TEST(ProfileFile, BareNamesLiveInTheConfigDirectory) {
    TempDir dir;
    {
        testsupport::ScopedEnv env("WAVETRAP_CONFIG_DIR", dir.path() + "/sub");
        EXPECT_EQ(platform::configDir(), dir.path() + "/sub");
        TIniFile f("wavbin");
        f.WriteString("items", "Count", "0");
        EXPECT_EQ(f.FileName(), dir.path() + "/sub/wavbin");
    }
    EXPECT_EQ(readFile(dir.path() + "/sub/wavbin"), "[items]\nCount=0\n");
    testsupport::ScopedEnv none("WAVETRAP_CONFIG_DIR", "");
    testsupport::ScopedEnv xdg("XDG_CONFIG_HOME", "/x/y");
    EXPECT_EQ(platform::configDir(), "/x/y/wavetrap");
}

// What the program writes reads back the same at the next start, blanks and
// quotes at either end included; files written by hand (or by earlier
// versions) with blanks around "=" read as they always did.
TEST(ProfileFile, EveryValueReadsBackAsWritten) {
    const std::vector<std::string> values = {
        "plain",
        "e.test/s?q= ",
        " leading",
        "\ttabs\t",
        "both ends ",
        "cr\r",
        "\"quoted\"",
        "\" \"",
        "\"",
        "\"half",
        "half\"",
        "\"\"",
        "in\"side\" it",
        " \"blank and quote\" ",
        "",
        "   ",
        "a = b",
        "x\r\ny",
    };
    TempDir dir;
    const std::string path = dir.file("f");
    {
        TIniFile f(path);
        for (std::size_t i = 0; i < values.size(); ++i)
            f.WriteString("s", "k" + std::to_string(i), values[i]);
    }
    for (const bool reopened : {false, true}) {
        TIniFile g(path);
        if (reopened) g.WriteString("other", "x", "1"); // every value written again as it was read
        const TIniFile h(path);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::string want = values[i];
            if (want == "x\r\ny") want = "x\r y"; // (a line break inside becomes a blank)
            EXPECT_EQ(h.ReadString("s", "k" + std::to_string(i), "?"), want) << i;
        }
    }
    const struct {
        const char* line;
        const char* value;
    } hand[] = {
        {"k = value  ", "value"},
        {"k=\tvalue\r", "value"},
        {"k = \" padded \" ", " padded "},
        {"k=a \"b\"", "a \"b\""},
        {"k=", ""},
        {"k = 12 ", "12"},
    };
    for (const auto& row : hand) {
        writeFile(path, std::string("[s]\n") + row.line + "\n");
        EXPECT_EQ(TIniFile(path).ReadString("s", "k", "?"), row.value) << row.line;
    }
}
