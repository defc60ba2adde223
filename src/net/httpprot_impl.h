#pragma once
// Helpers shared by the files of THttpCli.

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

std::string HttpLower(std::string s);
// Base64 with the standard alphabet and "=" padding.
std::string HttpBase64(const std::string& in);

} // namespace net
