#pragma once
// MPEG audio frame headers (layers I, II and III of MPEG-1, MPEG-2 and
// MPEG-2.5) and the info headers some encoders put in the first frame
// (Xing/Info from LAME and others, VBRI from Fraunhofer's encoder).

#include <cstddef>
#include <cstdint>

namespace media {

enum class Version { Mpeg1, Mpeg2, Mpeg25 };
enum class ChannelMode { Stereo, JointStereo, DualChannel, Mono };
enum class InfoHeader {
    None, // no info header in the first frame
    Xing, // "Xing": a variable bitrate stream
    Info, // "Info": the same header for a constant bitrate stream (LAME)
    Vbri, // "VBRI" (Fraunhofer)
};

// The four bytes of a frame header, read.
struct FrameHeader {
    std::uint32_t raw = 0;
    Version version = Version::Mpeg1;
    int layer = 0; // 1, 2 or 3
    int kbps = 0;  // 0: free format (the length comes from the distance to the next frame)
    int rate = 0;  // samples per second
    bool padding = false;
    bool crc = false; // a 16-bit checksum follows the header
    ChannelMode mode = ChannelMode::Stereo;

    int samples() const; // samples per channel in the frame
    int slotBytes() const { return layer == 1 ? 4 : 1; }
    // The frame's length in bytes, header included; for free format from the
    // length of a frame without padding.
    std::size_t length(std::size_t freeBase = 0) const;
    // Whether another frame belongs to the same stream: the same version,
    // layer and sample rate, and free format in both or neither.
    bool sameStream(const FrameHeader& other) const;
};

// Reads a header from four bytes; false unless it is a valid one (frame sync,
// no reserved version, layer, bitrate, sample rate or emphasis).
bool readHeader(const unsigned char* p, FrameHeader& h);

// A frame sync (eleven bits set) at p[0], p[1]: the quick test before readHeader.
inline bool syncAt(const unsigned char* p) {
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0;
}

struct InfoFields {
    InfoHeader kind = InfoHeader::None;
    std::uint32_t frames = 0; // audio frames announced (0: not given)
    std::uint32_t bytes = 0;  // bytes of the stream announced (0: not given)
};

// The info header of a frame (the whole frame, `length` bytes from its header).
InfoFields readInfoHeader(const FrameHeader& h, const unsigned char* frame, std::size_t length);

// Big-endian reads.
inline std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
inline std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

} // namespace media
