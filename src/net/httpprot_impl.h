#pragma once
// Helpers shared by the files of THttpCli.

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

std::string HttpLower(std::string s);
// Base64 with the standard alphabet and "=" padding.
std::string HttpBase64(const std::string& in);
// A decimal number of at most maxDigits digits and nothing else (blanks
// around it allowed) that fits 32 bits; false for anything malformed.
bool HttpStrictNumber(const std::string& text, std::size_t maxDigits, std::int32_t& out);

} // namespace net
