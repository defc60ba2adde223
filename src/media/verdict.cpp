#include "media/verdict.h"

#include "media/byte_source.h"
#include "media/sniff.h"
#include "media/tags.h"
#include "media/walk.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace media {

namespace {

Verdict judge(ByteSource& src) {
    Verdict v;
    v.size = src.size();
    v.kind = Kind::NotAudio;
    if (v.size == 0) {
        v.looks = Looks::Empty;
        return v;
    }
    std::size_t got = 0;
    const unsigned char* head = src.view(0, 64, got);
    if (const auto mark = formatMark(head, got)) {
        v.looks = *mark;
        return v;
    }
    Walk w;
    findTags(src, w);
    v.tags = w.tags;
    if (w.start > 0 && w.start < w.end) { // a tag before another format (FLAC and others may have one)
        const unsigned char* p = src.view(w.start, 64, got);
        if (const auto mark =
                formatMark(p, static_cast<std::size_t>(std::min<std::uint64_t>(got, w.end - w.start)))) {
            v.looks = *mark;
            return v;
        }
    }
    walkFrames(src, w);
    v.tags = w.tags;
    if (!w.found) {
        v.looks = lookAt(src, w.start, w.end);
        return v;
    }
    v.stream = w.stream;
    v.kind = w.damaged ? Kind::Damaged : Kind::Audio;
    if (w.damaged) v.damage = w.damage;
    return v;
}

Verdict unreadable(int err, std::string why = {}) {
    Verdict v;
    v.kind = Kind::Unreadable;
    v.error = err;
    v.errorText = why.empty() ? std::strerror(err) : std::move(why);
    return v;
}

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
    return number(n) + " " + (n == 1 ? one : many);
}

const char* headerName(InfoHeader h) {
    switch (h) {
    case InfoHeader::Xing:
        return "Xing";
    case InfoHeader::Info:
        return "Info";
    case InfoHeader::Vbri:
        return "VBRI";
    case InfoHeader::None:
        break;
    }
    return "info";
}

const char* modeText(ChannelMode m) {
    switch (m) {
    case ChannelMode::Stereo:
        return "stereo";
    case ChannelMode::JointStereo:
        return "joint stereo";
    case ChannelMode::DualChannel:
        return "dual channel";
    case ChannelMode::Mono:
        return "mono";
    }
    return "";
}

std::string damageText(const Damage& d) {
    using W = Damage::What;
    std::string out;
    switch (d.what) {
    case W::Junk:
    case W::Zeros: {
        const std::string what =
            plural(d.length, "byte", "bytes") + (d.what == W::Zeros ? " of zeros" : " of junk");
        if (d.afterFrame == 0 && !d.atEnd)
            out = what + " before the first frame";
        else if (d.atEnd)
            out = "the stream stops after frame " + number(d.afterFrame) + " at byte " + number(d.offset) +
                  ": " + what + " follow";
        else
            out = "the stream breaks after frame " + number(d.afterFrame) + " at byte " + number(d.offset) +
                  ": " + what + " before it resumes";
        break;
    }
    case W::CutFrame:
        out = "cut in the middle of frame " + number(d.afterFrame + 1) + " at byte " + number(d.offset) +
              ": " + number(d.length) + " of its " + number(d.expected) + " bytes";
        break;
    case W::ShortOfHeader:
        out = "short: " + plural(d.length, "frame", "frames") + " of the " + number(d.expected) +
              " its info header announces";
        break;
    }
    if (d.breaks > 1)
        out += " (and " + plural(static_cast<std::uint64_t>(d.breaks - 1), "more break", "more breaks") + ")";
    return out;
}

} // namespace

Verdict verify(const std::string& path, const Options& options) {
    // Without blocking: a FIFO must not hold the caller until a writer comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return unreadable(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return unreadable(err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? unreadable(EISDIR) : unreadable(EINVAL, "not a regular file");
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Verdict v = verifyOpenFile(fd, static_cast<std::uint64_t>(st.st_size), options);
    ::close(fd);
    return v;
}

Verdict verifyOpenFile(int fd, std::uint64_t size, const Options& options) {
    ByteSource src(fd, size, options.window);
    Verdict v = judge(src);
    if (src.error()) return unreadable(src.error());
    // Bytes that were there at the start and not when they were read: a
    // verdict on them would be on a file that no longer is.
    if (src.size() != size) return unreadable(EIO, "the file became shorter while it was read");
    if (options.readTags && v.kind != Kind::NotAudio) readTagText(fd, v.tags);
    return v;
}

Verdict verifyBytes(std::span<const unsigned char> bytes, const Options& options) {
    ByteSource src(bytes);
    Verdict v = judge(src);
    if (options.readTags && v.kind != Kind::NotAudio) readTagText(bytes, v.tags);
    return v;
}

std::string duration(std::uint64_t milliseconds) {
    const std::uint64_t s = (milliseconds + 500) / 1000;
    auto two = [](std::uint64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (s >= 3600) return std::to_string(s / 3600) + ":" + two(s / 60 % 60) + ":" + two(s % 60);
    return std::to_string(s / 60) + ":" + two(s % 60);
}

const char* versionText(Version v) {
    switch (v) {
    case Version::Mpeg1:
        return "MPEG-1";
    case Version::Mpeg2:
        return "MPEG-2";
    case Version::Mpeg25:
        return "MPEG-2.5";
    }
    return "";
}

const char* looksText(Looks l) {
    switch (l) {
    case Looks::Empty:
        return "an empty file";
    case Looks::TagsOnly:
        return "tags and no audio";
    case Looks::Zeros:
        return "all zeros";
    case Looks::Html:
        return "an HTML page";
    case Looks::Text:
        return "text";
    case Looks::Zip:
        return "a ZIP archive";
    case Looks::Rar:
        return "a RAR archive";
    case Looks::SevenZip:
        return "a 7-Zip archive";
    case Looks::Gzip:
        return "gzip-compressed data";
    case Looks::Wav:
        return "RIFF/WAV audio";
    case Looks::Riff:
        return "a RIFF file (not WAV)";
    case Looks::Ogg:
        return "an Ogg file";
    case Looks::Flac:
        return "FLAC audio";
    case Looks::Mp4:
        return "an MP4/M4A file";
    case Looks::Asf:
        return "an ASF/WMA file";
    case Looks::Aiff:
        return "AIFF audio";
    case Looks::Midi:
        return "a MIDI file";
    case Looks::Pdf:
        return "a PDF document";
    case Looks::Elf:
        return "an executable (ELF)";
    case Looks::WindowsExe:
        return "an executable (Windows)";
    case Looks::Png:
        return "a PNG image";
    case Looks::Jpeg:
        return "a JPEG image";
    case Looks::Gif:
        return "a GIF image";
    case Looks::Unknown:
        break;
    }
    return "no MPEG audio frames in it (unknown data)";
}

std::string reason(const Verdict& v) {
    switch (v.kind) {
    case Kind::Audio:
        return {};
    case Kind::Damaged:
        return damageText(v.damage);
    case Kind::NotAudio:
        return looksText(v.looks);
    case Kind::Unreadable:
        return v.errorText;
    }
    return {};
}

std::string summary(const Verdict& v) {
    switch (v.kind) {
    case Kind::Audio: {
        const Tags& t = v.tags;
        std::string who = !t.artist.empty() && !t.title.empty() ? t.artist + " - " + t.title
                          : !t.title.empty()                    ? t.title
                          : !t.artist.empty()                   ? t.artist
                                                                : "untagged";
        return who + " (" + duration(v.stream.milliseconds()) + ", " + (v.stream.vbr ? "VBR " : "") +
               std::to_string(v.stream.kbps) + " kbps)";
    }
    case Kind::Damaged:
        return "damaged: " + reason(v);
    case Kind::NotAudio:
        return "not audio: " + reason(v);
    case Kind::Unreadable:
        return "cannot be read: " + reason(v);
    }
    return {};
}

std::string details(const Verdict& v) {
    if (v.kind != Kind::Audio && v.kind != Kind::Damaged) return {};
    const Stream& s = v.stream;
    std::string out = std::string(versionText(s.version)) + " Layer " +
                      (s.layer == 1   ? "I"
                       : s.layer == 2 ? "II"
                                      : "III") +
                      ", " + std::to_string(s.rate) + " Hz, " + modeText(s.mode);
    if (s.freeFormat) out += ", free format";
    if (s.crc) out += ", CRC";
    out += ", " + plural(s.frames, "frame", "frames");
    if (v.kind == Kind::Damaged)
        out += " (" + duration(s.milliseconds()) + ", " + std::to_string(s.kbps) + " kbps)";
    if (s.header != InfoHeader::None) {
        out += std::string(", ") + headerName(s.header) + " header";
        if (s.headerFrames) out += " (" + plural(s.headerFrames, "frame", "frames") + ")";
    }
    if (s.skipped && v.kind == Kind::Audio)
        out += ", " + plural(s.skipped, "byte", "bytes") + " skipped before the first frame";
    if (!v.tags.album.empty()) out += "; album: " + v.tags.album;
    if (v.kind == Kind::Damaged && (!v.tags.artist.empty() || !v.tags.title.empty()))
        out += "; tagged: " + v.tags.artist + " - " + v.tags.title;
    std::string tags;
    auto add = [&tags](const char* name) { tags += (tags.empty() ? "" : ", ") + std::string(name); };
    if (v.tags.id3v2) add("ID3v2");
    if (v.tags.ape) add("APE");
    if (v.tags.lyrics3) add("Lyrics3");
    if (v.tags.id3v1) add("ID3v1");
    if (v.tags.inside) add((std::to_string(v.tags.inside) + " inside").c_str());
    out += "; tags: " + (tags.empty() ? std::string("none") : tags);
    return out;
}

} // namespace media
