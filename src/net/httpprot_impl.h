#pragma once
// Helpers shared by the files of THttpCli.

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

std::string HttpLower(std::string s);
// Base64 with the standard alphabet and "=" padding.
std::string HttpBase64(const std::string& in);
// A decimal number of at most maxDigits digits (18 at most) and nothing else
// (blanks around it allowed); false for anything malformed.
bool HttpStrictNumber(const std::string& text, std::size_t maxDigits, std::int64_t& out);

} // namespace net
