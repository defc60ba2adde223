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

namespace {

// The length of the well-formed UTF-8 sequence at text[i] (no overlong form,
// no surrogate, nothing past U+10FFFF), or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = at(i);
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size() || at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u < 0x80) {
            out += (u < 32 && u != '\t') || u == 127 ? '?' : text[i];
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text, i);
        if (n == 0) {
            // Not UTF-8: a byte 0x80 to 0x9F is a C1 control to a terminal
            // that reads bytes (0x9B opens a control sequence).
            out += u <= 0x9F ? '?' : text[i];
            ++i;
        } else if (n == 2 && u == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?'; // U+0080 to U+009F: the C1 controls written in UTF-8
            i += 2;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

bool holdsControl(std::string_view text) {
    return printable(text) != text || text.find('\t') != std::string_view::npos;
}

} // namespace platform
