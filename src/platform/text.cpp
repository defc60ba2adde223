#include "platform/text.h"

#include <climits>

namespace platform {

int parseDecimalInt(std::string_view text, int def) {
    std::size_t i = 0;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    if (i == text.size()) return def;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return def;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return def;
    }
    if (neg) v = -v;
    if (v > INT_MAX || v < INT_MIN) return def;
    return static_cast<int>(v);
}

std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 32 && c != '\t') || u == 127) c = '?';
    }
    return out;
}

} // namespace platform
