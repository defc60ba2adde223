// The pure parts of the HTTP client: URL splitting, header numbers, the
// If-Modified-Since date and the Base64 of the authorization line.
#include "net/httpprot.h"
#include "net/httpprot_impl.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace net {

std::string HttpLower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string HttpBase64(const std::string& in) {
    static const char tbl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += tbl[(v >> 18) & 63];
        out += tbl[(v >> 12) & 63];
        out += tbl[(v >> 6) & 63];
        out += tbl[v & 63];
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
        out += tbl[(v >> 18) & 63];
        out += tbl[(v >> 12) & 63];
        out += i + 1 < in.size() ? tbl[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool HttpStrictNumber(const std::string& text, std::size_t maxDigits, std::int64_t& out) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t'))
        --e;
    if (b == e || e - b > maxDigits || e - b > 18) return false; // 18 digits cannot overflow
    std::int64_t v = 0;
    for (std::size_t i = b; i < e; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    out = v;
    return true;
}

HttpContentRange ParseHttpContentRange(const std::string& value) {
    HttpContentRange r;
    std::string v = value;
    const auto b = v.find_first_not_of(" \t");
    if (b == std::string::npos || HttpLower(v.substr(b, 6)) != "bytes ") return r;
    v = v.substr(b + 6);
    const auto slash = v.find('/');
    if (slash == std::string::npos) return r;
    const std::string range = v.substr(0, slash), total = v.substr(slash + 1);
    std::int64_t n = 0;
    if (total.find_first_not_of(" \t") != std::string::npos && total.find('*') == std::string::npos) {
        if (!HttpStrictNumber(total, 18, n)) return r;
        r.total = n;
    }
    if (range.find('*') == std::string::npos) {
        const auto dash = range.find('-');
        if (dash == std::string::npos || !HttpStrictNumber(range.substr(0, dash), 18, n)) return r;
        r.first = n;
        if (!HttpStrictNumber(range.substr(dash + 1), 18, n) || n < r.first) return r;
        r.last = n;
    }
    r.ok = true;
    return r;
}

std::string THttpCli::HeaderValue(const std::string& name) const {
    const std::string key = HttpLower(name);
    std::string found;
    for (const std::string& line : RcvdHeader) {
        const HttpHeaderLine h = ParseHttpHeaderLine(line);
        if (h.kind == HttpHeaderLine::Field && h.name == key) found = h.value;
    }
    const auto b = found.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return found.substr(b, found.find_last_not_of(" \t") - b + 1);
}

HttpContentRange THttpCli::ContentRange() const {
    return ParseHttpContentRange(HeaderValue("content-range"));
}

HttpHeaderLine ParseHttpHeaderLine(const std::string& line) {
    HttpHeaderLine h;
    const std::string head = line.substr(0, 8);
    if (head == "HTTP/1.0" || head == "HTTP/1.1") {
        std::int64_t status = 0;
        if (line.size() < 12 || line[8] != ' ' || !HttpStrictNumber(line.substr(9, 3), 3, status)) {
            h.kind = HttpHeaderLine::Malformed;
            return h;
        }
        h.status = static_cast<std::int32_t>(status);
        h.kind = HttpHeaderLine::Status;
        h.reason = line.size() > 13 ? line.substr(13) : "";
        return h;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos) return h;
    h.kind = HttpHeaderLine::Field;
    h.name = HttpLower(line.substr(0, colon));
    h.value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    return h;
}

HttpUrlParts ParseHttpURL(const std::string& url) {
    HttpUrlParts p;
    std::string rest;
    const auto sep = url.find("://");
    if (sep != std::string::npos) {
        p.proto = url.substr(0, sep);
        rest = url.substr(sep + 3);
    } else if (HttpLower(url.substr(0, 7)) == "mailto:") {
        p.proto = "mailto";
        rest = url.substr(url.find(':') + 1);
    } else {
        rest = url;
    }
    const auto slash = rest.find('/');
    std::string authority = rest;
    if (slash != std::string::npos) {
        p.path = rest.substr(slash);
        authority = rest.substr(0, slash);
    }
    // Positions counted from 1; 0 = absent.
    // The port's colon comes after an IPv6 literal's brackets ("[::1]:80").
    auto lastColon = authority.rfind(':');
    if (const auto close = authority.rfind(']'); close != std::string::npos && lastColon < close)
        lastColon = std::string::npos;
    const auto lastAt = authority.rfind('@');
    const std::size_t c = lastColon == std::string::npos ? 0 : lastColon + 1;
    const std::size_t t = lastAt == std::string::npos ? 0 : lastAt + 1;
    if (c == 0 && t == 0) {
        p.host = authority;
        return p;
    }
    if (c > t) {
        p.port = authority.substr(c);
        p.host = authority.substr(t, c - 1 - t);
        if (t == 0) return p;
    } else {
        p.host = authority.substr(t);
    }
    const std::string userPart = authority.substr(0, t - 1);
    const auto colon = userPart.find(':');
    if (colon == std::string::npos) {
        p.user = userPart;
    } else {
        p.user = userPart.substr(0, colon);
        p.pass = userPart.substr(colon + 1);
    }
    return p;
}

std::string THttpCli::RFC1123Date(double dateTime) {
    static const char* const days = "MonTueWedThuFriSatSun";
    static const char* const months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    // Dates outside the years 1 to 9999 (and a value that is no number) are
    // held to that range: the conversions below need a day number that fits.
    constexpr double FirstDay = -693593.0, LastDay = 2958465.99999;
    if (!(dateTime >= FirstDay)) dateTime = std::isnan(dateTime) ? 0.0 : FirstDay;
    if (dateTime > LastDay) dateTime = LastDay;
    const double whole = std::floor(dateTime);
    const auto dayNumber = static_cast<long long>(whole);
    // The time to the millisecond, then its whole seconds: 12:00:00.6 is
    // second 0, and a time stored as 13:45:29.9999999 is second 30.
    long long millis = std::llround((dateTime - whole) * 86400000.0);
    if (millis >= 86400000) millis = 86399999;
    const long long seconds = millis / 1000;
    // Civil date from days since 30 Dec 1899 (day 25569 is 1 Jan 1970).
    long long z = dayNumber - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    const long long wd = (((dayNumber - 2) % 7) + 7) % 7;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.3s, %2.2lld %.3s %4.4lld %2.2lld:%2.2lld:%2.2lld", days + 3 * wd, d,
                  months + 3 * (m - 1), y, seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return buf;
}

} // namespace net
