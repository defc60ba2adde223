#pragma once
// What data that are no MPEG stream look like: the marks other formats begin
// with, and a look at the content (zeros, a web page, text).

#include "media/byte_source.h"
#include "media/verdict.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace media {

// The format whose mark the bytes p[0, n) begin with, if any.
std::optional<Looks> formatMark(const unsigned char* p, std::size_t n);
// What the bytes from `from` to `to` are, for data in which no stream was found.
Looks lookAt(ByteSource& src, std::uint64_t from, std::uint64_t to);

} // namespace media
