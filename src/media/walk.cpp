#include "media/walk.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace media {

namespace {

constexpr std::uint64_t None = std::numeric_limits<std::uint64_t>::max();
// Frames that must follow a frame found by searching (after junk, or at the
// start) before it counts as the stream's: a frame header is only four bytes,
// and any data holds one now and then by chance.
constexpr int RunFrames = 3;
// Free format: the distance to the next frame is searched within these bounds;
// the search is done at most FreeTries times in one walk (a stream in free
// format is found at its first frame), so hostile data cannot make it slow.
constexpr std::size_t FreeMin = 16;
constexpr std::size_t FreeMax = 4096;
constexpr int FreeTries = 64;
constexpr std::size_t SearchBlock = 64 * 1024;

bool equal(const unsigned char* p, const char* text) {
    return std::memcmp(p, text, std::strlen(text)) == 0;
}

std::uint64_t be32syncsafe(const unsigned char* p) {
    return std::uint64_t(p[0]) << 21 | std::uint64_t(p[1]) << 14 | std::uint64_t(p[2]) << 7 | p[3];
}

// The whole length of an ID3v2 tag from its ten-byte header ("ID3", or "3DI"
// for the footer at the end of a tag); 0 when it is none.
std::uint64_t id3v2Length(const unsigned char* p, const char* mark) {
    if (!equal(p, mark) || p[3] == 0xFF || p[4] == 0xFF) return 0;
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;
    const std::uint64_t size = be32syncsafe(p + 6);
    const bool footer = p[5] & 0x10;
    return 10 + size + (footer ? 10 : 0);
}

// Whether the data hold `mark` at `at`.
bool markAt(ByteSource& src, std::uint64_t at, const char* mark) {
    const std::size_t n = std::strlen(mark);
    std::size_t got = 0;
    const unsigned char* p = src.view(at, n, got);
    return got == n && std::memcmp(p, mark, n) == 0;
}

bool digits(const unsigned char* p, std::size_t n, std::uint64_t& value) {
    value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

class Walker {
public:
    Walker(ByteSource& src, Walk& w) : src_(src), w_(w), end_(w.end) {}

    void run();

private:
    bool headerAt(std::uint64_t at, FrameHeader& h);
    std::size_t lengthOf(const FrameHeader& h, std::size_t base) const;
    std::size_t measureFree(std::uint64_t at, const FrameHeader& h);
    bool runAt(std::uint64_t at, const FrameHeader* like, std::size_t& base);
    std::uint64_t findRun(std::uint64_t from, const FrameHeader* like, std::size_t& base);
    std::uint64_t tagInside(std::uint64_t at);
    bool headerBegins(std::uint64_t at, const FrameHeader& h);
    void gap(std::uint64_t at, std::uint64_t length, std::uint64_t afterFrame, bool atEnd);
    void note(const Damage& d);

    ByteSource& src_;
    Walk& w_;
    std::uint64_t end_;
    std::size_t freeBase_ = 0; // a free-format frame's length without padding, once known
    int freeTries_ = 0;
};

bool Walker::headerAt(std::uint64_t at, FrameHeader& h) {
    if (at > end_ || end_ - at < 4) return false;
    std::size_t got = 0;
    const unsigned char* p = src_.view(at, 4, got);
    return got == 4 && readHeader(p, h);
}

std::size_t Walker::lengthOf(const FrameHeader& h, std::size_t base) const {
    if (h.kbps) return h.length();
    return base ? h.length(base) : 0;
}

// The length without padding of the free-format frame at `at`: the distance to
// the next frame of the same stream, taken when two more follow it.
std::size_t Walker::measureFree(std::uint64_t at, const FrameHeader& h) {
    if (++freeTries_ > FreeTries) return 0;
    const std::size_t pad = h.padding ? static_cast<std::size_t>(h.slotBytes()) : 0;
    for (std::size_t d = FreeMin; d <= FreeMax && at + d < end_; ++d) {
        std::size_t got = 0;
        const unsigned char* p = src_.view(at + d, 2, got);
        if (got < 2 || !syncAt(p)) continue;
        FrameHeader next;
        if (!headerAt(at + d, next) || !h.sameStream(next) || next.kbps != 0) continue;
        const std::size_t base = d - pad;
        // Two more frames with this length.
        std::uint64_t q = at + d;
        bool holds = true;
        for (int i = 0; i < 2 && holds; ++i) {
            q += next.length(base);
            if (q == end_) break;
            holds = headerAt(q, next) && h.sameStream(next);
        }
        if (holds) return base;
    }
    return 0;
}

// Whether a run of frames of one stream begins at `at`: its header and the
// next RunFrames ones each where the one before ends. A run that reaches the
// end of the stream exactly counts, and so does one whose last frame is cut by
// it after a whole frame. `like`: a frame of the stream the run must belong to.
bool Walker::runAt(std::uint64_t at, const FrameHeader* like, std::size_t& base) {
    FrameHeader h;
    if (!headerAt(at, h) || (like && !like->sameStream(h))) return false;
    std::size_t b = base;
    std::uint64_t p = at;
    for (int i = 0; i < RunFrames; ++i) {
        if (!h.kbps && !b) b = measureFree(p, h);
        const std::size_t len = lengthOf(h, b);
        if (len < 4) return false;
        const std::uint64_t q = p + len;
        if (q == end_ || (q > end_ && i > 0)) break;
        if (q > end_) return false;
        FrameHeader next;
        if (!headerAt(q, next) || !h.sameStream(next)) return false;
        p = q;
        h = next;
    }
    base = b;
    return true;
}

std::uint64_t Walker::findRun(std::uint64_t from, const FrameHeader* like, std::size_t& base) {
    std::uint64_t pos = from;
    while (pos < end_ && end_ - pos >= 4) {
        std::size_t got = 0;
        const unsigned char* p =
            src_.view(pos, static_cast<std::size_t>(std::min<std::uint64_t>(SearchBlock, end_ - pos)), got);
        if (got < 4) return None;
        const void* hit = std::memchr(p, 0xFF, got - 3);
        if (!hit) {
            pos += got - 3;
            continue;
        }
        const auto* h = static_cast<const unsigned char*>(hit);
        const std::uint64_t at = pos + static_cast<std::uint64_t>(h - p);
        FrameHeader header;
        if (readHeader(h, header) && runAt(at, like, base)) return at;
        pos = at + 1;
    }
    return None;
}

// A tag between the frames of joined files (an ID3v2 tag, or an ID3v1 tag
// followed by a frame): where it ends, or 0.
std::uint64_t Walker::tagInside(std::uint64_t at) {
    if (end_ - at < 10) return 0;
    std::size_t got = 0;
    const unsigned char* p = src_.view(at, 10, got);
    if (got < 10) return 0;
    const std::uint64_t len = id3v2Length(p, "ID3");
    if (len && len <= end_ - at) return at + len;
    if (!equal(p, "TAG") || end_ - at < 128) return 0;
    const std::uint64_t next = at + 128;
    FrameHeader h;
    if (next == end_ || headerAt(next, h)) return next;
    p = src_.view(next, 10, got);
    return got == 10 && id3v2Length(p, "ID3") ? next : 0;
}

// Whether the fewer than four bytes from `at` to the end begin a header of
// the stream of h (sync, version, layer, then the sample rate).
bool Walker::headerBegins(std::uint64_t at, const FrameHeader& h) {
    std::size_t got = 0;
    const unsigned char* p = src_.view(at, static_cast<std::size_t>(end_ - at), got);
    if (got != end_ - at || got == 0) return false;
    const unsigned char want[3] = {static_cast<unsigned char>(h.raw >> 24),
                                   static_cast<unsigned char>(h.raw >> 16),
                                   static_cast<unsigned char>(h.raw >> 8)};
    const unsigned char mask[3] = {0xFF, 0xFE, 0x0C}; // the checksum bit and the bitrate may differ
    for (std::size_t i = 0; i < got; ++i)
        if ((p[i] & mask[i]) != (want[i] & mask[i])) return false;
    return true;
}

void Walker::note(const Damage& d) {
    const int breaks = w_.damaged ? w_.damage.breaks : 0;
    if (!w_.damaged) w_.damage = d;
    w_.damaged = true;
    w_.damage.breaks = breaks + 1;
}

// Bytes that are no frame: zeros when at least half of them are.
void Walker::gap(std::uint64_t at, std::uint64_t length, std::uint64_t afterFrame, bool atEnd) {
    std::uint64_t zeros = 0;
    for (std::uint64_t done = 0; done < length;) {
        std::size_t got = 0;
        const unsigned char* p = src_.view(
            at + done, static_cast<std::size_t>(std::min<std::uint64_t>(SearchBlock, length - done)), got);
        if (got == 0) break;
        zeros += static_cast<std::uint64_t>(std::count(p, p + got, 0));
        done += got;
    }
    Damage d;
    d.what = zeros * 2 >= length ? Damage::What::Zeros : Damage::What::Junk;
    d.offset = at;
    d.length = length;
    d.afterFrame = afterFrame;
    d.atEnd = atEnd;
    note(d);
}

void Walker::run() {
    std::size_t base = 0;
    const std::uint64_t first = findRun(w_.start, nullptr, base);
    if (first == None) return;
    freeBase_ = base;
    FrameHeader h0;
    headerAt(first, h0);
    Stream& s = w_.stream;
    w_.found = true;
    s.version = h0.version;
    s.layer = h0.layer;
    s.rate = h0.rate;
    s.mode = h0.mode;
    s.crc = h0.crc;
    s.freeFormat = h0.kbps == 0;
    s.first = first;
    s.end = first;
    s.skipped = first - w_.start;
    if (s.skipped > SkippedAllowed) gap(w_.start, s.skipped, 0, false);

    int kbps = -1; // of the audio frames, while they all have the same
    std::uint64_t p = first;
    FrameHeader h = h0;
    bool nextFile = true; // the first frame of a file may hold an info header, and is then no audio
    // Most frames repeat the header before them but for the padding bit: for
    // those the length is known and the header needs no second look.
    constexpr std::uint32_t PaddingBit = 1u << 9;
    std::uint32_t key = 0;       // a header without its padding bit
    std::size_t plainLength = 0; // its frame's length without padding
    std::uint64_t perFrame = 0;
    for (;;) {
        if ((h.raw & ~PaddingBit) != key) {
            key = h.raw & ~PaddingBit;
            FrameHeader plain = h;
            plain.padding = false;
            plainLength = lengthOf(plain, freeBase_);
            perFrame = static_cast<std::uint64_t>(h.samples());
        }
        const std::size_t len =
            plainLength < 4 ? 0 : plainLength + (h.padding ? static_cast<std::size_t>(h.slotBytes()) : 0);
        if (len < 4) { // a free-format frame whose length is not known: no frame after all
            gap(p, end_ - p, s.frames, true);
            break;
        }
        if (p + len > end_) {
            Damage d;
            d.what = Damage::What::CutFrame;
            d.offset = p;
            d.length = end_ - p;
            d.expected = len;
            d.afterFrame = s.frames;
            note(d);
            break;
        }
        bool infoFrame = false;
        if (nextFile) {
            std::size_t got = 0;
            const unsigned char* f = src_.view(p, len, got);
            const InfoFields info = got == len ? readInfoHeader(h, f, len) : InfoFields{};
            if (p == first) {
                s.header = info.kind;
                s.headerFrames = info.frames;
            }
            infoFrame = info.kind != InfoHeader::None;
            nextFile = false;
        }
        if (!infoFrame) {
            if (s.frames == 0) s.firstAudio = p;
            ++s.frames;
            s.samples += perFrame;
            s.audioBytes += len;
            if (kbps == -1) kbps = h.kbps;
            if (kbps != h.kbps) s.vbr = true;
        }
        std::uint64_t q = p + len;
        s.end = q;
        if (q == end_) break;
        if (end_ - q >= 4) {
            std::size_t got = 0;
            const unsigned char* n = src_.view(q, 4, got);
            if (got == 4 && (be32(n) & ~PaddingBit) == key) {
                h.raw = be32(n);
                h.padding = h.raw & PaddingBit;
                p = q;
                continue;
            }
        }
        FrameHeader next;
        if (headerAt(q, next) && h0.sameStream(next)) {
            p = q;
            h = next;
            continue;
        }
        bool joined = false; // tags, then the next file's frames
        while (const std::uint64_t t = tagInside(q)) {
            ++w_.tags.inside;
            q = t;
            joined = true;
            if (q == end_) break;
        }
        if (q == end_) break;
        if (joined && headerAt(q, next) && h0.sameStream(next)) {
            p = q;
            h = next;
            nextFile = true;
            continue;
        }
        if (end_ - q < 4 && headerBegins(q, h)) { // the next frame is cut inside its header
            Damage d;
            d.what = Damage::What::CutFrame;
            d.offset = q;
            d.length = end_ - q;
            d.expected = len;
            d.afterFrame = s.frames;
            note(d);
            break;
        }
        std::size_t b = freeBase_;
        const std::uint64_t r = findRun(q, &h0, b);
        if (r == None) {
            gap(q, end_ - q, s.frames, true);
            break;
        }
        gap(q, r - q, s.frames, false);
        p = r;
        headerAt(r, h);
    }

    if (s.header == InfoHeader::Xing || s.header == InfoHeader::Vbri) s.vbr = true;
    if (!w_.damaged && s.headerFrames && s.frames + 1 < s.headerFrames) {
        Damage d;
        d.what = Damage::What::ShortOfHeader;
        d.offset = s.end;
        d.length = s.frames;
        d.expected = s.headerFrames;
        d.afterFrame = s.frames;
        note(d);
    }
    if (s.vbr || s.freeFormat || kbps <= 0) {
        const std::uint64_t perSecond = s.samples * 1000;
        s.kbps =
            perSecond
                ? static_cast<int>((s.audioBytes * 8 * static_cast<std::uint64_t>(s.rate) + perSecond / 2) /
                                   perSecond)
                : h0.kbps;
    } else {
        s.kbps = kbps;
    }
}

} // namespace

void findTags(ByteSource& src, Walk& w) {
    const std::uint64_t size = src.size();
    std::uint64_t pos = 0;
    std::size_t got = 0;
    for (;;) {
        const unsigned char* p = src.view(pos, 10, got);
        if (got < 10) break;
        const std::uint64_t len = id3v2Length(p, "ID3");
        if (!len) break;
        w.tags.id3v2 = true;
        pos = len < size - pos ? pos + len : size; // a tag cut short takes the rest
    }
    w.start = pos;
    std::uint64_t end = size;
    for (bool more = true; more;) {
        more = false;
        const std::uint64_t room = end - pos;
        if (room >= 128 && markAt(src, end - 128, "TAG")) {
            end -= 128;
            w.tags.id3v1 = more = true;
            continue;
        }
        if (room >= 32) {
            const unsigned char* p = src.view(end - 32, 32, got);
            if (got == 32 && equal(p, "APETAGEX")) {
                const std::uint64_t tagSize = le32(p + 12);
                const std::uint64_t total = tagSize + ((le32(p + 20) & 0x80000000u) ? 32 : 0);
                if (tagSize >= 32 && total <= room) {
                    end -= total;
                    w.tags.ape = more = true;
                    continue;
                }
            }
        }
        if (room >= 15) {
            const unsigned char* p = src.view(end - 15, 15, got);
            std::uint64_t n = 0;
            if (got == 15 && equal(p + 6, "LYRICS200") && digits(p, 6, n) && n + 15 <= room &&
                markAt(src, end - 15 - n, "LYRICSBEGIN")) {
                end -= n + 15;
                w.tags.lyrics3 = more = true;
                continue;
            }
            p = src.view(end - 9, 9, got);
            if (got == 9 && equal(p, "LYRICSEND")) {
                const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(room, 5100 + 20));
                p = src.view(end - span, span, got);
                if (got == span) {
                    for (std::size_t i = span - 9; i-- > 0;) {
                        if (i + 11 <= span && equal(p + i, "LYRICSBEGIN")) {
                            end -= span - i;
                            w.tags.lyrics3 = more = true;
                            break;
                        }
                    }
                    if (more) continue;
                }
            }
        }
        if (room >= 20) {
            const unsigned char* p = src.view(end - 10, 10, got);
            // The footer repeats the header: the tag is its size and both.
            const std::uint64_t len = got == 10 && id3v2Length(p, "3DI") ? be32syncsafe(p + 6) + 20 : 0;
            if (len && len <= room && markAt(src, end - len, "ID3")) {
                end -= len;
                w.tags.id3v2 = more = true;
                continue;
            }
        }
    }
    w.end = end;
}

void walkFrames(ByteSource& src, Walk& w) {
    Walker(src, w).run();
}

} // namespace media
