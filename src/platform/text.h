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
// show in a window: every control character becomes "?", so escape sequences
// cannot set a title, move the cursor or paint text: those below 32 and DEL,
// the C1 controls U+0080 to U+009F written in UTF-8 (one "?" each), and a
// byte 0x80 to 0x9F that is no part of a UTF-8 character (a terminal reading
// bytes takes 0x9B for CSI). Tabs stay; other text is left as it is.
std::string printable(std::string_view text);

// Whether text holds any control character: those printable replaces, and tabs.
bool holdsControl(std::string_view text);

} // namespace platform
