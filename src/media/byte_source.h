#pragma once
// The bytes a walk reads: either all in memory, or a file read through a
// window that moves forward as the walk asks for later bytes (a whole file is
// never held, however large it is).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace media {

class ByteSource {
public:
    explicit ByteSource(std::span<const unsigned char> memory);
    ByteSource(int fd, std::uint64_t size, std::size_t window);
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    std::uint64_t size() const { return size_; }
    // Bytes from `at`: `got` is set to min(want, what is there); fewer only at
    // the end of the data, or after a read error (error() then says which).
    // The pointer is valid until the next call.
    const unsigned char* view(std::uint64_t at, std::size_t want, std::size_t& got) {
        if (at >= base_ && at - base_ <= filled_ && filled_ - (at - base_) >= want) {
            got = want;
            return data_ + (at - base_);
        }
        return refill(at, want, got);
    }
    int error() const { return error_; }

private:
    const unsigned char* refill(std::uint64_t at, std::size_t want, std::size_t& got);

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::size_t window_ = 0;
    std::vector<unsigned char> buffer_;
    const unsigned char* data_ = nullptr;
    std::uint64_t base_ = 0; // the offset of data_[0]
    std::size_t filled_ = 0; // bytes of data_ from base_
    int error_ = 0;
};

} // namespace media
