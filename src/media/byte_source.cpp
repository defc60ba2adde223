#include "media/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace media {

ByteSource::ByteSource(std::span<const unsigned char> memory)
    : size_(memory.size()), data_(memory.data()), filled_(memory.size()) {}

ByteSource::ByteSource(int fd, std::uint64_t size, std::size_t window)
    : fd_(fd), size_(size), window_(std::max<std::size_t>(window, 64)) {}

const unsigned char* ByteSource::refill(std::uint64_t at, std::size_t want, std::size_t& got) {
    got = 0;
    if (at >= size_) return data_;
    const std::uint64_t left = size_ - at;
    if (fd_ < 0) { // in memory: all there is
        got = static_cast<std::size_t>(std::min<std::uint64_t>(want, left));
        return data_ + at;
    }
    if (error_) return data_;
    const std::size_t cap = std::max(window_, want);
    if (buffer_.size() < cap) buffer_.resize(cap);
    data_ = buffer_.data();
    base_ = at;
    filled_ = 0;
    const std::size_t goal = static_cast<std::size_t>(std::min<std::uint64_t>(cap, left));
    while (filled_ < goal) {
        const ssize_t n =
            ::pread(fd_, buffer_.data() + filled_, goal - filled_, static_cast<off_t>(at + filled_));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            break;
        }
        if (n == 0) break; // the file became shorter while being read
        filled_ += static_cast<std::size_t>(n);
    }
    if (filled_ < goal) size_ = at + filled_; // what there is, from now on
    got = std::min(want, filled_);
    return data_;
}

} // namespace media
