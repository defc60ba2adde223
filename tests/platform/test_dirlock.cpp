// SettingsLock: one run per settings directory; a lock that cannot be taken
// is refused with its cause, never passed over.
#include "platform/dirlock.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::TempDir;

TEST(SettingsLock, TakenOnlyAsAPlainFileNoOneElseHolds) {
    struct Row {
        const char* name;
        std::function<void(const std::string& dir)> prepare;
        bool taken;
        const char* cause; // in why() when refused
    };
    const Row rows[] = {
        {"missing", [](const std::string&) {}, true, ""},
        {"left by an earlier run",
         [](const std::string& d) { testsupport::writeFile(d + "/wavbin.lock", "1\n"); }, true, ""},
        {"a directory", [](const std::string& d) { std::filesystem::create_directory(d + "/wavbin.lock"); },
         false, "wavbin.lock: a directory"},
        {"a symbolic link to a file",
         [](const std::string& d) {
             testsupport::writeFile(d + "/elsewhere", "");
             std::filesystem::create_symlink(d + "/elsewhere", d + "/wavbin.lock");
         },
         false, "wavbin.lock: a symbolic link"},
        {"a symbolic link to nothing",
         [](const std::string& d) { std::filesystem::create_symlink(d + "/nowhere", d + "/wavbin.lock"); },
         false, "wavbin.lock: a symbolic link"},
        {"a FIFO", [](const std::string& d) { ::mkfifo((d + "/wavbin.lock").c_str(), 0600); }, false,
         "wavbin.lock: not a regular file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        row.prepare(dir.path());
        platform::SettingsLock lock;
        EXPECT_EQ(lock.acquire(dir.path()), row.taken) << lock.why();
        if (row.taken) {
            EXPECT_EQ(testsupport::readFile(dir.file("wavbin.lock")), std::to_string(::getpid()) + "\n");
            platform::SettingsLock second;
            EXPECT_FALSE(second.acquire(dir.path()));
            EXPECT_NE(second.why().find("another Wavetrap (process " + std::to_string(::getpid()) + ")"),
                      std::string::npos)
                << second.why();
        } else {
            EXPECT_NE(lock.why().find(std::string("cannot lock the settings in ") + dir.path()),
                      std::string::npos)
                << lock.why();
            EXPECT_NE(lock.why().find(row.cause), std::string::npos) << lock.why();
        }
    }
}

namespace {

// Runs f in a child process as an ordinary user (nobody, when the tests run
// as root, whom no file mode stops): its exit code, or -1.
int asOrdinaryUser(const std::function<int()>& f) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(f());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace

TEST(SettingsLock, ALockFileOfAnotherUserIsRefusedAReadOnlyDirectoryIsNot) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    testsupport::writeFile(dir.file("wavbin.lock"), "");
    ::chmod(dir.file("wavbin.lock").c_str(), 0400);
    if (::geteuid() != 0) ::chmod(dir.file("wavbin.lock").c_str(), 0); // not even its owner may open it
    // 0: refused, naming the cause; 1: taken; 2: refused for another cause.
    const auto attempt = [&] {
        platform::SettingsLock lock;
        if (lock.acquire(dir.path())) return 1;
        return lock.why().find("wavbin.lock: Permission denied") != std::string::npos ? 0 : 2;
    };
    EXPECT_EQ(asOrdinaryUser(attempt), 0);
    // Where nothing can be written, nothing can be spoilt: the run goes on
    // (and saving says why it cannot).
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(asOrdinaryUser(attempt), 1);
    ::chmod(dir.path().c_str(), 0755);
}
