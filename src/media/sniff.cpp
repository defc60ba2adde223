#include "media/sniff.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace media {

namespace {

struct Mark {
    std::size_t at;
    std::string_view bytes;
    Looks looks;
};

using namespace std::string_view_literals;

// Marks at fixed places; the first that matches wins (RIFF/WAVE before RIFF).
constexpr Mark Marks[] = {
    {0, "PK\x03\x04"sv, Looks::Zip},
    {0, "PK\x05\x06"sv, Looks::Zip}, // an empty archive
    {0, "PK\x07\x08"sv, Looks::Zip}, // a spanned one
    {0, "Rar!\x1A\x07"sv, Looks::Rar},
    {0, "7z\xBC\xAF\x27\x1C"sv, Looks::SevenZip},
    {0, "\x1F\x8B\x08"sv, Looks::Gzip},
    {0, "OggS"sv, Looks::Ogg},
    {0, "fLaC"sv, Looks::Flac},
    {4, "ftyp"sv, Looks::Mp4},
    {0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, Looks::Asf},
    {0, "MThd"sv, Looks::Midi},
    {0, "%PDF-"sv, Looks::Pdf},
    {0,
     "\x7F"
     "ELF"sv,
     Looks::Elf},
    {0, "\x89PNG\r\n\x1A\n"sv, Looks::Png},
    {0, "\xFF\xD8\xFF"sv, Looks::Jpeg},
    {0, "GIF87a"sv, Looks::Gif},
    {0, "GIF89a"sv, Looks::Gif},
};

bool at(const unsigned char* p, std::size_t n, std::size_t offset, std::string_view bytes) {
    return n >= offset + bytes.size() && std::memcmp(p + offset, bytes.data(), bytes.size()) == 0;
}

// Plain text: no NUL and hardly any control character but the usual white
// space (bytes from 128 up are text in some encoding).
bool textual(const unsigned char* p, std::size_t n) {
    std::size_t odd = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c == 0) return false;
        if ((c < 32 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1B) ||
            c == 127)
            ++odd;
    }
    return odd * 100 <= n;
}

bool htmlish(const unsigned char* p, std::size_t n) {
    std::string lower(reinterpret_cast<const char*>(p), n);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* tag : {"<!doctype html", "<html", "<head", "<body", "<title", "<script", "<meta ",
                            "<div", "<p>", "<br", "<a href"})
        if (lower.find(tag) != std::string::npos) return true;
    return false;
}

} // namespace

std::optional<Looks> formatMark(const unsigned char* p, std::size_t n) {
    if (at(p, n, 0, "RIFF") || at(p, n, 0, "RIFX") || at(p, n, 0, "RF64"))
        return at(p, n, 8, "WAVE") ? Looks::Wav : Looks::Riff;
    if (at(p, n, 0, "FORM") && (at(p, n, 8, "AIFF") || at(p, n, 8, "AIFC"))) return Looks::Aiff;
    for (const Mark& m : Marks)
        if (at(p, n, m.at, m.bytes)) return m.looks;
    // "MZ" alone could begin a line of text: a program's header also holds
    // binary bytes.
    if (at(p, n, 0, "MZ") && n >= 64 && !textual(p, 64)) return Looks::WindowsExe;
    return std::nullopt;
}

Looks lookAt(ByteSource& src, std::uint64_t from, std::uint64_t to) {
    if (from >= to) return src.size() == 0 ? Looks::Empty : Looks::TagsOnly;
    bool zeros = true;
    for (std::uint64_t pos = from; pos < to && zeros;) {
        std::size_t got = 0;
        const unsigned char* p =
            src.view(pos, static_cast<std::size_t>(std::min<std::uint64_t>(1 << 16, to - pos)), got);
        if (got == 0) break;
        zeros = std::all_of(p, p + got, [](unsigned char c) { return c == 0; });
        pos += got;
    }
    if (zeros) return Looks::Zeros;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(4096, to - from));
    std::size_t got = 0;
    const unsigned char* p = src.view(from, want, got);
    if (!textual(p, got)) return Looks::Unknown;
    return htmlish(p, got) ? Looks::Html : Looks::Text;
}

} // namespace media
