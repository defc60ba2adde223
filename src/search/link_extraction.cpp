#include "search/link_extraction.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define WAVETRAP_X86 1
#endif

namespace search {
namespace {

inline char lowerAscii(char c) {
    return static_cast<char>(c | 0x20);
}

#ifdef WAVETRAP_X86
// Among the 16 characters at d (19 are read): where a double quote stands,
// where one is followed by "f" or "F", and where ".mp3" and "href" begin
// (letters in any case).
struct Marks16 {
    __m128i quote, fquote, mp3, href;
};
inline Marks16 marks16(const char* d) {
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 3));
    const __m128i l1 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 1)), caseBit);
    const __m128i l2 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2)), caseBit);
    Marks16 k;
    k.quote = _mm_cmpeq_epi8(v0, _mm_set1_epi8('"'));
    k.fquote = _mm_and_si128(k.quote, _mm_cmpeq_epi8(l1, _mm_set1_epi8('f')));
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

// The first position from p on that can matter inside a candidate: a double
// quote, the start of ".mp3" or of "href" (letters in any case). Near the end
// of the text every "." and "h"/"H" is reported (the caller checks them), so
// no position that matters is ever skipped.
inline std::size_t findEvent(const char* d, std::size_t p, std::size_t n) {
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

// Bit i of the result: the parity of the bits 0..i of x.
inline std::uint64_t prefixXor(std::uint64_t x) {
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

// The scan looks at the text in chunks of 64 characters. A kernel reads the
// chunks in order and describes each by bit masks (bit i for the character at i):
//  quote:  a double quote;
//  resets: where no candidate is left open, whatever was open: the start of
//          "href" (in any case), and the character after ".mp3" ("m" and "p"
//          in any case) unless that is a double quote;
//  fquote: a double quote followed by "f" or "F".
// Besides, a kernel tells the parity of the quotes up to and including each
// position (parity) and whether a candidate is open after a chunk (openAfter),
// each in its own way. A chunk's masks need the 3 characters after it; the
// scan needs 8. After the last chunk, mp3Ends tells where a ".mp3" begun in it
// ends after it (bit k: the k-th character after the chunk).
constexpr std::size_t ChunkSize = 64;
constexpr std::size_t ChunkLookahead = 8;
constexpr std::size_t PrefetchDistance = 4096;

struct ChunkMasks {
    std::uint64_t quote, resets, fquote;
};

// What the plain and SSE2 kernels share: the parity by shifts, the open state
// after a chunk by portable steps, and the ".mp3" carried between chunks.
struct ScalarMasks {
    using Chunk = ChunkMasks;
    static std::uint64_t parity(std::uint64_t quote) { return prefixXor(quote); }
    // Whether a candidate is open after a chunk with these quotes and resets
    // that began with one open or not: the parity of the quotes after the last
    // reset (with no reset, of all the quotes and the state before). No branch:
    // whether a chunk has a reset is not predictable.
    static bool openAfter(std::uint64_t quote, std::uint64_t resets, bool open) {
        const std::uint64_t upToReset =
            (~std::uint64_t{0} >> std::countl_zero(resets | 1)) & (0 - std::uint64_t{resets != 0});
        return __builtin_parityll(quote & ~upToReset) != (open && resets == 0);
    }
    std::uint64_t mp3Carry = 0; // where a ".mp3" of the chunk before ends in this one

    std::uint64_t mp3Ends() const { return mp3Carry; }

    // The chunk's masks from where quotes, quotes followed by "f", ".mp3" and "href" stand.
    Chunk finish(std::uint64_t q, std::uint64_t fq, std::uint64_t mp3, std::uint64_t href) {
        const std::uint64_t resets = (((mp3 << 4) | mp3Carry) & ~q) | href;
        mp3Carry = mp3 >> 60;
        return Chunk{q, resets, fq};
    }
};

struct PlainMasks : ScalarMasks {
    Chunk next(const char* d) {
        std::uint64_t q = 0, fq = 0, mp3 = 0, href = 0;
        for (std::size_t i = 0; i < ChunkSize; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << i;
            const char c0 = d[i], l1 = lowerAscii(d[i + 1]), l2 = lowerAscii(d[i + 2]);
            if (c0 == '"') q |= bit;
            if (c0 == '"' && l1 == 'f') fq |= bit;
            if (c0 == '.' && l1 == 'm' && l2 == 'p' && d[i + 3] == '3') mp3 |= bit;
            if (lowerAscii(c0) == 'h' && l1 == 'r' && l2 == 'e' && lowerAscii(d[i + 3]) == 'f') href |= bit;
        }
        return finish(q, fq, mp3, href);
    }
};

#ifdef WAVETRAP_X86
struct Sse2Masks : ScalarMasks {
    Chunk next(const char* d) {
        std::uint64_t q = 0, fq = 0, mp3 = 0, href = 0;
        for (unsigned k = 0; k < ChunkSize; k += 16) {
            const Marks16 m = marks16(d + k);
            q |= bits(m.quote, k);
            fq |= bits(m.fquote, k);
            mp3 |= bits(m.mp3, k);
            href |= bits(m.href, k);
        }
        return finish(q, fq, mp3, href);
    }
    static std::uint64_t bits(__m128i v, unsigned k) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v))) << k;
    }
};

// The characters the AVX2 kernel compares with, each 32 times over.
enum Pattern { Quote, CaseBit, Dot, M, P, Three, H, R, E, F, Patterns };
struct alignas(32) PatternRow {
    char c[32];
};
constexpr PatternRow patternRow(char ch) {
    PatternRow r{};
    for (char& x : r.c)
        x = ch;
    return r;
}
constexpr PatternRow patternRows[Patterns] = {
    patternRow('"'), patternRow(0x20), patternRow('.'), patternRow('m'), patternRow('p'),
    patternRow('3'), patternRow('h'),  patternRow('r'), patternRow('e'), patternRow('f')};

// With AVX2 the masks are combined before they leave the vector registers
// (".mp3" moved to its end across the chunks), and carry-less multiplication
// gives the parity of the quotes in one step.
struct Avx2Masks {
    using Chunk = ChunkMasks;
    __attribute__((target("avx2,pclmul"))) static std::uint64_t parity(std::uint64_t quote) {
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(
            _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(quote)), _mm_set1_epi8(-1), 0)));
    }
    // As ScalarMasks::openAfter, in fewer steps: with no reset the leading-zero count
    // is 64, which keeps every quote and (bit 6) the state before.
    __attribute__((target("bmi,bmi2,lzcnt,popcnt"))) static bool openAfter(std::uint64_t quote,
                                                                           std::uint64_t resets, bool open) {
        const auto zeros = static_cast<unsigned>(_lzcnt_u64(resets));
        const std::uint64_t after = quote & ~_bzhi_u64(~std::uint64_t{0}, 64 - zeros);
        return ((static_cast<unsigned>(_mm_popcnt_u64(after)) ^ (std::uint64_t{open} & (zeros >> 6))) & 1) !=
               0;
    }
    __m256i mp3Before; // where ".mp3" begins in the 32 characters before

    // The patterns are read from memory where they are used: the registers
    // cannot hold them all besides the text, and the compiler, left alone,
    // rebuilds them at every chunk (the empty asm in next() hides that the
    // table never changes).
    const PatternRow* patterns = patternRows;
    __attribute__((target("avx2"))) __m256i k(Pattern i) const {
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(patterns[i].c));
    }

    __attribute__((target("avx2"))) Avx2Masks() : mp3Before(_mm256_setzero_si256()) {}

    __attribute__((target("avx2"))) Chunk next(const char* d) {
        asm("" : "+r"(patterns));
        const Half lo = half(d), hi = half(d + 32);
        return Chunk{lo.quote | hi.quote << 32, lo.resets | hi.resets << 32, lo.fquote | hi.fquote << 32};
    }

    // The quote and reset masks of 32 characters, and where quotes are followed by "f".
    struct Half {
        std::uint64_t quote, resets, fquote;
    };
    __attribute__((target("avx2"))) Half half(const char* d) {
        const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
        const __m256i v3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 3));
        const __m256i l1 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 1)), k(CaseBit));
        const __m256i l2 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 2)), k(CaseBit));
        const __m256i q = _mm256_cmpeq_epi8(v0, k(Quote));
        const __m256i mp3 =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(v0, k(Dot)), _mm256_cmpeq_epi8(l1, k(M))),
                             _mm256_and_si256(_mm256_cmpeq_epi8(l2, k(P)), _mm256_cmpeq_epi8(v3, k(Three))));
        const __m256i href =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v0, k(CaseBit)), k(H)),
                                              _mm256_cmpeq_epi8(l1, k(R))),
                             _mm256_and_si256(_mm256_cmpeq_epi8(l2, k(E)),
                                              _mm256_cmpeq_epi8(_mm256_or_si256(v3, k(CaseBit)), k(F))));
        // The ends of ".mp3": 4 characters on, across the 32 before.
        const __m256i mp3End = _mm256_alignr_epi8(mp3, _mm256_permute2x128_si256(mp3Before, mp3, 0x21), 12);
        mp3Before = mp3;
        const __m256i fq = _mm256_and_si256(q, _mm256_cmpeq_epi8(l1, k(F)));
        const __m256i resets = _mm256_or_si256(_mm256_andnot_si256(q, mp3End), href);
        return {static_cast<unsigned>(_mm256_movemask_epi8(q)),
                static_cast<unsigned>(_mm256_movemask_epi8(resets)),
                static_cast<unsigned>(_mm256_movemask_epi8(fq))};
    }

    __attribute__((target("avx2"))) std::uint64_t mp3Ends() const {
        return static_cast<unsigned>(_mm256_movemask_epi8(mp3Before)) >> 28;
    }
};
#endif

bool hasAvx2() {
#ifdef WAVETRAP_X86
    __builtin_cpu_init();
    // (Not every compiler's __builtin_cpu_supports knows "lzcnt": CPUID says it.)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const bool lzcnt = __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) != 0 && (ecx & (1u << 5)) != 0;
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt") && lzcnt;
#else
    return false;
#endif
}

ScanKernel bestKernel() {
#ifdef WAVETRAP_X86
    return hasAvx2() ? ScanKernel::Avx2 : ScanKernel::Sse2;
#else
    return ScanKernel::Plain;
#endif
}

ScanKernel currentKernel = bestKernel();

// The open candidate ends without a link (or after its link was offered).
inline void dropCandidate(ScanState& st) {
    st.open = false;
    st.overlong = false;
    st.cand.clear();
}

// Whether "href" (in any case) begins at d; the four characters must be there.
inline std::uint32_t load4(const char* d) {
    std::uint32_t w;
    std::memcpy(&w, d, 4);
    return w;
}
inline bool isHref(const char* d) {
    constexpr std::uint32_t want = 'h' | 'r' << 8 | 'e' << 16 | std::uint32_t{'f'} << 24;
    if constexpr (std::endian::native == std::endian::little) return (load4(d) | 0x20202020u) == want;
    return lowerAscii(d[0]) == 'h' && lowerAscii(d[1]) == 'r' && lowerAscii(d[2]) == 'e' &&
           lowerAscii(d[3]) == 'f';
}

enum class Match { Yes, No, Unknown };

// Whether d[p..] starts with pattern (given in lower case, letters matched in
// any case); Unknown when the text ends before the answer is known.
inline Match matchAt(const char* d, std::size_t p, std::size_t n, const char* pattern, std::size_t plen,
                     bool final) {
    for (std::size_t i = 0; i < plen; ++i) {
        if (p + i >= n) return final ? Match::No : Match::Unknown;
        const char c = d[p + i];
        const char want = pattern[i];
        if ((want >= 'a' && want <= 'z' ? lowerAscii(c) : c) != want) return Match::No;
    }
    return Match::Yes;
}

inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

bool hasControl(std::string_view s) {
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127) return true;
    }
    return false;
}

} // namespace

// The chunk scan. Whether each position lies inside a candidate follows from
// the masks alone: a double quote opens or closes one; the character after
// ".mp3" (unless a double quote, which then simply closes or opens one) and
// the start of "href" leave none open, whatever was open. Only a candidate
// that begins with "f" or "F" needs its end looked at.
struct ChunkScanner {
    // What the scan carries from one chunk to the next.
    struct Cursor {
        bool open;             // a candidate is open
        bool carried;          // ... it began in an earlier block
        bool linkOpen;         // ... it begins with "f" or "F": its end must be seen
        std::size_t candStart; // where its text begins (when not carried)
        std::size_t next;      // where the scan goes on after the chunks
    };
    using Fn = bool (*)(LinkExtractor& x, const char* data, std::size_t chunks, Cursor& c, ScanState& st);

    // Scans the first `chunks` chunks of data; answers true when the scan
    // must stop (the table reached 149 links).
    template <class Masks>
    static bool run(LinkExtractor& x, const char* data, std::size_t chunks, Cursor& c, ScanState& st) {
        bool open = c.open, linkOpen = c.linkOpen;
        // Where the open candidate that may be a link began.
        std::size_t linkStart = c.candStart;
        bool linkCarried = c.carried;
        Masks masks;
        const char* const end = data + chunks * ChunkSize;
        for (const char* p = data; p != end; p += ChunkSize) {
            // Asking for the text 4 KiB ahead keeps it streaming in from memory
            // (a prefetch past the end of the text does no harm).
            __builtin_prefetch(
                reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + PrefetchDistance));
            const auto m = masks.next(p);
            if (!linkOpen && m.fquote == 0) [[likely]] {
                // Nothing here can be a link: only whether a candidate is
                // open after the chunk matters.
                open = Masks::openAfter(m.quote, m.resets, open);
                continue;
            }
            const auto b = static_cast<std::size_t>(p - data);
            const std::uint64_t parity = Masks::parity(m.quote);
            // Each position takes the quote parity at the last reset before it
            // (flipped when the chunk began inside a candidate): the resets at
            // parity 1 carry a 1 up to the next reset at parity 0.
            const std::uint64_t cleared = m.resets & ~parity, set = m.resets & parity, keep = ~cleared;
            const std::uint64_t held = (((keep + set) ^ keep) | set) & keep;
            const std::uint64_t beforeClear = ~cleared & (cleared - 1);
            const std::uint64_t inside = (held | (beforeClear & (0 - std::uint64_t{open}))) ^ parity;
            const std::uint64_t openers = m.quote & inside;
            // Each candidate that may be a link ends at the next quote or
            // reset ("href" drops it instead).
            const std::uint64_t ends = m.quote | m.resets;
            if (linkOpen && ends != 0) {
                const std::size_t e = b + static_cast<std::size_t>(std::countr_zero(ends));
                linkOpen = false;
                if (isHref(data + e)) {
                    dropCandidate(st);
                } else if (x.close(st, data, linkStart, e, linkCarried)) {
                    return true;
                }
            }
            for (std::uint64_t fo = m.fquote & openers; fo != 0; fo &= fo - 1) {
                const auto o = static_cast<unsigned>(std::countr_zero(fo));
                const std::uint64_t after = ends & ~((std::uint64_t{2} << o) - 1);
                if (after == 0) {
                    linkOpen = true; // it goes on in the next chunk
                    linkStart = b + o + 1;
                    linkCarried = false;
                    break;
                }
                const std::size_t e = b + static_cast<std::size_t>(std::countr_zero(after));
                if (isHref(data + e)) {
                    dropCandidate(st);
                } else if (x.close(st, data, b + o + 1, e, false)) {
                    return true;
                }
            }
            open = (inside >> 63) != 0;
        }
        std::size_t next = chunks * ChunkSize;
        const std::uint64_t pending = masks.mp3Ends();
        if (pending != 0 && open) {
            // A ".mp3" in the open candidate ends just after the last chunk.
            const std::size_t at = next + static_cast<std::size_t>(std::countr_zero(pending));
            if (data[at] != '"') {
                open = false;
                if (linkOpen) {
                    linkOpen = false;
                    if (isHref(data + at)) {
                        dropCandidate(st);
                    } else if (x.close(st, data, linkStart, at, linkCarried)) {
                        return true;
                    }
                }
                next = at + 1;
            }
        }
        // A candidate open at the end began after the last quote (no reset
        // came after it, or it would be closed); with no quote it was carried in.
        c = Cursor{open, c.carried, linkOpen, c.candStart, next};
        if (open) {
            const void* q = memrchr(data, '"', chunks * ChunkSize);
            if (q != nullptr) {
                c.carried = false;
                c.candStart = static_cast<std::size_t>(static_cast<const char*>(q) - data) + 1;
            }
        }
        return false;
    }

    __attribute__((flatten)) static bool plain(LinkExtractor& x, const char* d, std::size_t n, Cursor& c,
                                               ScanState& st) {
        return run<PlainMasks>(x, d, n, c, st);
    }
#ifdef WAVETRAP_X86
    __attribute__((flatten)) static bool sse2(LinkExtractor& x, const char* d, std::size_t n, Cursor& c,
                                              ScanState& st) {
        return run<Sse2Masks>(x, d, n, c, st);
    }
    __attribute__((target("avx2,pclmul,bmi,bmi2,lzcnt,popcnt"), flatten)) static bool
    avx2(LinkExtractor& x, const char* d, std::size_t n, Cursor& c, ScanState& st) {
        return run<Avx2Masks>(x, d, n, c, st);
    }
#endif

    static Fn forKernel(ScanKernel k) {
#ifdef WAVETRAP_X86
        if (k == ScanKernel::Avx2) return avx2;
        if (k == ScanKernel::Sse2) return sse2;
#endif
        (void)k;
        return plain;
    }
};

namespace {
ChunkScanner::Fn chunkScan = ChunkScanner::forKernel(currentKernel);
} // namespace

std::string percentDecode(std::string_view link) {
    const std::size_t first = link.find('%');
    if (first == std::string_view::npos) return std::string(link);
    std::string s(link);
    std::string out;
    out.reserve(s.size());
    out.append(s, 0, first);
    std::size_t i = first;
    while (i < s.size()) {
        if (s[i] != '%') {
            out.push_back(s[i++]);
            continue;
        }
        const std::size_t avail = std::min<std::size_t>(2, s.size() - i - 1);
        int v = 0;
        for (std::size_t j = 0; j < avail; ++j)
            v = v * 16 + hexValue(s[i + 1 + j]);
        i += 1 + avail;
        if (v == '%') {
            // A "%" made by decoding is decoded again, with what follows it.
            s[--i] = '%';
            continue;
        }
        out.push_back(static_cast<char>(v));
    }
    return out;
}

ScanKernel scanKernel() {
    return currentKernel;
}

bool setScanKernel(ScanKernel k) {
#ifdef WAVETRAP_X86
    if (k == ScanKernel::Avx2 && !hasAvx2()) return false;
#else
    if (k != ScanKernel::Plain) return false;
#endif
    currentKernel = k;
    chunkScan = ChunkScanner::forKernel(k);
    return true;
}

LinkExtractor::LinkExtractor(std::function<std::size_t()> linksHeld) : linksHeld_(std::move(linksHeld)) {}

bool LinkExtractor::stopsAtClose() const {
    return linksHeld_() == StopCount;
}

// Offers a closed candidate: the text data[from, to), after st.cand when the
// candidate began in an earlier block. Answers whether the scan must stop.
// (Kept out of line: the chunk scan takes in everything else it calls.)
__attribute__((noinline)) bool LinkExtractor::close(ScanState& st, const char* data, std::size_t from,
                                                    std::size_t to, bool carried) {
    std::size_t held = linksHeld_();
    const std::size_t len = (carried ? st.cand.size() : 0) + (to - from);
    if (len > 0 && len <= MaxLinkLength && !(carried && st.overlong)) {
        const char first = carried && !st.cand.empty() ? st.cand[0] : data[from];
        if (first == 'f' || first == 'F') {
            std::string_view link;
            if (carried && !st.cand.empty()) {
                linkBuf_.assign(st.cand);
                linkBuf_.append(data + from, to - from);
                link = linkBuf_;
            } else {
                link = std::string_view(data + from, to - from);
            }
            // With a full table addlink would refuse it at once.
            if (held < TableLimit && link.find('.') != std::string_view::npos && offer(link))
                held = linksHeld_();
        }
    }
    dropCandidate(st);
    return held == StopCount;
}

bool LinkExtractor::offer(std::string_view link) {
    if (link.find('%') == std::string_view::npos) {
        if (link.find(".mp3") == std::string_view::npos || hasControl(link)) return false;
        linkFound(std::string(link));
        return true;
    }
    const std::string decoded = percentDecode(link);
    // A control character (a line break above all) would later forge lines
    // in the settings files and macro scripts: such a link is refused.
    if (decoded.find(".mp3") == std::string::npos || hasControl(decoded)) return false;
    linkFound(decoded);
    return true;
}

// Scans data[0, len). Positions whose meaning depends on text after len are
// left unconsumed (only when !final): consumed tells where they begin.
LinkExtractor::Scan LinkExtractor::scan(const char* data, std::size_t len, bool final, ScanState& st,
                                        std::size_t& consumed) {
    bool open = st.open;
    bool carried = st.open; // the open candidate began in an earlier block
    std::size_t candStart = 0;
    std::size_t p = 0;
    consumed = len;
    // Chunk by chunk while every position has the text it needs after it;
    // with 149 links every close must be seen, which the plain scan below does.
    if (len >= ChunkSize + ChunkLookahead && !stopsAtClose()) {
        ChunkScanner::Cursor c{
            open, carried, open && !st.overlong && lowerAscii(st.cand.empty() ? data[0] : st.cand[0]) == 'f',
            0, 0};
        if (chunkScan(*this, data, (len - ChunkLookahead) / ChunkSize, c, st)) return Scan::Stopped;
        open = c.open;
        carried = c.carried;
        candStart = c.candStart;
        p = c.next;
    }
    while (p < len) {
        if (!open) {
            // Outside a candidate only a double quote matters: it opens one.
            const void* q = std::memchr(data + p, '"', len - p);
            if (q == nullptr) break;
            p = static_cast<std::size_t>(static_cast<const char*>(q) - data) + 1;
            open = true;
            carried = false;
            st.overlong = false;
            candStart = p;
            continue;
        }
        const std::size_t e = findEvent(data, p, len);
        if (e == len) break;
        const char c = data[e];
        if (c == '"') {
            // The closing quote.
            open = false;
            if (close(st, data, candStart, e, carried)) return Scan::Stopped;
            p = e + 1;
            continue;
        }
        if (c == '.') {
            const Match mp3 = matchAt(data, e + 1, len, "mp3", 3, final);
            if (mp3 == Match::No) {
                p = e + 1;
                continue;
            }
            // The candidate closes at the character after ".mp3", unless that
            // character begins "href", which drops the candidate instead.
            const std::size_t at = e + 4;
            Match href = Match::No;
            if (mp3 == Match::Yes && at < len && lowerAscii(data[at]) == 'h')
                href = matchAt(data, at + 1, len, "ref", 3, final);
            if (mp3 == Match::Unknown || href == Match::Unknown || (at >= len && !final)) {
                consumed = e;
                break;
            }
            if (at >= len) break; // the page ends first: the candidate is left unfinished
            open = false;
            if (href == Match::Yes) {
                dropCandidate(st);
            } else if (close(st, data, candStart, at, carried)) {
                return Scan::Stopped;
            }
            p = at + 1;
            continue;
        }
        // "h" or "H": "href" drops the candidate.
        const Match href = matchAt(data, e + 1, len, "ref", 3, final);
        if (href == Match::Unknown) {
            consumed = e;
            break;
        }
        if (href == Match::Yes) {
            open = false;
            dropCandidate(st);
        }
        p = e + 1;
    }
    if (open) {
        // Keep the unfinished candidate's text for the next block, up to the bound.
        if (!carried) {
            st.cand.clear();
            st.overlong = false;
        }
        const std::size_t add = consumed > candStart ? consumed - candStart : 0;
        if (!st.overlong && st.cand.size() + add > MaxLinkLength) {
            st.overlong = true;
            st.cand.clear();
            st.cand.shrink_to_fit();
        }
        if (!st.overlong) st.cand.append(data + candStart, add);
        st.open = true;
    } else {
        dropCandidate(st);
    }
    return Scan::Done;
}

void LinkExtractor::compileClick(std::string_view block, ScanState& st) {
    ++lc_;
    std::size_t consumed = 0;
    std::size_t offset = 0;
    if (!st.carry.empty()) {
        // A few characters held back from the last block: scan them with the
        // start of this one (enough to settle them when the block is long).
        std::string glue = std::move(st.carry);
        st.carry.clear();
        const std::size_t held = glue.size();
        const std::size_t take = std::min<std::size_t>(block.size(), 16);
        glue.append(block.data(), take);
        if (scan(glue.data(), glue.size(), false, st, consumed) == Scan::Stopped) {
            st.reset();
            return;
        }
        if (consumed >= held) {
            offset = consumed - held;
        } else {
            std::string rest = glue.substr(consumed);
            rest.append(block.substr(take));
            if (scan(rest.data(), rest.size(), false, st, consumed) == Scan::Stopped) {
                st.reset();
                return;
            }
            st.carry = rest.substr(consumed);
            scanned();
            return;
        }
    }
    if (scan(block.data() + offset, block.size() - offset, false, st, consumed) == Scan::Stopped) {
        st.reset();
        return;
    }
    st.carry.assign(block.substr(offset + consumed));
    scanned();
}

void LinkExtractor::endPage(ScanState& st) {
    if (!st.carry.empty()) {
        const std::string rest = std::move(st.carry);
        st.carry.clear();
        std::size_t consumed = 0;
        if (scan(rest.data(), rest.size(), true, st, consumed) == Scan::Done) scanned();
    }
    st.reset();
}

void LinkExtractor::compileClick(std::string_view page) {
    ++lc_;
    ScanState st;
    std::size_t consumed = 0;
    if (scan(page.data(), page.size(), true, st, consumed) == Scan::Done) scanned();
}

} // namespace search
