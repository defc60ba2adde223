// Where the window's file dialogs open: the download folder, unless it is the
// program's own folder (or the root, or gone), then the home folder.

#include "shell/file_dialogs.h"
#include "support/tempdir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(FileDialogFolder, TheDownloadFolderUnlessItIsTheProgramsOwnOrNoFolder) {
    testsupport::TempDir downloads, installed, home;
    std::filesystem::create_symlink(installed.path(), downloads.file("to-installed"));
    testsupport::writeFile(downloads.file("a.mp3"), "x");
    struct Case {
        const char* name;
        std::string folder, expected;
    };
    const Case cases[] = {
        {"the download folder", downloads.path(), downloads.path()},
        {"the program's own folder", installed.path(), home.path()},
        {"the program's own folder by another name", downloads.file("to-installed"), home.path()},
        {"the root folder", "/", home.path()},
        {"a folder that is gone", downloads.file("gone"), home.path()},
        {"a file", downloads.file("a.mp3"), home.path()},
        {"no folder", "", home.path()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shell::fileDialogFolder(c.folder, installed.path(), home.path()), c.expected) << c.name;
}

} // namespace
