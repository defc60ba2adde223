#pragma once
// Finds the links to MP3 files on FTP sites (and, when asked, on web sites) in
// the text of a result page and hands each, percent-decoded, to its listeners
// (the program wires them to the result table's addlink).
//
// A candidate link opens at a double quote and closes at the next double
// quote or right after ".mp3" (any case), whichever comes first; the letters
// HREF (any case) drop an open candidate. A closed candidate is a link when it
// begins with "f" or "F" (or, with http links on, with "http://" or "https://"
// in any case) and holds a "."; its decoded text must hold ".mp3"
// (lower case) and no control character. The link is always the text between
// the opening quote and the closing position, that character excluded, also
// when the closing position is the last character of the page.
//
// A page may arrive in blocks of any size: the ScanState of the page carries
// what is unfinished (an open candidate, and the few characters whose meaning
// depends on what follows, such as ".mp3h" at the end of a block), so a page
// yields the same links however it was cut. A candidate longer than
// MaxLinkLength yields no link, but its closing mark still closes it, so the
// quotes after it pair up as they would otherwise.
//
// Where candidates end is found by the vector kernels of link_scan.h; this
// file holds the rules for what a candidate yields, and the plain scan of the
// last characters of a block.

#include "platform/signal.h"
#include "search/link_scan.h" // ScanKernel: which instructions find the candidates

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace search {

// What one page's scan carries from one block to the next.
struct ScanState {
    bool open = false;     // a candidate is open
    bool overlong = false; // ... and has grown past MaxLinkLength: it yields no link
    std::string cand;      // its text so far (without the opening quote)
    std::string carry;     // the last few characters whose meaning depends on what follows

    void reset() { *this = ScanState{}; }
};

// Percent decoding of a link: each "%" and the (up to) two characters after it
// become the character whose code they give in hexadecimal (characters that
// are not hexadecimal digits count 0; a "%" at the very end gives code 0); a
// "%" produced this way is decoded again.
std::string percentDecode(std::string_view link);

class LinkExtractor {
public:
    // A candidate longer than this yields no link.
    static constexpr std::size_t MaxLinkLength = 4096;
    // The scan of a block stops when the table holds this many links.
    static constexpr std::size_t StopCount = 149;
    // The table takes no more links once it holds this many.
    static constexpr std::size_t TableLimit = 150;

    // linksHeld answers how many links the table holds now.
    explicit LinkExtractor(std::function<std::size_t()> linksHeld);

    // Each accepted link, percent-decoded (offered only while the table holds
    // fewer than 150 links).
    platform::Signal<const std::string&> linkFound;
    // A scan ended without reaching the stop count: the table is to be shown.
    platform::Signal<> scanned;

    // Whether quoted http:// and https:// links are offered too; asked once
    // per block. Without it (the default) they are not.
    void offerHttpLinks(std::function<bool()> on) { httpLinks_ = std::move(on); }

    // Scans one block of a page; st belongs to that page and starts empty.
    // Hands the links found to linkFound; then announces scanned unless the
    // scan stopped because the table reached 149 links. With a full table
    // (150 links) the block is not looked at: st is emptied, as at a stop,
    // and scanned is announced.
    void compileClick(std::string_view block, ScanState& st);
    // The page is complete: settles what waited for more text (a link that
    // ends with the page's last characters) and empties st.
    void endPage(ScanState& st);
    // A whole page in one block.
    void compileClick(std::string_view page);

    // Number of blocks scanned since start.
    std::uint64_t lc() const { return lc_; }

private:
    enum class Scan { Done, Stopped };
    Scan scan(const char* data, std::size_t len, bool final, ScanState& st, std::size_t& consumed);
    bool stopsAtClose() const;
    bool skipsFullTable(ScanState& st); // whether the table is full (the block is then done)
    bool close(ScanState& st, const char* data, std::size_t from, std::size_t to, bool carried);
    bool offer(std::string_view link); // whether linkFound fired
    void askHttpLinks() { http_ = httpLinks_ && httpLinks_(); }

    std::function<std::size_t()> linksHeld_;
    std::function<bool()> httpLinks_;
    bool http_ = false; // http links are offered in the block being scanned
    std::uint64_t lc_ = 0;
    std::string linkBuf_;
};

} // namespace search
