#pragma once
// Small text tests and conversions shared by the whole program.

#include <string>
#include <string_view>

namespace platform {

// Whether part occurs in text.
inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// An optional sign and decimal digits, nothing else (no spaces), within the
// int range: the value; anything else gives def.
int parseDecimalInt(std::string_view text, int def);

// What a server (or any outside party) said, safe to print on a terminal or
// show in a window: every control character (below 32, and DEL) becomes "?",
// so escape sequences cannot set a title, move the cursor or paint text.
// Tabs stay; bytes of 128 and above are left as they are (UTF-8 text).
std::string printable(std::string_view text);

} // namespace platform
