#include "net/httpprot_chunked.h"

#include <algorithm>
#include <cstring>

namespace net {
namespace {

constexpr const char* BadSize = "Malformed chunk size";
constexpr const char* BadFraming = "Malformed chunked body";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

void HttpChunkDecoder::endSizeLine() {
    state_ = size_ == 0 ? State::TrailerStart : State::Data;
}

std::size_t HttpChunkDecoder::decode(char* data, std::size_t len) {
    std::size_t in = 0, out = 0;
    while (in < len && state_ != State::Done && state_ != State::Malformed) {
        if (state_ == State::Data) {
            // The bulk of the body: moved down over the framing already read.
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size_, len - in));
            if (out != in) std::memmove(data + out, data + in, n);
            in += n;
            out += n;
            size_ -= n;
            if (size_ == 0) state_ = State::DataCR;
            continue;
        }
        const char c = data[in++];
        switch (state_) {
        case State::Size:
            if (const int v = hexValue(c); v >= 0) {
                if (size_ > (UINT64_MAX >> 4)) {
                    fail(BadSize);
                    break;
                }
                size_ = size_ * 16 + static_cast<std::uint64_t>(v);
                digits_ = true;
            } else if (!digits_) {
                fail(BadSize); // a size line begins with a digit
            } else if (c == ' ' || c == '\t') {
                state_ = State::SizeBlank;
            } else if (c == ';') {
                state_ = State::Extension;
            } else if (c == '\r') {
                state_ = State::SizeLF;
            } else if (c == '\n') {
                endSizeLine();
            } else {
                fail(BadSize);
            }
            break;
        case State::SizeBlank:
            if (c == ';') {
                state_ = State::Extension;
            } else if (c == '\r') {
                state_ = State::SizeLF;
            } else if (c == '\n') {
                endSizeLine();
            } else if (c != ' ' && c != '\t') {
                fail(BadSize);
            }
            break;
        case State::Extension: // names and values are not looked at
            if (c == '\r') {
                state_ = State::SizeLF;
            } else if (c == '\n') {
                endSizeLine();
            }
            break;
        case State::SizeLF:
            if (c == '\n') {
                endSizeLine();
            } else {
                fail(BadSize);
            }
            break;
        case State::DataCR:
        case State::DataLF:
            if (c == '\r' && state_ == State::DataCR) {
                state_ = State::DataLF;
            } else if (c == '\n') {
                state_ = State::Size;
                digits_ = false;
            } else {
                fail(BadFraming); // a chunk longer than its size said
            }
            break;
        case State::TrailerStart:
            state_ = c == '\r' ? State::EndLF : c == '\n' ? State::Done : State::Trailer;
            break;
        case State::Trailer:
            if (c == '\n') state_ = State::TrailerStart;
            break;
        case State::EndLF:
            if (c == '\n') {
                state_ = State::Done;
            } else {
                fail(BadFraming);
            }
            break;
        case State::Data:
        case State::Done:
        case State::Malformed:
            break;
        }
    }
    return out;
}

} // namespace net
