#include "media/frames.h"

#include <cstring>
#include <initializer_list>

namespace media {

namespace {

// kbps by [MPEG-1?][layer - 1][index]; index 0 is free format, 15 is not allowed.
constexpr short Bitrates[2][3][15] = {{// MPEG-2 and 2.5
                                       {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
                                      {// MPEG-1
                                       {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};

constexpr int Rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// The bytes of layer III side information after the header (and its checksum).
std::size_t sideInfoBytes(const FrameHeader& h) {
    const bool mono = h.mode == ChannelMode::Mono;
    if (h.version == Version::Mpeg1) return mono ? 17 : 32;
    return mono ? 9 : 17;
}

} // namespace

bool readHeader(const unsigned char* p, FrameHeader& h) {
    if (!syncAt(p)) return false;
    const std::uint32_t raw = be32(p);
    const unsigned version = (raw >> 19) & 3, layer = (raw >> 17) & 3, bitrate = (raw >> 12) & 15,
                   rate = (raw >> 10) & 3, emphasis = raw & 3;
    if (version == 1 || layer == 0 || bitrate == 15 || rate == 3 || emphasis == 2) return false;
    h.raw = raw;
    h.version = version == 3 ? Version::Mpeg1 : version == 2 ? Version::Mpeg2 : Version::Mpeg25;
    h.layer = 4 - static_cast<int>(layer);
    h.kbps = Bitrates[h.version == Version::Mpeg1][h.layer - 1][bitrate];
    h.rate = Rates[static_cast<int>(h.version)][rate];
    h.padding = (raw >> 9) & 1;
    h.crc = !((raw >> 16) & 1);
    h.mode = static_cast<ChannelMode>((raw >> 6) & 3);
    return true;
}

int FrameHeader::samples() const {
    if (layer == 1) return 384;
    if (layer == 2 || version == Version::Mpeg1) return 1152;
    return 576;
}

std::size_t FrameHeader::length(std::size_t freeBase) const {
    const std::size_t pad = padding ? static_cast<std::size_t>(slotBytes()) : 0;
    if (kbps == 0) return freeBase + pad;
    const std::size_t bits = static_cast<std::size_t>(kbps) * 1000;
    if (layer == 1) return (12 * bits / static_cast<std::size_t>(rate)) * 4 + pad;
    const std::size_t perSlot = layer == 3 && version != Version::Mpeg1 ? 72 : 144;
    return perSlot * bits / static_cast<std::size_t>(rate) + pad;
}

bool FrameHeader::sameStream(const FrameHeader& other) const {
    return version == other.version && layer == other.layer && rate == other.rate &&
           (kbps == 0) == (other.kbps == 0);
}

InfoFields readInfoHeader(const FrameHeader& h, const unsigned char* frame, std::size_t length) {
    InfoFields info;
    if (h.layer != 3) return info;
    // Xing/Info right after the side information (some writers leave room
    // for a checksum there too).
    for (std::size_t at : {4 + sideInfoBytes(h), 6 + sideInfoBytes(h)}) {
        if (at + 16 > length) break;
        const unsigned char* x = frame + at;
        const bool xing = std::memcmp(x, "Xing", 4) == 0;
        if (!xing && std::memcmp(x, "Info", 4) != 0) continue;
        info.kind = xing ? InfoHeader::Xing : InfoHeader::Info;
        const std::uint32_t flags = be32(x + 4);
        std::size_t field = 8;
        if (flags & 1) {
            info.frames = be32(x + field);
            field += 4;
        }
        if ((flags & 2) && at + field + 4 <= length) info.bytes = be32(x + field);
        return info;
    }
    // VBRI at a fixed place: 32 bytes after the header.
    if (36 + 18 <= length && std::memcmp(frame + 36, "VBRI", 4) == 0) {
        info.kind = InfoHeader::Vbri;
        info.bytes = be32(frame + 36 + 10);
        info.frames = be32(frame + 36 + 14);
    }
    return info;
}

} // namespace media
