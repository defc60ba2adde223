#include "search/link_extraction.h"

#include "search/link_scan.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace search {
namespace {

using linkscan::lowerAscii;

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

// Whether a link begins with "http://" or "https://" (the scheme in any case).
// (Out of line: the close of an ftp link stays small.)
__attribute__((noinline)) bool isHttpUrl(std::string_view link) {
    auto startsWith = [&](std::string_view prefix) {
        if (link.size() < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i)
            if ((prefix[i] >= 'a' && prefix[i] <= 'z' ? lowerAscii(link[i]) : link[i]) != prefix[i])
                return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
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

LinkExtractor::LinkExtractor(std::function<std::size_t()> linksHeld) : linksHeld_(std::move(linksHeld)) {}

bool LinkExtractor::stopsAtClose() const {
    return linksHeld_() == StopCount;
}

// Offers a closed candidate: the text data[from, to), after st.cand when the
// candidate began in an earlier block. Answers whether the scan must stop.
// (Kept out of line: the scan's loops stay small.)
__attribute__((noinline)) bool LinkExtractor::close(ScanState& st, const char* data, std::size_t from,
                                                    std::size_t to, bool carried) {
    std::size_t held = linksHeld_();
    const std::size_t len = (carried ? st.cand.size() : 0) + (to - from);
    if (len > 0 && len <= MaxLinkLength && !(carried && st.overlong)) {
        const char first = carried && !st.cand.empty() ? st.cand[0] : data[from];
        const bool ftp = first == 'f' || first == 'F';
        if (ftp || (http_ && lowerAscii(first) == 'h')) {
            std::string_view link;
            if (carried && !st.cand.empty()) {
                linkBuf_.assign(st.cand);
                linkBuf_.append(data + from, to - from);
                link = linkBuf_;
            } else {
                link = std::string_view(data + from, to - from);
            }
            // With a full table addlink would refuse it at once.
            if ((ftp || isHttpUrl(link)) && held < TableLimit && link.find('.') != std::string_view::npos &&
                offer(link))
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
    using linkscan::ChunkLookahead;
    using linkscan::ChunkSize;
    if (len >= ChunkSize + ChunkLookahead && !stopsAtClose()) {
        linkscan::Cursor at;
        at.open = open;
        at.carried = carried;
        const char first = lowerAscii(st.cand.empty() ? data[0] : st.cand[0]);
        at.linkOpen = open && !st.overlong && (first == 'f' || (http_ && first == 'h'));
        linkscan::CandidateScan chunks(data, (len - ChunkLookahead) / ChunkSize, at, http_);
        for (linkscan::Span span{}; chunks.next(span);) {
            if (span.dropped) {
                dropCandidate(st); // "href" ended it
            } else if (close(st, data, span.from, span.to, span.carried)) {
                return Scan::Stopped;
            }
        }
        open = chunks.cursor().open;
        carried = chunks.cursor().carried;
        candStart = chunks.cursor().candStart;
        p = chunks.cursor().next;
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
        const std::size_t e = linkscan::nextEvent(data, p, len);
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

bool LinkExtractor::skipsFullTable(ScanState& st) {
    if (linksHeld_() < TableLimit) return false;
    // A full table takes no link: the block need not be looked at. The page's
    // state goes, as at a stop; should the table be emptied meanwhile, the scan
    // goes on from outside any candidate.
    st.reset();
    scanned();
    return true;
}

void LinkExtractor::compileClick(std::string_view block, ScanState& st) {
    ++lc_;
    if (skipsFullTable(st)) return;
    askHttpLinks();
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
        askHttpLinks();
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
    if (skipsFullTable(st)) return;
    askHttpLinks();
    std::size_t consumed = 0;
    if (scan(page.data(), page.size(), true, st, consumed) == Scan::Done) scanned();
}

} // namespace search
