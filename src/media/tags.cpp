#include "media/tags.h"

#include <id3v2framefactory.h>
#include <mpegfile.h>
#include <tag.h>
#include <tbytevectorstream.h>
#include <tfilestream.h>

#include <limits>
#include <unistd.h>

namespace media {

namespace {

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string text(const TagLib::String& s) {
    const std::wstring w = s.toWString();
    std::u32string u;
    u.reserve(w.size());
    for (wchar_t c : w)
        u += static_cast<char32_t>(c);
    return printableTagText(u);
}

void fill(TagLib::IOStream& stream, Tags& tags) {
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return;
    const TagLib::Tag* tag = file.tag();
    if (!tag) return;
    tags.artist = text(tag->artist());
    tags.title = text(tag->title());
    tags.album = text(tag->album());
}

} // namespace

std::string printableTagText(std::u32string_view in) {
    std::size_t from = 0, to = in.size();
    auto space = [](char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == 0; };
    while (from < to && space(in[from]))
        ++from;
    while (to > from && space(in[to - 1]))
        --to;
    std::string out;
    out.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
        char32_t c = in[i];
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = U'?';
        append(out, c);
    }
    return out;
}

void readTagText(int fd, Tags& tags) {
    const int own = ::dup(fd); // the stream closes what it is given
    if (own < 0) return;
    TagLib::FileStream stream(own, true);
    if (!stream.isOpen()) {
        ::close(own);
        return;
    }
    fill(stream, tags);
}

void readTagText(std::span<const unsigned char> bytes, Tags& tags) {
    if (bytes.size() > std::numeric_limits<unsigned>::max()) return; // more than TagLib's buffers hold
    TagLib::ByteVectorStream stream(
        TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned>(bytes.size())));
    fill(stream, tags);
}

} // namespace media
