#include "platform/localfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool writeAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

std::string localFileCause(const std::string& name, int err) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return "not a regular file";
    return std::strerror(err != 0 ? err : EIO);
}

int openLocalFile(const std::string& name, bool create, bool& created, std::string& cause) {
    constexpr int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    created = false;
    int fd = -1;
    if (create) {
        fd = ::open(name.c_str(), flags | O_CREAT | O_EXCL, 0644);
        created = fd >= 0;
    }
    if (fd < 0 && (!create || errno == EEXIST)) fd = ::open(name.c_str(), flags);
    if (fd < 0) {
        cause = localFileCause(name, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        cause = "not a regular file";
        ::close(fd);
        return -1;
    }
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace platform
