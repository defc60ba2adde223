#include "search/link_scan.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define WAVETRAP_X86 1
#endif

namespace search {
namespace linkscan {
namespace {

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
//  fquote: a double quote that opens a candidate that may be a link: followed
//          by "f" or "F", or (the kernels' Http instances) by "ht" in any case.
// Besides, a kernel tells the parity of the quotes up to and including each
// position (parity) and whether a candidate is open after a chunk (openAfter),
// each in its own way. A chunk's masks need the 3 characters after it; the
// scan needs 8. After the last chunk, mp3Ends tells where a ".mp3" begun in it
// ends after it (bit k: the k-th character after the chunk). Between spans a
// kernel keeps what it carries from chunk to chunk in CandidateScan::State's
// masks (restored by its constructor, kept by save()).
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
    std::uint64_t mp3Carry; // where a ".mp3" of the chunk before ends in this one

    explicit ScalarMasks(const unsigned char* carry) { std::memcpy(&mp3Carry, carry, sizeof mp3Carry); }
    void save(unsigned char* carry) const { std::memcpy(carry, &mp3Carry, sizeof mp3Carry); }
    std::uint64_t mp3Ends() const { return mp3Carry; }

    // The chunk's masks from where quotes, quotes followed by "f", ".mp3" and "href" stand.
    Chunk finish(std::uint64_t q, std::uint64_t fq, std::uint64_t mp3, std::uint64_t href) {
        const std::uint64_t resets = (((mp3 << 4) | mp3Carry) & ~q) | href;
        mp3Carry = mp3 >> 60;
        return Chunk{q, resets, fq};
    }
};

struct PlainMasks : ScalarMasks {
    using ScalarMasks::ScalarMasks;
    template <bool Http> Chunk next(const char* d) {
        std::uint64_t q = 0, fq = 0, mp3 = 0, href = 0;
        for (std::size_t i = 0; i < ChunkSize; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << i;
            const char c0 = d[i], l1 = lowerAscii(d[i + 1]), l2 = lowerAscii(d[i + 2]);
            if (c0 == '"') q |= bit;
            if (c0 == '"' && (l1 == 'f' || (Http && l1 == 'h' && l2 == 't'))) fq |= bit;
            if (c0 == '.' && l1 == 'm' && l2 == 'p' && d[i + 3] == '3') mp3 |= bit;
            if (lowerAscii(c0) == 'h' && l1 == 'r' && l2 == 'e' && lowerAscii(d[i + 3]) == 'f') href |= bit;
        }
        return finish(q, fq, mp3, href);
    }
};

#ifdef WAVETRAP_X86
struct Sse2Masks : ScalarMasks {
    using ScalarMasks::ScalarMasks;
    template <bool Http> Chunk next(const char* d) {
        std::uint64_t q = 0, fq = 0, mp3 = 0, href = 0;
        for (unsigned k = 0; k < ChunkSize; k += 16) {
            const Marks16 m = marks16<Http>(d + k);
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
enum Pattern { Quote, CaseBit, Dot, M, P, Three, H, R, E, F, T, Patterns };
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
    patternRow('"'), patternRow(0x20), patternRow('.'), patternRow('m'), patternRow('p'), patternRow('3'),
    patternRow('h'), patternRow('r'),  patternRow('e'), patternRow('f'), patternRow('t')};

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

    __attribute__((target("avx2"))) explicit Avx2Masks(const unsigned char* carry)
        : mp3Before(_mm256_load_si256(reinterpret_cast<const __m256i*>(carry))) {}
    __attribute__((target("avx2"))) void save(unsigned char* carry) const {
        _mm256_store_si256(reinterpret_cast<__m256i*>(carry), mp3Before);
    }

    template <bool Http> __attribute__((target("avx2"))) Chunk next(const char* d) {
        asm("" : "+r"(patterns));
        const Half lo = half<Http>(d), hi = half<Http>(d + 32);
        return Chunk{lo.quote | hi.quote << 32, lo.resets | hi.resets << 32, lo.fquote | hi.fquote << 32};
    }

    // The quote and reset masks of 32 characters, and where quotes are followed by "f".
    struct Half {
        std::uint64_t quote, resets, fquote;
    };
    template <bool Http> __attribute__((target("avx2"))) Half half(const char* d) {
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
        __m256i fq = _mm256_and_si256(q, _mm256_cmpeq_epi8(l1, k(F)));
        if constexpr (Http)
            fq = _mm256_or_si256(fq, _mm256_and_si256(_mm256_and_si256(q, _mm256_cmpeq_epi8(l1, k(H))),
                                                      _mm256_cmpeq_epi8(l2, k(T))));
        const __m256i resets = _mm256_or_si256(_mm256_andnot_si256(q, mp3End), href);
        return {static_cast<unsigned>(_mm256_movemask_epi8(q)),
                static_cast<unsigned>(_mm256_movemask_epi8(resets)),
                static_cast<unsigned>(_mm256_movemask_epi8(fq))};
    }

    __attribute__((target("avx2"))) std::uint64_t mp3Ends() const {
        return static_cast<unsigned>(_mm256_movemask_epi8(mp3Before)) >> 28;
    }
};

// With AVX-512 a chunk is one register: each pattern is compared straight
// into a 64-bit mask, and the masks of the characters that follow are
// compared only where the ones before matched.
struct Avx512Masks : ScalarMasks {
    using ScalarMasks::ScalarMasks;
    static std::uint64_t parity(std::uint64_t quote) { return Avx2Masks::parity(quote); }
    static bool openAfter(std::uint64_t quote, std::uint64_t resets, bool open) {
        return Avx2Masks::openAfter(quote, resets, open);
    }
    template <bool Http> __attribute__((target("avx512f,avx512bw"))) Chunk next(const char* d) {
        const __m512i caseBit = _mm512_set1_epi8(0x20);
        const __m512i v0 = _mm512_loadu_si512(d);
        const __m512i l1 = _mm512_or_si512(_mm512_loadu_si512(d + 1), caseBit);
        const __m512i l2 = _mm512_or_si512(_mm512_loadu_si512(d + 2), caseBit);
        const __m512i v3 = _mm512_loadu_si512(d + 3);
        const __mmask64 q = _mm512_cmpeq_epi8_mask(v0, _mm512_set1_epi8('"'));
        __mmask64 fq = _mm512_mask_cmpeq_epi8_mask(q, l1, _mm512_set1_epi8('f'));
        if constexpr (Http)
            fq |= _mm512_mask_cmpeq_epi8_mask(_mm512_mask_cmpeq_epi8_mask(q, l1, _mm512_set1_epi8('h')), l2,
                                              _mm512_set1_epi8('t'));
        __mmask64 mp3 = _mm512_cmpeq_epi8_mask(v0, _mm512_set1_epi8('.'));
        mp3 = _mm512_mask_cmpeq_epi8_mask(mp3, l1, _mm512_set1_epi8('m'));
        mp3 = _mm512_mask_cmpeq_epi8_mask(mp3, l2, _mm512_set1_epi8('p'));
        mp3 = _mm512_mask_cmpeq_epi8_mask(mp3, v3, _mm512_set1_epi8('3'));
        __mmask64 href = _mm512_cmpeq_epi8_mask(_mm512_or_si512(v0, caseBit), _mm512_set1_epi8('h'));
        href = _mm512_mask_cmpeq_epi8_mask(href, l1, _mm512_set1_epi8('r'));
        href = _mm512_mask_cmpeq_epi8_mask(href, l2, _mm512_set1_epi8('e'));
        href = _mm512_mask_cmpeq_epi8_mask(href, _mm512_or_si512(v3, caseBit), _mm512_set1_epi8('f'));
        return finish(q, fq, mp3, href);
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

bool hasAvx512() {
#ifdef WAVETRAP_X86
    // (The compiler's check also asks the system whether it keeps the registers.)
    return hasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    return false;
#endif
}

ScanKernel bestKernel() {
#ifdef WAVETRAP_X86
    if (hasAvx512()) return ScanKernel::Avx512;
    return hasAvx2() ? ScanKernel::Avx2 : ScanKernel::Sse2;
#else
    return ScanKernel::Plain;
#endif
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

// The chunk scan. Whether each position lies inside a candidate follows from
// the masks alone: a double quote opens or closes one; the character after
// ".mp3" (unless a double quote, which then simply closes or opens one) and
// the start of "href" leave none open, whatever was open. Only a candidate
// that begins with "f" or "F" needs its end looked at: each such end is a
// span. The spans go to the state's buffer; when it is full the scan stops
// and goes on from there at the next call (in the middle of a chunk, too).
// Http: candidates that begin with "ht" may be links too.
template <class Masks, bool Http> void step(CandidateScan::State& s) {
    const char* const data = s.data;
    const char* const end = data + s.end;
    const char* p = data + s.pos;
    bool open = s.open, linkOpen = s.linkOpen, linkCarried = s.linkCarried;
    // Where the open candidate that may be a link began.
    std::size_t linkStart = s.linkStart;
    // The chunk at base whose openers are being looked at (inChunk): where
    // candidates may end in it, and whether one is open after it.
    bool inChunk = s.inChunk, openAfterChunk = s.openAfterChunk;
    std::uint64_t openers = s.openers, ends = s.ends;
    std::size_t base = s.base;
    Masks masks(s.masks);
    std::size_t count = 0;
    // Adds the span data[from, to); answers whether the buffer is full (the
    // state is then kept for the next call).
    const auto add = [&](std::size_t from, std::size_t to, bool carried) {
        s.spans[count++] = Span{from, to, carried, isHref(data + to)};
        if (count < CandidateScan::State::SpanCapacity) [[likely]]
            return false;
        s.pos = static_cast<std::size_t>(p - data);
        s.open = open;
        s.linkOpen = linkOpen;
        s.linkCarried = linkCarried;
        s.linkStart = linkStart;
        s.inChunk = inChunk;
        s.openAfterChunk = openAfterChunk;
        s.openers = openers;
        s.ends = ends;
        s.base = base;
        s.count = count;
        masks.save(s.masks);
        return true;
    };
    for (;;) {
        if (inChunk) {
            // The openers of the chunk not yet looked at: each candidate that
            // may be a link ends at the next quote or reset.
            while (openers != 0) {
                const auto o = static_cast<unsigned>(std::countr_zero(openers));
                openers &= openers - 1;
                const std::uint64_t after = ends & ~((std::uint64_t{2} << o) - 1);
                if (after == 0) {
                    linkOpen = true; // it goes on in the next chunk
                    linkStart = base + o + 1;
                    linkCarried = false;
                    openers = 0;
                    break;
                }
                if (add(base + o + 1, base + static_cast<std::size_t>(std::countr_zero(after)), false))
                    return;
            }
            inChunk = false;
            open = openAfterChunk;
        }
        for (; p != end; p += ChunkSize) {
            // Asking for the text 4 KiB ahead keeps it streaming in from memory
            // (a prefetch past the end of the text does no harm).
            __builtin_prefetch(
                reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + PrefetchDistance));
            const auto m = masks.template next<Http>(p);
            if (!linkOpen && m.fquote == 0) [[likely]] {
                // Nothing here can be a link: only whether a candidate is
                // open after the chunk matters.
                open = Masks::openAfter(m.quote, m.resets, open);
                continue;
            }
            base = static_cast<std::size_t>(p - data);
            const std::uint64_t parity = Masks::parity(m.quote);
            // Each position takes the quote parity at the last reset before it
            // (flipped when the chunk began inside a candidate): the resets at
            // parity 1 carry a 1 up to the next reset at parity 0.
            const std::uint64_t cleared = m.resets & ~parity, set = m.resets & parity, keep = ~cleared;
            const std::uint64_t held = (((keep + set) ^ keep) | set) & keep;
            const std::uint64_t beforeClear = ~cleared & (cleared - 1);
            const std::uint64_t inside = (held | (beforeClear & (0 - std::uint64_t{open}))) ^ parity;
            ends = m.quote | m.resets;
            openers = m.fquote & m.quote & inside;
            openAfterChunk = (inside >> 63) != 0;
            inChunk = true;
            p += ChunkSize;
            break;
        }
        if (!inChunk) break;
        if (linkOpen && ends != 0) {
            linkOpen = false;
            if (add(linkStart, base + static_cast<std::size_t>(std::countr_zero(ends)), linkCarried)) return;
        }
    }
    // After the chunks: where the scan stands, and a span that ends just after them.
    s.pos = s.end;
    s.inChunk = false;
    s.done = true;
    Cursor& c = s.cursor;
    std::size_t next = s.end;
    const std::uint64_t pending = masks.mp3Ends();
    if (pending != 0 && open) {
        // A ".mp3" in the open candidate ends just after the last chunk.
        const std::size_t at = next + static_cast<std::size_t>(std::countr_zero(pending));
        if (data[at] != '"') {
            open = false;
            if (linkOpen) {
                linkOpen = false;
                s.spans[count++] = Span{linkStart, at, linkCarried, isHref(data + at)};
            }
            next = at + 1;
        }
    }
    s.count = count;
    // A candidate open at the end began after the last quote (no reset came
    // after it, or it would be closed); with no quote it was carried in.
    c = Cursor{open, c.carried, linkOpen, c.candStart, next};
    if (open) {
        const void* q = memrchr(data, '"', s.end);
        if (q != nullptr) {
            c.carried = false;
            c.candStart = static_cast<std::size_t>(static_cast<const char*>(q) - data) + 1;
        }
    }
}

using StepFn = void (*)(CandidateScan::State&);

template <bool Http> __attribute__((flatten)) void plainStep(CandidateScan::State& s) {
    step<PlainMasks, Http>(s);
}
#ifdef WAVETRAP_X86
template <bool Http> __attribute__((flatten)) void sse2Step(CandidateScan::State& s) {
    step<Sse2Masks, Http>(s);
}
template <bool Http>
__attribute__((target("avx2,pclmul,bmi,bmi2,lzcnt,popcnt"), flatten)) void avx2Step(CandidateScan::State& s) {
    step<Avx2Masks, Http>(s);
}
template <bool Http>
__attribute__((target("avx512f,avx512bw,avx2,pclmul,bmi,bmi2,lzcnt,popcnt"), flatten)) void
avx512Step(CandidateScan::State& s) {
    step<Avx512Masks, Http>(s);
}
#endif

// The kernel's step without http links, and with them.
struct Steps {
    StepFn ftp, http;
};

Steps stepFor(ScanKernel k) {
#ifdef WAVETRAP_X86
    if (k == ScanKernel::Avx512) return {avx512Step<false>, avx512Step<true>};
    if (k == ScanKernel::Avx2) return {avx2Step<false>, avx2Step<true>};
    if (k == ScanKernel::Sse2) return {sse2Step<false>, sse2Step<true>};
#endif
    (void)k;
    return {plainStep<false>, plainStep<true>};
}

ScanKernel currentKernel = bestKernel();
Steps currentSteps = stepFor(currentKernel);

} // namespace

bool CandidateScan::refill() {
    if (state_.done) return false;
    state_.taken = state_.count = 0;
    (state_.httpLinks ? currentSteps.http : currentSteps.ftp)(state_);
    return state_.count != 0;
}

} // namespace linkscan

ScanKernel scanKernel() {
    return linkscan::currentKernel;
}

bool setScanKernel(ScanKernel k) {
#ifdef WAVETRAP_X86
    if (k == ScanKernel::Avx2 && !linkscan::hasAvx2()) return false;
    if (k == ScanKernel::Avx512 && !linkscan::hasAvx512()) return false;
#else
    if (k != ScanKernel::Plain) return false;
#endif
    linkscan::currentKernel = k;
    linkscan::currentSteps = linkscan::stepFor(k);
    return true;
}

} // namespace search
