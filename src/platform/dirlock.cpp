#include "platform/dirlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

SettingsLock::~SettingsLock() {
    if (fd_ >= 0) ::close(fd_); // closing the file releases the lock
}

bool SettingsLock::acquire(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::string path = dir + "/wavbin.lock";
    const auto refuse = [&](const std::string& cause) {
        why_ = "cannot lock the settings in " + dir + ": " + path + ": " + cause;
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int err = errno;
        // Where nothing can be written no run can spoil another's settings
        // (and saving them says that it failed).
        if (::access(dir.c_str(), W_OK | X_OK) != 0) return true;
        return refuse(err == ELOOP ? "a symbolic link" : err == EISDIR ? "a directory" : std::strerror(err));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse("not a regular file");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err != EWOULDBLOCK) {
            ::close(fd);
            return refuse(std::strerror(err));
        }
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
