#pragma once
// The fast part of the link scan: where the candidates of a page end, found
// 64 characters at a time with the machine's vector instructions. The rules
// for what a closed candidate yields live in link_extraction.cpp.
//
// A candidate opens at a double quote. It closes at the next double quote, or
// at the character after ".mp3" ("m" and "p" in any case) unless that is a
// double quote; "href" (in any case) drops it instead. CandidateScan hands out
// the spans of the candidates that may be links (those that begin with "f" or
// "F", and with http links on those that begin with "ht" in any case), one at
// a time; the others only decide what is open where.

#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace search {

// The instructions the scan uses: chosen at start for the machine (AVX-512
// where present, else AVX2, else SSE2 on x86-64, else plain code); every
// kernel finds the same spans. setScanKernel answers false (and changes
// nothing) when the machine lacks the kernel.
enum class ScanKernel { Plain, Sse2, Avx2, Avx512 };
ScanKernel scanKernel();
bool setScanKernel(ScanKernel kernel);

namespace linkscan {

// The text is looked at in chunks of ChunkSize characters; a chunk needs the
// ChunkLookahead characters after it to be readable.
constexpr std::size_t ChunkSize = 64;
constexpr std::size_t ChunkLookahead = 8;

inline char lowerAscii(char c) {
    return static_cast<char>(c | 0x20);
}

#ifdef __SSE2__
// Among the 16 characters at d (19 are read): where a double quote stands,
// where one opens a candidate that may be a link (followed by "f", or with
// Http by "ht"), and where ".mp3" and "href" begin (letters in any case).
struct Marks16 {
    __m128i quote, fquote, mp3, href;
};
template <bool Http = false> inline Marks16 marks16(const char* d) {
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 3));
    const __m128i l1 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 1)), caseBit);
    const __m128i l2 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2)), caseBit);
    Marks16 k;
    k.quote = _mm_cmpeq_epi8(v0, _mm_set1_epi8('"'));
    k.fquote = _mm_and_si128(k.quote, _mm_cmpeq_epi8(l1, _mm_set1_epi8('f')));
    if constexpr (Http)
        k.fquote = _mm_or_si128(k.fquote,
                                _mm_and_si128(_mm_and_si128(k.quote, _mm_cmpeq_epi8(l1, _mm_set1_epi8('h'))),
                                              _mm_cmpeq_epi8(l2, _mm_set1_epi8('t'))));
    k.mp3 = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(v0, _mm_set1_epi8('.')), _mm_cmpeq_epi8(l1, _mm_set1_epi8('m'))),
        _mm_and_si128(_mm_cmpeq_epi8(l2, _mm_set1_epi8('p')), _mm_cmpeq_epi8(v3, _mm_set1_epi8('3'))));
    k.href = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v0, caseBit), _mm_set1_epi8('h')),
                                         _mm_cmpeq_epi8(l1, _mm_set1_epi8('r'))),
                           _mm_and_si128(_mm_cmpeq_epi8(l2, _mm_set1_epi8('e')),
                                         _mm_cmpeq_epi8(_mm_or_si128(v3, caseBit), _mm_set1_epi8('f'))));
    return k;
}
#endif

// The first position from p on (before n) that can matter inside a
// candidate: a double quote, the start of ".mp3" or of "href" (letters in any
// case); n when there is none. Near the end of the text every "." and
// "h"/"H" is reported (the caller checks them), so no position that matters
// is skipped. (Inline: the scan of a block's last characters calls it often.)
inline std::size_t nextEvent(const char* d, std::size_t p, std::size_t n) {
#ifdef __SSE2__
    while (p + 19 <= n) {
        const Marks16 k = marks16(d + p);
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(k.mp3, k.href), k.quote));
        if (mask != 0) return p + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
    }
#endif
    for (; p < n; ++p) {
        const char c = d[p];
        if (c == '"' || c == '.' || lowerAscii(c) == 'h') return p;
    }
    return n;
}

// A candidate that may be a link ended: its text is data[from, to),
// after the text of earlier blocks when carried; dropped when it ended at
// "href" (it yields nothing).
struct Span {
    std::size_t from, to;
    bool carried;
    bool dropped;
};

// Where a scan stands between chunks.
struct Cursor {
    bool open = false;         // a candidate is open
    bool carried = false;      // ... it began in an earlier block
    bool linkOpen = false;     // ... it may be a link: its end must be seen
    std::size_t candStart = 0; // where its text begins (when not carried)
    std::size_t next = 0;      // where the scan goes on after the chunks
};

// The scan of the first `chunks` chunks of data (their lookahead must be
// readable too), starting in the state `at` (its next is ignored). With
// httpLinks, candidates that begin with "ht" (in any case) may be links too.
class CandidateScan {
public:
    CandidateScan(const char* data, std::size_t chunks, const Cursor& at, bool httpLinks = false) {
        state_.data = data;
        state_.httpLinks = httpLinks;
        state_.pos = 0;
        state_.end = chunks * ChunkSize;
        state_.cursor = at;
        state_.open = at.open;
        state_.linkOpen = at.linkOpen;
        state_.linkCarried = at.carried;
        state_.linkStart = at.candStart;
    }

    // The next span of a candidate that may be a link, in the order of the
    // text; false when the chunks hold no more (cursor() then tells where the
    // scan stands after them).
    bool next(Span& span) {
        if (state_.taken == state_.count && !refill()) return false;
        span = state_.spans[state_.taken++];
        return true;
    }
    const Cursor& cursor() const { return state_.cursor; }

    // What the kernels carry from one span to the next (only link_scan.cpp
    // looks inside).
    struct State {
        const char* data;
        std::size_t pos, end; // the next chunk, and the end of the chunks
        Cursor cursor;        // at the start, then after the chunks
        bool open, linkOpen, linkCarried;
        std::size_t linkStart;
        // A chunk whose openers are still being looked at.
        bool inChunk = false;
        std::uint64_t openers = 0, ends = 0;
        std::size_t base = 0;
        bool openAfterChunk = false;
        bool done = false;
        alignas(32) unsigned char masks[32] = {}; // the kernel's own carry between chunks
        // The spans found and not yet handed out: spans[taken, count).
        static constexpr std::size_t SpanCapacity = 128;
        Span spans[SpanCapacity];
        std::size_t count = 0, taken = 0;
        bool httpLinks = false; // candidates that begin with "ht" may be links too
    };

private:
    bool refill(); // scans on until spans are found or the chunks end
    State state_;
};

} // namespace linkscan
} // namespace search
