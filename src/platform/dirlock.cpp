#include "platform/dirlock.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

SettingsLock::~SettingsLock() {
    if (fd_ >= 0) ::close(fd_); // closing the file releases the lock
}

bool SettingsLock::acquire(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string path = dir + "/wavbin.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char buf[32] = {};
        const ssize_t got = ::pread(fd, buf, sizeof buf - 1, 0);
        std::string pid = got > 0 ? std::string(buf, static_cast<std::size_t>(got)) : std::string();
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
            pid.pop_back();
        why_ = "another Wavetrap" + (pid.empty() ? std::string() : " (process " + pid + ")") +
               " is using the settings in " + dir + "; try again when it has ended";
        ::close(fd);
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    fd_ = fd;
    return true;
}

} // namespace platform
