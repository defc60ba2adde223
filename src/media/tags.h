#pragma once
// The text of a file's tags (ID3v2, APE, ID3v1), read with TagLib.

#include "media/verdict.h"

#include <span>

namespace media {

// Fills artist, title and album from the tags of the file open as fd (the
// descriptor stays open and its position is not relied on), or of bytes in memory.
void readTagText(int fd, Tags& tags);
void readTagText(std::span<const unsigned char> bytes, Tags& tags);

// Text from a tag, safe to print: control characters (C0, DEL and C1) become
// "?", white space at both ends goes.
std::string printableTagText(std::u32string_view text);

} // namespace media
