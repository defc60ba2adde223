#pragma once
// Small text tests and conversions shared by the whole program.

#include <string_view>

namespace platform {

// Whether part occurs in text.
inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// An optional sign and decimal digits, nothing else (no spaces), within the
// int range: the value; anything else gives def.
int parseDecimalInt(std::string_view text, int def);

} // namespace platform
