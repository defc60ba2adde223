#include "platform/localfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Bytes moved from a pipe per read where the file takes no splice.
constexpr std::size_t CopyBlockSize = 65536;

// Writes all of p[0, n) to fd; false (errno set) when the file takes no more.
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

// The folder a missing file of that name would be made in.
std::string folderOf(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

} // namespace

LocalFileInfo inspectLocalFile(const std::string& name) {
    LocalFileInfo info;
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) return info;
    info.exists = true;
    info.regular = S_ISREG(st.st_mode);
    if (info.regular) info.size = static_cast<std::int64_t>(st.st_size);
    return info;
}

std::string localFileCause(const std::string& name, int err) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return "not a regular file";
    return std::strerror(err != 0 ? err : EIO);
}

LocalFileSink::LocalFileSink() = default;

LocalFileSink::~LocalFileSink() {
    close();
}

bool LocalFileSink::fail(int err) {
    cause_ = std::strerror(err != 0 ? err : EIO);
    return false;
}

std::int64_t LocalFileSink::broken(int err) {
    fail(err);
    return -1;
}

// The descriptor just opened is a regular file's (else it is closed), and
// blocks as usual from now on.
bool LocalFileSink::adopt() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        cause_ = "not a regular file";
        close();
        return false;
    }
    (void)::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    return true;
}

// Opens name_ for writing, made when missing (created_ then says so).
bool LocalFileSink::makeNow() {
    constexpr int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(name_.c_str(), flags | O_CREAT | O_EXCL, 0644);
    const bool made = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::open(name_.c_str(), flags);
    if (fd < 0) {
        cause_ = localFileCause(name_, errno);
        return false;
    }
    fd_ = fd;
    created_ = made;
    return true;
}

bool LocalFileSink::open(const std::string& name, Missing missing) {
    close();
    name_ = name;
    cause_.clear();
    deferred_ = began_ = created_ = noSplice_ = false;
    start_ = taken_ = 0;
    if (missing == Missing::Create) {
        if (!makeNow()) return false;
    } else {
        struct stat st {};
        if (missing == Missing::Defer && ::lstat(name.c_str(), &st) != 0) {
            // Made only once the sender accepts; it must be possible then.
            if (errno != ENOENT) return fail(errno);
            if (::access(folderOf(name).c_str(), W_OK | X_OK) != 0) return fail(errno);
            deferred_ = true;
            return true;
        }
        fd_ = ::open(name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            cause_ = localFileCause(name, errno);
            return false;
        }
    }
    return adopt();
}

bool LocalFileSink::begin() {
    if (deferred_) {
        deferred_ = false;
        if (!makeNow() || !adopt()) return false;
    }
    began_ = true;
    return true;
}

bool LocalFileSink::cut(std::int64_t at) {
    if (fd_ < 0) return fail(EBADF);
    if (::ftruncate(fd_, at) != 0 || ::lseek(fd_, at, SEEK_SET) < 0) return fail(errno);
    start_ = at;
    taken_ = 0;
    return true;
}

bool LocalFileSink::seek(std::int64_t at) {
    if (fd_ < 0) return fail(EBADF);
    if (::lseek(fd_, at, SEEK_SET) < 0) return fail(errno);
    start_ = at;
    taken_ = 0;
    return true;
}

std::int64_t LocalFileSink::room() const {
    if (limit_ <= 0) return -1;
    return std::max<std::int64_t>(0, limit_ - std::max<std::int64_t>(start_, 0) - taken_);
}

std::int64_t LocalFileSink::write(const char* p, std::size_t n) {
    if (fd_ < 0 || !began_) return broken(EBADF);
    const std::int64_t r = room();
    if (r >= 0 && static_cast<std::int64_t>(n) > r) n = static_cast<std::size_t>(r);
    taken_ += static_cast<std::int64_t>(n);
    errno = 0;
    if (!writeAll(fd_, p, n)) return broken(errno);
    return static_cast<std::int64_t>(n);
}

std::int64_t LocalFileSink::writeFromPipe(int pipeFd, std::size_t n, std::int64_t& spliced) {
    if (fd_ < 0 || !began_) return broken(EBADF);
    const std::int64_t r = room();
    if (r >= 0 && static_cast<std::int64_t>(n) > r) n = static_cast<std::size_t>(r);
    taken_ += static_cast<std::int64_t>(n);
    std::size_t left = n;
    while (left > 0) {
        ssize_t w = -1;
        errno = 0;
        if (!noSplice_) {
            w = ::splice(pipeFd, nullptr, fd_, nullptr, left, SPLICE_F_MOVE);
            if (w < 0 && errno == EINTR) continue;
            // A file that takes no splice: the rest through read and write.
            if (w < 0 && (errno == EINVAL || errno == ENOSYS)) noSplice_ = true;
            if (w > 0) spliced += w;
        }
        if (noSplice_) {
            if (!copyBuf_) copyBuf_ = std::make_unique<char[]>(CopyBlockSize);
            errno = 0;
            const ssize_t got = ::read(pipeFd, copyBuf_.get(), std::min(left, CopyBlockSize));
            w = got > 0 && writeAll(fd_, copyBuf_.get(), static_cast<std::size_t>(got)) ? got : -1;
        }
        if (w <= 0) return broken(errno);
        left -= static_cast<std::size_t>(w);
    }
    return static_cast<std::int64_t>(n);
}

std::int64_t LocalFileSink::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::int64_t LocalFileSink::position() const {
    if (fd_ < 0) return -1;
    return static_cast<std::int64_t>(::lseek(fd_, 0, SEEK_CUR));
}

void LocalFileSink::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    deferred_ = false;
}

void LocalFileSink::discard() {
    const bool made = created_ && fd_ >= 0;
    close();
    if (made) ::unlink(name_.c_str());
    created_ = false;
}

} // namespace platform
