#pragma once
// The body of a reply sent with "Transfer-Encoding: chunked", decoded as it
// arrives: hexadecimal chunk sizes (with or without extensions after ";"),
// the chunks, the last chunk of size 0 and the trailer lines after it. A
// chunk size line, a chunk or a trailer may be cut anywhere between two
// receives. Lines end with CR LF or a lone LF.

#include <cstddef>
#include <cstdint>

namespace net {

class HttpChunkDecoder {
public:
    // Decodes data[0 .. len) in place: afterwards data[0 .. answer) holds the
    // body bytes it carried. Nothing more is decoded once the body is complete
    // or malformed.
    std::size_t decode(char* data, std::size_t len);
    // The last chunk and the trailer have been read.
    bool done() const { return state_ == State::Done; }
    // What was wrong, or nullptr while the body is well formed.
    const char* error() const { return error_; }
    void reset() { *this = HttpChunkDecoder(); }

private:
    enum class State {
        Size,         // the digits of a chunk size (at least one)
        SizeBlank,    // blanks after the digits
        Extension,    // ";" and what follows, up to the line end
        SizeLF,       // the LF after a CR of the size line
        Data,         // the bytes of a chunk
        DataCR,       // the line end after a chunk
        DataLF,       // ... its LF after the CR
        TrailerStart, // the start of a trailer line (an empty one ends the body)
        Trailer,      // a trailer field, up to its LF
        EndLF,        // the LF of the empty line that ends the body
        Done,
        Malformed,
    };
    void fail(const char* what) {
        state_ = State::Malformed;
        error_ = what;
    }
    void endSizeLine();

    State state_ = State::Size;
    bool digits_ = false;    // the size line has a digit
    std::uint64_t size_ = 0; // of the chunk being read, then its bytes still to come
    const char* error_ = nullptr;
};

} // namespace net
