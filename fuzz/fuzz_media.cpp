// The media check on any bytes: the verdict from memory and the verdict from
// a file read through a small window (its size from the first byte) agree,
// and every offset and length in it lies inside the data.
#include "media/verdict.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void consistent(const media::Verdict& v, std::uint64_t size) {
    check(v.size == size);
    check(!media::summary(v).empty());
    if (v.kind == media::Kind::NotAudio || v.kind == media::Kind::Unreadable) {
        check(media::details(v).empty());
        return;
    }
    const media::Stream& s = v.stream;
    check(s.first <= s.end && s.end <= size);
    check(s.frames == 0 || (s.first <= s.firstAudio && s.firstAudio < s.end));
    check(s.audioBytes <= s.end - s.first);
    check(s.layer >= 1 && s.layer <= 3 && s.rate >= 8000);
    check(v.kind == media::Kind::Damaged || s.skipped <= media::SkippedAllowed);
    if (v.kind == media::Kind::Damaged) {
        const media::Damage& d = v.damage;
        check(d.breaks >= 1 && d.offset <= size);
        if (d.what == media::Damage::What::Junk || d.what == media::Damage::What::Zeros)
            check(d.length >= 1 && d.length <= size - d.offset);
        if (d.what == media::Damage::What::CutFrame)
            check(d.length < d.expected && d.length <= size - d.offset);
        if (d.what == media::Damage::What::ShortOfHeader) check(d.length + 1 < d.expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t window = 64 + data[0] * 4u;
    const std::span<const unsigned char> bytes(data + 1, size - 1);
    media::Options options;
    options.readTags = false;
    const media::Verdict inMemory = media::verifyBytes(bytes, options);
    consistent(inMemory, bytes.size());

    static const int fd = ::memfd_create("fuzz_media", 0);
    check(fd >= 0);
    check(::ftruncate(fd, 0) == 0);
    check(::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    options.window = window;
    const media::Verdict fromFile = media::verify("/proc/self/fd/" + std::to_string(fd), options);
    consistent(fromFile, bytes.size());
    check(fromFile.kind == inMemory.kind);
    check(media::summary(fromFile) == media::summary(inMemory));
    check(media::details(fromFile) == media::details(inMemory));
    return 0;
}
