#pragma once
// The frame walk: the tags at both ends, where the stream begins, each frame
// header in turn, and where the stream breaks.

#include "media/byte_source.h"
#include "media/verdict.h"

#include <cstdint>

namespace media {

struct Walk {
    std::uint64_t start = 0; // past the tags at the start
    std::uint64_t end = 0;   // before the tags at the end
    bool found = false;      // an MPEG stream
    bool damaged = false;
    Stream stream;
    Tags tags; // which tags there are (no text read)
    Damage damage;
};

// Finds the tags at both ends of the data (Walk::start, Walk::end, Walk::tags).
void findTags(ByteSource& src, Walk& w);
// Walks the frames between w.start and w.end (after findTags).
void walkFrames(ByteSource& src, Walk& w);

} // namespace media
