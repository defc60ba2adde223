#include "search/link_extraction.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define WAVETRAP_X86 1
#endif

namespace search {
namespace {

inline char lowerAscii(char c) {
    return static_cast<char>(c | 0x20);
}

// The first position from p on that can matter inside a candidate: a double
// quote, the start of ".mp3" or of "href" (letters in any case). Near the end
// of the text every "." and "h"/"H" is reported (the caller checks them), so
// no position that matters is ever skipped.
inline std::size_t findEvent(const char* d, std::size_t p, std::size_t n) {
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i dot = _mm_set1_epi8('.'), m = _mm_set1_epi8('m'), pp = _mm_set1_epi8('p'),
                  three = _mm_set1_epi8('3');
    const __m128i h = _mm_set1_epi8('h'), r = _mm_set1_epi8('r'), e = _mm_set1_epi8('e'),
                  f = _mm_set1_epi8('f');
    while (p + 19 <= n) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p));
        const __m128i v1 =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p + 1)), caseBit);
        const __m128i v2 =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p + 2)), caseBit);
        const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p + 3));
        const __m128i l0 = _mm_or_si128(v0, caseBit);
        const __m128i mp3 = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, dot), _mm_cmpeq_epi8(v1, m)),
                                          _mm_and_si128(_mm_cmpeq_epi8(v2, pp), _mm_cmpeq_epi8(v3, three)));
        const __m128i href =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(l0, h), _mm_cmpeq_epi8(v1, r)),
                          _mm_and_si128(_mm_cmpeq_epi8(v2, e), _mm_cmpeq_epi8(_mm_or_si128(v3, caseBit), f)));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(mp3, href), _mm_cmpeq_epi8(v0, quote)));
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

// The scan looks at the text in chunks of 64 characters, each described by
// bit masks (bit i for the character at i):
//  quote:   a double quote;
//  special: a double quote followed by "f" or "F" (a candidate that may be a
//           link), or where ".mp3" or "href" may begin: "." followed by "m",
//           "h" followed by "r" (letters in any case; the scan checks the rest);
//  parity:  the parity of the quotes up to and including i.
// A chunk's masks need the character after it; its events need 8.
struct ChunkMasks {
    std::uint64_t quote, special, parity;
};
constexpr std::size_t ChunkSize = 64;
constexpr std::size_t ChunkLookahead = 8;
constexpr std::size_t ChunkBatch = 16; // chunks whose masks are built in one call

using MaskBuilder = void (*)(const char* d, std::size_t chunks, ChunkMasks* out);

void masksPlain(const char* d, std::size_t chunks, ChunkMasks* out) {
    for (std::size_t c = 0; c < chunks; ++c, d += ChunkSize) {
        std::uint64_t q = 0, sp = 0;
        for (std::size_t i = 0; i < ChunkSize; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << i;
            const char c0 = d[i], l1 = lowerAscii(d[i + 1]);
            if (c0 == '"') q |= bit;
            if ((c0 == '"' && l1 == 'f') || (c0 == '.' && l1 == 'm') || (lowerAscii(c0) == 'h' && l1 == 'r'))
                sp |= bit;
        }
        out[c] = ChunkMasks{q, sp, prefixXor(q)};
    }
}

#ifdef WAVETRAP_X86
void masksSse2(const char* d, std::size_t chunks, ChunkMasks* out) {
    const __m128i quote = _mm_set1_epi8('"'), caseBit = _mm_set1_epi8(0x20), dot = _mm_set1_epi8('.'),
                  m = _mm_set1_epi8('m'), h = _mm_set1_epi8('h'), r = _mm_set1_epi8('r'),
                  f = _mm_set1_epi8('f');
    for (std::size_t c = 0; c < chunks; ++c, d += ChunkSize) {
        std::uint64_t qm = 0, sm = 0;
        for (unsigned k = 0; k < ChunkSize; k += 16) {
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + k));
            const __m128i l1 =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + k + 1)), caseBit);
            const __m128i q = _mm_cmpeq_epi8(v0, quote);
            const __m128i sp = _mm_or_si128(
                _mm_or_si128(_mm_and_si128(q, _mm_cmpeq_epi8(l1, f)),
                             _mm_and_si128(_mm_cmpeq_epi8(v0, dot), _mm_cmpeq_epi8(l1, m))),
                _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v0, caseBit), h), _mm_cmpeq_epi8(l1, r)));
            qm |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(q))) << k;
            sm |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(sp))) << k;
        }
        out[c] = ChunkMasks{qm, sm, prefixXor(qm)};
    }
}

// With AVX2 comes carry-less multiplication: the parity of the quotes is one
// multiplication by all ones.
__attribute__((target("avx2,pclmul"))) void masksAvx2(const char* d, std::size_t chunks, ChunkMasks* out) {
    const __m256i quote = _mm256_set1_epi8('"'), caseBit = _mm256_set1_epi8(0x20),
                  dot = _mm256_set1_epi8('.'), m = _mm256_set1_epi8('m'), h = _mm256_set1_epi8('h'),
                  r = _mm256_set1_epi8('r'), f = _mm256_set1_epi8('f');
    const __m128i ones = _mm_set1_epi8(-1);
    for (std::size_t c = 0; c < chunks; ++c, d += ChunkSize) {
        std::uint64_t qm = 0, sm = 0;
        for (unsigned k = 0; k < ChunkSize; k += 32) {
            const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + k));
            const __m256i l1 =
                _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + k + 1)), caseBit);
            const __m256i q = _mm256_cmpeq_epi8(v0, quote);
            const __m256i sp = _mm256_or_si256(
                _mm256_or_si256(_mm256_and_si256(q, _mm256_cmpeq_epi8(l1, f)),
                                _mm256_and_si256(_mm256_cmpeq_epi8(v0, dot), _mm256_cmpeq_epi8(l1, m))),
                _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v0, caseBit), h),
                                 _mm256_cmpeq_epi8(l1, r)));
            qm |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(q))) << k;
            sm |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(sp))) << k;
        }
        const std::uint64_t parity = static_cast<std::uint64_t>(
            _mm_cvtsi128_si64(_mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(qm)), ones, 0)));
        out[c] = ChunkMasks{qm, sm, parity};
    }
}
#endif

MaskBuilder builderFor(ScanKernel k) {
#ifdef WAVETRAP_X86
    if (k == ScanKernel::Avx2) return masksAvx2;
    if (k == ScanKernel::Sse2) return masksSse2;
#endif
    (void)k;
    return masksPlain;
}

ScanKernel bestKernel() {
#ifdef WAVETRAP_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul")) return ScanKernel::Avx2;
    return ScanKernel::Sse2;
#else
    return ScanKernel::Plain;
#endif
}

ScanKernel currentKernel = bestKernel();
MaskBuilder buildMasks = builderFor(currentKernel);

// The open candidate ends without a link (or after its link was offered).
inline void dropCandidate(ScanState& st) {
    st.open = false;
    st.overlong = false;
    st.cand.clear();
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
    if (k == ScanKernel::Avx2 && !(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul")))
        return false;
#else
    if (k != ScanKernel::Plain) return false;
#endif
    currentKernel = k;
    buildMasks = builderFor(k);
    return true;
}

LinkExtractor::LinkExtractor(std::function<std::size_t()> linksHeld) : linksHeld_(std::move(linksHeld)) {}

bool LinkExtractor::stopsAtClose() const {
    return linksHeld_() == StopCount;
}

// Offers a closed candidate: the text data[from, to), after st.cand when the
// candidate began in an earlier block. Answers whether the scan must stop.
bool LinkExtractor::close(ScanState& st, const char* data, std::size_t from, std::size_t to, bool carried) {
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
            if (link.find('.') != std::string_view::npos) offer(link);
        }
    }
    dropCandidate(st);
    return stopsAtClose();
}

void LinkExtractor::offer(std::string_view link) {
    if (linksHeld_() >= TableLimit) return; // addlink would refuse it at once
    if (link.find('%') == std::string_view::npos) {
        if (link.find(".mp3") == std::string_view::npos || hasControl(link)) return;
        linkFound(std::string(link));
        return;
    }
    const std::string decoded = percentDecode(link);
    // A control character (a line break above all) would later forge lines
    // in the settings files and macro scripts: such a link is refused.
    if (decoded.find(".mp3") == std::string::npos || hasControl(decoded)) return;
    linkFound(decoded);
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
    if (len >= ChunkSize + ChunkLookahead) {
        // Chunk by chunk while every event has the text it needs after it.
        // A chunk where no event falls inside a candidate and no candidate that
        // may be a link ends is passed by its quote count alone.
        bool openMayLink = open && !st.overlong && lowerAscii(st.cand.empty() ? data[0] : st.cand[0]) == 'f';
        // The next close stops the scan (the table holds 149 links); a close
        // that does not stop it leaves the count elsewhere.
        bool stopArmed = stopsAtClose();
        const std::size_t chunks = (len - ChunkLookahead) / ChunkSize;
        ChunkMasks batch[ChunkBatch];
        for (std::size_t c0 = 0; c0 < chunks; c0 += ChunkBatch) {
            const std::size_t nb = std::min(ChunkBatch, chunks - c0);
            buildMasks(data + c0 * ChunkSize, nb, batch);
            for (std::size_t k = 0; k < nb; ++k) {
                const std::size_t b = (c0 + k) * ChunkSize;
                const ChunkMasks& m = batch[k];
                std::uint64_t q = m.quote, sp = m.special, parity = m.parity;
                std::uint64_t live = ~std::uint64_t{0};
                if (p > b) { // an event in the chunk before took characters of this one
                    if (p >= b + ChunkSize) continue;
                    live <<= p - b;
                    q &= live;
                    sp &= live;
                    parity = prefixXor(q);
                }
                if (!open && q == 0) continue;
                // Where each position stands if only the quotes counted: a
                // quote inside opens a candidate, one outside closes it.
                const std::uint64_t inside = open ? ~parity : parity;
                if ((sp & inside) == 0 && !(open && openMayLink && q != 0) && !stopArmed) {
                    // No event inside a candidate, no candidate that may be a
                    // link opens or closes: only the quote count matters.
                    if (std::popcount(q) & 1) open = !open;
                    const std::uint64_t openers = q & inside;
                    if (open && openers != 0) {
                        candStart = b + static_cast<std::size_t>(63 - std::countl_zero(openers)) + 1;
                        carried = false;
                        st.overlong = false;
                        openMayLink = false;
                    }
                    p = b + ChunkSize;
                    continue;
                }
                // Event by event.
                for (;;) {
                    const std::uint64_t next = (open ? m.quote | m.special : m.quote) & live;
                    if (next == 0) break;
                    const std::size_t e = b + static_cast<std::size_t>(std::countr_zero(next));
                    if (!open) {
                        open = true;
                        carried = false;
                        st.overlong = false;
                        candStart = e + 1;
                        openMayLink = lowerAscii(data[e + 1]) == 'f';
                        p = e + 1;
                    } else if (data[e] == '"') {
                        // The closing quote. A candidate that cannot be a link
                        // needs no offer, only the stop check.
                        open = false;
                        if (openMayLink || carried || stopArmed) {
                            if (close(st, data, candStart, e, carried)) return Scan::Stopped;
                            stopArmed = false;
                        }
                        p = e + 1;
                    } else if (data[e] == '.') {
                        if (matchAt(data, e + 1, len, "mp3", 3, final) != Match::Yes) {
                            p = e + 1;
                        } else {
                            // ".mp3": the candidate closes at the character after
                            // it, unless "href" begins there, which drops it.
                            const std::size_t at = e + 4;
                            open = false;
                            if (matchAt(data, at, len, "href", 4, final) == Match::Yes) {
                                dropCandidate(st);
                            } else if (openMayLink || carried || stopArmed) {
                                if (close(st, data, candStart, at, carried)) return Scan::Stopped;
                                stopArmed = false;
                            }
                            p = at + 1;
                        }
                    } else { // "h" or "H"
                        if (matchAt(data, e + 1, len, "ref", 3, final) == Match::Yes) {
                            open = false;
                            dropCandidate(st);
                        }
                        p = e + 1;
                    }
                    if (p >= b + ChunkSize) break;
                    live = ~std::uint64_t{0} << (p - b);
                }
            }
        }
        p = std::max(p, chunks * ChunkSize); // the chunks hold nothing more
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
