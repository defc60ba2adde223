#include "net/ftpreply.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace net::ftp {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a signed decimal number at pos (after blanks); answers the position
// after it, and whether any digit was found.
std::size_t readNumber(std::string_view s, std::size_t pos, std::int64_t& value, bool& found) {
    while (pos < s.size() && isBlank(s[pos]))
        ++pos;
    bool neg = false;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+') && pos + 1 < s.size() && isDigit(s[pos + 1])) {
        neg = s[pos] == '-';
        ++pos;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10 - 10;
    std::int64_t v = 0;
    found = false;
    while (pos < s.size() && isDigit(s[pos])) {
        found = true;
        if (v < limit) v = v * 10 + (s[pos] - '0');
        ++pos;
    }
    value = neg ? -v : v;
    return pos;
}

} // namespace

int ReplyCode(std::string_view line) {
    std::int64_t v = 0;
    bool found = false;
    readNumber(line, 0, v, found);
    if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

bool IsContinuation(std::string_view line) {
    std::int64_t v = 0;
    bool found = false;
    const std::size_t pos = readNumber(line, 0, v, found);
    return found && pos < line.size() && line[pos] == '-';
}

ReplyFramer::Line ReplyFramer::take(std::string_view line) {
    if (open_) {
        if (line.substr(0, code_.size()) != code_) return Line::Inside;
        if (line.size() > code_.size() && line[code_.size()] != ' ') return Line::Inside;
        open_ = false;
        return Line::Closing;
    }
    if (!IsContinuation(line)) return Line::Single;
    // The code as it stands at the start of the line (blanks and sign kept
    // out): the closing line must begin with the same digits.
    std::size_t b = 0;
    while (b < line.size() && isBlank(line[b]))
        ++b;
    if (b < line.size() && (line[b] == '-' || line[b] == '+')) ++b;
    std::size_t e = b;
    while (e < line.size() && isDigit(line[e]))
        ++e;
    code_.assign(line.substr(b, e - b));
    open_ = true;
    return Line::Opening;
}

std::int64_t SecondNumber(std::string_view line) {
    std::int64_t code = 0, second = 0;
    bool found = false;
    const std::size_t pos = readNumber(line, 0, code, found);
    readNumber(line, pos, second, found);
    return found ? second : 0;
}

std::string QuotedName(std::string_view line) {
    const std::size_t open = line.find('"');
    if (open == std::string_view::npos) return {};
    std::string name;
    for (std::size_t i = open + 1; i < line.size(); ++i) {
        if (line[i] != '"') {
            name += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            name += '"';
            ++i;
        } else {
            break;
        }
    }
    return name;
}

std::string TransferLine(std::int64_t byteCount, std::uint32_t startTick, std::uint32_t endTick) {
    const std::uint32_t ms = endTick - startTick;
    std::string line = "! " + std::to_string(byteCount) + " bytes received/sent in " +
                       std::to_string(ms / 1000) + " seconds";
    if (ms != 0) {
        // A count is never negative; the rate of an absurd one saturates.
        const std::int64_t bc = byteCount < 0 ? 0 : byteCount;
        const std::int64_t perMs = bc / static_cast<std::int64_t>(ms);
        const std::int64_t rate = bc < 32768 ? bc * 1000 / ms
                                  : perMs > std::numeric_limits<std::int64_t>::max() / 1000
                                      ? std::numeric_limits<std::int64_t>::max()
                                      : perMs * 1000;
        line += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return line;
}

std::string PortCommand(const std::string& localAddr, const std::string& remoteAddr, int port) {
    char buf[96];
    if (localAddr.find(':') != std::string::npos) {
        // IPv6: the extended form (RFC 2428), family 2.
        std::snprintf(buf, sizeof buf, "EPRT |2|%s|%d|", localAddr.c_str(), port);
        return buf;
    }
    const int hi = (port >> 8) & 0xFF, lo = port & 0xFF;
    if (remoteAddr == "127.0.0.1") {
        std::snprintf(buf, sizeof buf, "PORT 127,0,0,1,%d,%d", hi, lo);
        return buf;
    }
    unsigned a = 0, b = 0, c = 0, e = 0;
    if (std::sscanf(localAddr.c_str(), "%u.%u.%u.%u", &a, &b, &c, &e) != 4) a = b = c = e = 0;
    std::snprintf(buf, sizeof buf, "PORT %u,%u,%u,%u,%d,%d", a & 0xFF, b & 0xFF, c & 0xFF, e & 0xFF, hi, lo);
    return buf;
}

int EpsvPort(std::string_view line) {
    const std::size_t open = line.find('(');
    if (open == std::string_view::npos || open + 4 >= line.size()) return 0;
    // "(" d d d port d ")" with the same delimiter d three times before the port.
    const char d = line[open + 1];
    if (isDigit(d) || line[open + 2] != d || line[open + 3] != d) return 0;
    std::size_t pos = open + 4;
    long port = 0;
    while (pos < line.size() && isDigit(line[pos]) && port <= 65535)
        port = port * 10 + (line[pos++] - '0');
    if (pos == open + 4 || pos >= line.size() || line[pos] != d || port < 1 || port > 65535) return 0;
    return static_cast<int>(port);
}

int PasvPort(std::string_view line) {
    // Six numbers separated by commas, after the code.
    std::size_t pos = line.find_first_of("0123456789");
    while (pos < line.size() && isDigit(line[pos]))
        ++pos; // the code
    pos = line.find_first_of("0123456789", pos);
    long v[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (pos >= line.size() || !isDigit(line[pos])) return 0;
        while (pos < line.size() && isDigit(line[pos]) && v[i] <= 255)
            v[i] = v[i] * 10 + (line[pos++] - '0');
        if (v[i] > 255) return 0;
        if (i < 5) {
            if (pos >= line.size() || line[pos] != ',') return 0;
            ++pos;
        }
    }
    const long port = v[4] * 256 + v[5];
    return port >= 1 ? static_cast<int>(port) : 0;
}

bool IsPlainLocalName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

namespace {

bool holdsWord(std::string_view line, std::string_view word) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (word.size() > line.size()) return false;
    for (std::size_t at = 0; at + word.size() <= line.size(); ++at) {
        std::size_t k = 0;
        while (k < word.size() && lower(line[at + k]) == word[k])
            ++k;
        if (k == word.size()) return true;
    }
    return false;
}

} // namespace

FtpCommand CommandOf(std::string_view commandLine) {
    static const struct {
        const char* word;
        FtpCommand command;
    } words[] = {
        {"USER", FtpCommand::User}, {"PASS", FtpCommand::Pass}, {"SIZE", FtpCommand::Size},
        {"TYPE", FtpCommand::Type}, {"CWD", FtpCommand::Cwd},   {"REST", FtpCommand::Rest},
        {"RETR", FtpCommand::Retr}, {"STOR", FtpCommand::Stor}, {"APPE", FtpCommand::Appe},
        {"LIST", FtpCommand::List}, {"NLST", FtpCommand::Nlst}, {"PORT", FtpCommand::Port},
        {"EPRT", FtpCommand::Eprt}, {"PASV", FtpCommand::Pasv}, {"EPSV", FtpCommand::Epsv},
        {"AUTH", FtpCommand::Auth}, {"PBSZ", FtpCommand::Pbsz}, {"PROT", FtpCommand::Prot},
        {"QUIT", FtpCommand::Quit}, {"SYST", FtpCommand::Syst}, {"MKD", FtpCommand::Mkd},
        {"RMD", FtpCommand::Rmd},   {"DELE", FtpCommand::Dele}, {"PWD", FtpCommand::Pwd},
        {"CDUP", FtpCommand::Cdup}, {"RNFR", FtpCommand::Rnfr}, {"RNTO", FtpCommand::Rnto},
        {"ABOR", FtpCommand::Abor},
    };
    const std::size_t end = std::min(commandLine.find(' '), commandLine.size());
    if (end == 0) return FtpCommand::None;
    std::string word(commandLine.substr(0, end));
    for (char& c : word)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const auto& w : words)
        if (word == w.word) return w.command;
    return FtpCommand::Other;
}

bool IsDataCommand(FtpCommand command) {
    return command == FtpCommand::Port || command == FtpCommand::Eprt || command == FtpCommand::Pasv ||
           command == FtpCommand::Epsv;
}

Refusal RefusalOf(int code, FtpCommand command, std::string_view replyLine) {
    if (code < 400 || code > 599 || IsDataCommand(command)) return Refusal::None;
    if (command == FtpCommand::Auth || command == FtpCommand::Pbsz || command == FtpCommand::Prot)
        return Refusal::None;
    if (holdsWord(replyLine, "connect to host")) return Refusal::Unreachable;
    for (std::string_view words : {"permission denied", "connection denied", "password incorrect", "exeeded"})
        if (holdsWord(replyLine, words)) return Refusal::Site;
    return Refusal::None;
}

} // namespace net::ftp
