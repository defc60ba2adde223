#pragma once
// MPEG streams built byte by byte for the walk's tests: frames of silence
// (a header and zero bytes: no allocation, so every decoder plays silence),
// tags, info headers, junk. The lengths are written out here, not computed
// by the code under test.

#include <cstdint>
#include <span>
#include <string>

namespace streams {

struct FrameKind {
    std::uint32_t header;
    std::size_t length; // bytes of each frame, header included
    int samples;        // per frame
    int rate;
};

// MPEG-1 layer III, 32 kHz, 64 kbps, mono: 144 * 64000 / 32000 bytes, never padded.
constexpr FrameKind M1L3{0xFFFB58C0, 288, 1152, 32000};
// The same with a checksum after each header.
constexpr FrameKind M1L3Crc{0xFFFA58C0, 288, 1152, 32000};
// MPEG-1 layer III, 32 kHz, 128 kbps, mono: 576 bytes.
constexpr FrameKind M1L3At128{0xFFFB98C0, 576, 1152, 32000};
// MPEG-2 layer III, 22.05 kHz, 32 kbps, mono: 72 * 32000 / 22050 = 104.49, so 104.
constexpr FrameKind M2L3{0xFFF340C0, 104, 576, 22050};
// MPEG-2.5 layer III, 8 kHz, 16 kbps, mono: 144 bytes.
constexpr FrameKind M25L3{0xFFE328C0, 144, 576, 8000};
// MPEG-1 layer I, 48 kHz, 128 kbps, mono: 12 * 128000 / 48000 * 4 = 128 bytes.
constexpr FrameKind M1L1{0xFFFF44C0, 128, 384, 48000};
// MPEG-1 layer II, 48 kHz, 64 kbps, mono: 192 bytes.
constexpr FrameKind M1L2{0xFFFD44C0, 192, 1152, 48000};
// MPEG-1 layer III, 44.1 kHz, free format, stereo: the length is the stream's choice.
constexpr FrameKind M1L3Free{0xFFFB0000, 300, 1152, 44100};
// MPEG-1 layer III, 32 kHz, mono, bitrate index 15 (not allowed).
constexpr std::uint32_t BadBitrate = 0xFFFBF8C0;

inline std::string header(std::uint32_t h) {
    return {static_cast<char>(h >> 24), static_cast<char>(h >> 16), static_cast<char>(h >> 8),
            static_cast<char>(h)};
}

inline std::string frames(const FrameKind& k, int n) {
    std::string one = header(k.header) + std::string(k.length - 4, '\0');
    std::string out;
    for (int i = 0; i < n; ++i)
        out += one;
    return out;
}

inline std::string be32(std::uint32_t v) {
    return header(v);
}

// A first frame of M1L3 (mono MPEG-1: the side information is 17 bytes)
// holding a Xing or Info header that announces `count` frames.
inline std::string xingFrame(const char* tag, std::uint32_t count) {
    std::string f = header(M1L3.header) + std::string(17, '\0') + tag + be32(1) + be32(count);
    return f + std::string(M1L3.length - f.size(), '\0');
}

// A first frame holding a VBRI header (32 bytes after the frame header).
inline std::string vbriFrame(std::uint32_t count) {
    std::string f = header(M1L3.header) + std::string(32, '\0') + "VBRI" + std::string(6, '\0') +
                    be32(static_cast<std::uint32_t>(count * M1L3.length)) + be32(count);
    return f + std::string(M1L3.length - f.size(), '\0');
}

inline std::string syncsafe(std::size_t n) {
    return {static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F),
            static_cast<char>((n >> 7) & 0x7F), static_cast<char>(n & 0x7F)};
}

// An ID3v2.3 tag with one text frame (TIT2) of `title`; `footer` makes it v2.4
// with a footer.
inline std::string id3v2(const std::string& title, bool footer = false) {
    const std::string text = std::string(1, '\0') + title; // ISO-8859-1
    std::string frame = "TIT2" +
                        (footer ? syncsafe(text.size()) : be32(static_cast<std::uint32_t>(text.size()))) +
                        std::string(2, '\0') + text;
    const std::string size = syncsafe(frame.size());
    std::string tag =
        std::string("ID3") + (footer ? '\x04' : '\x03') + '\0' + (footer ? '\x10' : '\0') + size + frame;
    if (footer) tag += std::string("3DI") + '\x04' + '\0' + '\x10' + size;
    return tag;
}

inline std::string fixed(const std::string& s, std::size_t n) {
    return (s + std::string(n, '\0')).substr(0, n);
}

inline std::string id3v1(const std::string& title, const std::string& artist, const std::string& album) {
    return "TAG" + fixed(title, 30) + fixed(artist, 30) + fixed(album, 30) + "2024" + std::string(30, '\0') +
           "\xFF";
}

inline std::string le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

// An APE tag with one item; APEv2 with a header, or APEv1 (footer only).
inline std::string ape(const std::string& key, const std::string& value, bool v2 = true) {
    const std::string item = le32(static_cast<std::uint32_t>(value.size())) + le32(0) + key + '\0' + value;
    const auto size = static_cast<std::uint32_t>(item.size() + 32);
    auto part = [&](std::uint32_t flags) {
        return "APETAGEX" + le32(v2 ? 2000 : 1000) + le32(size) + le32(1) + le32(flags) +
               std::string(8, '\0');
    };
    return v2 ? part(0xA0000000) + item + part(0x80000000) : item + part(0);
}

inline std::string lyrics3v2(const std::string& lyrics) {
    char len[8];
    std::snprintf(len, sizeof len, "%05zu", lyrics.size());
    const std::string block = "LYRICSBEGIN" + std::string("LYR") + len + lyrics;
    std::snprintf(len, sizeof len, "%06zu", block.size());
    return block + len + "LYRICS200";
}

inline std::string lyrics3v1(const std::string& lyrics) {
    return "LYRICSBEGIN" + lyrics + "LYRICSEND";
}

inline std::span<const unsigned char> bytes(const std::string& s) {
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

} // namespace streams
