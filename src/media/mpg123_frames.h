#pragma once
// The frames of a file as libmpg123 finds them (its parser, no decoding): a
// second opinion on the frame walk, for the tests and the measurements.

#include <cstdint>
#include <string>

namespace media {

struct Mpg123Frames {
    bool opened = false;
    std::string error;           // why the walk stopped early, when it did
    std::uint64_t frames = 0;    // audio frames (libmpg123 does not hand out an info frame)
    std::uint64_t first = 0;     // offset of the first audio frame
    std::uint64_t end = 0;       // past the last frame
    std::uint64_t gaps = 0;      // frames that do not begin where the one before ended
    std::uint64_t firstGap = 0;  // where the first such gap begins
    std::uint64_t beforeGap = 0; // frames before it
};

Mpg123Frames walkWithMpg123(const std::string& path);

} // namespace media
