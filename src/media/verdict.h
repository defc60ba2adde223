#pragma once
// What a fetched file is: MPEG audio (with its properties and tags), an MPEG
// stream that breaks somewhere (and where), something else (and what it looks
// like), or a file that could not be read. One call reads one local file:
//
//     const media::Verdict v = media::verify("Night Train.mp3");
//     if (v.kind == media::Kind::Audio) show(media::summary(v)); // "Artist - Title (3:45, 192 kbps)"
//
// The walk reads the frame headers only (no audio is decoded) through a
// window of the file, so it is cheap enough for every finished download.

#include "media/frames.h"

#include <cstdint>
#include <span>
#include <string>

namespace media {

enum class Kind {
    Audio,      // an MPEG audio stream from its first frame to its last, tags aside
    Damaged,    // an MPEG audio stream that breaks, is cut or is shorter than announced
    NotAudio,   // no MPEG audio stream: see Verdict::looks
    Unreadable, // the file could not be opened or read: see Verdict::error
};

// The properties of the stream found (for Audio and Damaged).
struct Stream {
    Version version = Version::Mpeg1;
    int layer = 0;
    int rate = 0; // samples per second
    ChannelMode mode = ChannelMode::Stereo;
    bool crc = false;
    bool freeFormat = false;
    bool vbr = false;          // frames of more than one bitrate, or a Xing or VBRI header
    int kbps = 0;              // the bitrate of every frame, or the average for VBR and free format
    std::uint64_t frames = 0;  // audio frames (an info header's frame is not one)
    std::uint64_t samples = 0; // per channel
    InfoHeader header = InfoHeader::None;
    std::uint64_t headerFrames = 0; // frames the info header announces (0: not given)
    std::uint64_t first = 0;        // offset of the first frame (its info frame, if any)
    std::uint64_t firstAudio = 0;   // offset of the first audio frame
    std::uint64_t end = 0;          // offset past the last whole frame
    std::uint64_t audioBytes = 0;   // the audio frames' bytes
    std::uint64_t skipped = 0;      // bytes before the first frame that are no tag (a few are ordinary)

    std::uint64_t milliseconds() const {
        return rate ? samples * 1000 / static_cast<std::uint64_t>(rate) : 0;
    }
};

// Tags found around (or inside) the stream, and the text of the main fields.
struct Tags {
    bool id3v2 = false; // at the start (or an ID3v2 tag with a footer at the end)
    bool id3v1 = false; // the 128 bytes at the end
    bool ape = false;   // APEv1 or APEv2 at the end
    bool lyrics3 = false;
    int inside = 0;                   // ID3v2 tags between frames (joined files)
    std::string artist, title, album; // printable: control characters are "?"
    bool any() const { return id3v2 || id3v1 || ape || lyrics3 || inside > 0; }
};

// Where and how the stream breaks (for Damaged): the first break found.
struct Damage {
    enum class What {
        Junk,          // bytes that are no frame, at `offset`, `length` of them
        Zeros,         // the same, all zero
        CutFrame,      // the last frame, at `offset`, has `length` of its `expected` bytes
        ShortOfHeader, // the stream has `length` audio frames of the `expected` its info header announces
    };
    What what = What::Junk;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t expected = 0;
    std::uint64_t afterFrame = 0; // frames before the break (0: before the first frame)
    bool atEnd = false;           // junk or zeros that run to the end of the stream (tags aside)
    int breaks = 0;               // how many breaks in all (a stream may break more than once)
};

// What a file that is no MPEG audio looks like.
enum class Looks {
    Empty,
    TagsOnly, // tags and nothing else
    Zeros,    // every byte zero
    Html,
    Text,
    Zip,
    Rar,
    SevenZip,
    Gzip,
    Wav,  // RIFF/WAVE
    Riff, // another RIFF file (AVI, ...)
    Ogg,
    Flac,
    Mp4, // an ISO media file (M4A, MP4, ...)
    Asf, // WMA, WMV
    Aiff,
    Midi,
    Pdf,
    Elf, // a program or library for Linux and others
    WindowsExe,
    Png,
    Jpeg,
    Gif,
    Unknown, // binary data without a known mark
};

struct Verdict {
    Kind kind = Kind::Unreadable;
    Stream stream;                // Audio and Damaged
    Tags tags;                    // Audio and Damaged (the fields are read from the file's tags)
    Damage damage;                // Damaged
    Looks looks = Looks::Unknown; // NotAudio
    int error = 0;                // Unreadable: errno
    std::string errorText;        // Unreadable: why ("not a regular file", or the system's text)
    std::uint64_t size = 0;       // the file's bytes

    bool audio() const { return kind == Kind::Audio; }
};

// Tuning for tests: how much of the file is held at once.
struct Options {
    std::size_t window = 256 * 1024; // stays in the processor's cache while it is walked
    bool readTags = true;            // the text fields, through TagLib
};

// Judges the local file at path (a regular file, opened without blocking;
// links are followed). Never throws for the file's content.
Verdict verify(const std::string& path, const Options& options = {});
// The same for a regular file open as fd whose size was `size` when it was
// opened (the descriptor stays open).
Verdict verifyOpenFile(int fd, std::uint64_t size, const Options& options = {});
// The same for bytes already in memory (standard input, tests, fuzzing); the
// tag fields are read when options.readTags is set.
Verdict verifyBytes(std::span<const unsigned char> bytes, const Options& options = {});

// The bytes before the first frame that may be no tag and no frame and still
// make an ordinary file (a broken tag, a few bytes of padding); more is damage.
constexpr std::uint64_t SkippedAllowed = 64 * 1024;

// One line for people: "Artist - Title (3:45, 192 kbps)" for audio ("untagged"
// without artist and title), "damaged: ..." and "not audio: ..." with the reason
// for the rest, "cannot be read: ..." when the file could not be read.
std::string summary(const Verdict& v);
// The reason alone for Damaged, NotAudio and Unreadable ("cut in the middle of
// frame 57 at byte 23517: 170 of its 417 bytes", "an HTML page"); empty for Audio.
std::string reason(const Verdict& v);
// The stream's technical facts: "MPEG-1 Layer III, 44100 Hz, joint stereo, 4532
// frames, Xing header; album: X; tags: ID3v2, ID3v1"; empty without a stream.
std::string details(const Verdict& v);
// "3:45" (and "1:02:03" past an hour), rounded to the nearest second.
std::string duration(std::uint64_t milliseconds);
const char* looksText(Looks l);
const char* versionText(Version v);

} // namespace media
