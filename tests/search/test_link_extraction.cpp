// Link recognition in result pages: one row per quirk of the rules, the
// mended faults (links cut by blocks, zero bytes, control characters, the
// bound), and the scanner checked against a plain position-by-position scan.

#include "extraction_rig.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using platform::StringList;

namespace {

using Table = searchtest::ExtractionRig;

std::string s(const char* text, std::size_t n) {
    return std::string(text, n);
}

// The links a page yields when it is handed over in one block.
StringList linksOf(const std::string& page, bool http = false) {
    Table t;
    t.httpLinks = http;
    t.extractor.compileClick(page);
    return t.table.linklist;
}

// The links a page yields when it arrives cut at the given positions.
StringList linksInBlocks(const std::string& page, const std::vector<std::size_t>& cuts, bool http = false) {
    Table t;
    t.httpLinks = http;
    search::ScanState st;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        t.extractor.compileClick(std::string_view(page).substr(from, cut - from), st);
        from = cut;
    }
    t.extractor.compileClick(std::string_view(page).substr(from), st);
    t.extractor.endPage(st);
    return t.table.linklist;
}

// links: with http links off; withHttp: with them on, when that differs.
struct LinkRow {
    const char* what;
    std::string page;
    StringList links;
    std::optional<StringList> withHttp = std::nullopt;

    const StringList& expected(bool http) const { return http && withHttp ? *withHttp : links; }
};

const std::string longPath(std::size_t n) {
    return std::string(n, 'a');
}

std::vector<LinkRow> linkRows() {
    return {
        {"decoded space", "<a href=\"ftp://site/pub/a%20b.mp3\">", {"ftp://site/pub/a b.mp3"}},
        {"http link", "<a href=\"http://site/x.mp3\">", {}, {{"http://site/x.mp3"}}},
        {"https link, scheme in any case",
         "\"https://s/a.mp3\" \"HTTP://s/b.mp3\" \"HttpS://[::1]:8080/c.mp3\"",
         {},
         {{"https://s/a.mp3", "HTTP://s/b.mp3", "HttpS://[::1]:8080/c.mp3"}}},
        {"http links to pages", "<a href=\"http://engine/next.html\"> \"https://engine/?q=mp3\"", {}, {{}}},
        {"http link cut after .mp3 as ftp links are",
         "\"http://h/listen?file=a.mp3&q=x\" \"ftp://s/b.mp3\"",
         {},
         {{"http://h/listen?file=a.mp3"}}},
        {"not http:// or https://",
         "\"h.mp3\" \"http:/s/a.mp3\" \"httpx://s/b.mp3\" \"https:s/c.mp3\" \"htt://s/d.mp3\" \"ht.mp3\"",
         {},
         {{}}},
        {"http rules as for ftp",
         "\"http://s/A.MP3\" \"http://s/a%0Ab.mp3\" \"http://s/a%20b.mp3\" \"http:///x.mp3\" "
         "\"http://s/a.mp3\" \"http://s/a.mp3\" \"ftp://s/a.mp3\" \"http://s/href/b.mp3\" \"http://s/c.mp3\"",
         {"ftp://s/a.mp3"},
         {{"http://s/a b.mp3", "http://s/a.mp3", "ftp://s/a.mp3"}}},
        {"relative link", "<a href=\"songs/x.mp3\">", {}},
        {"capital F", "<a href=\"FTP://site/x.mp3\">", {"FTP://site/x.mp3"}},
        {"capital .MP3 closes but is dropped", "<a href=\"ftp://site/SONG.MP3\">", {}},
        {"capital .MP3 then lower in the same link",
         "\"ftp://site/A.MP3\" \"ftp://site/b.mp3\"",
         {"ftp://site/b.mp3"}},
        {"no closing quote, 3 last", "x \"ftp://site/a.mp3", {}},
        {"href value and alt value",
         "<a href=\"ftp://s/a.mp3\" alt=\"ftp://s/b.mp3\">",
         {"ftp://s/a.mp3", "ftp://s/b.mp3"}},
        {"cut after the first .mp3; its quote opens a new candidate",
         "\"ftp://site/a.mp3s/b.mp3\" x \"ftp://s/c.mp3\"",
         {"ftp://site/a.mp3"}},
        {"href inside a link", "\"ftp://site/href/a.mp3\"", {}},
        {"HrEf in any case", "\"ftp://site/HrEf/a.mp3\"", {}},
        {"href drops, the next quote opens", "\"ftp://s/hREf\"ftp://s/b.mp3\"", {"ftp://s/b.mp3"}},
        {"href right after .mp3 wins over the close", "\"ftp://s/a.mp3href\" \"x\"", {}},
        {"h after .mp3 that is not href", "\"ftp://s/a.mp3hrex\"", {"ftp://s/a.mp3"}},
        {"href outside any candidate", "href href=\"ftp://s/a.mp3\"", {"ftp://s/a.mp3"}},
        {"closing quote as the last character", "\"ftp://s/a.mp3\"", {"ftp://s/a.mp3"}},
        {"close after .mp3 at the last character", "\"ftp://s/a.mp3x", {"ftp://s/a.mp3"}},
        {"a quote right after .mp3 closes, not opens", "\"ftp://s/a.mp3\"ftp://s/b.mp3\"", {"ftp://s/a.mp3"}},
        {"no dot", "\"ftp:mp3\"", {}},
        {"f without ftp", "\"f.mp3\"", {"f.mp3"}},
        {".mp3 only after decoding", "\"ftp://s.x/a%2Emp3\"", {"ftp://s.x/a.mp3"}},
        {"a dot only after decoding", "\"ftp://s/a%2Emp3\"", {}},
        {"no .mp3 after decoding", "\"ftp://s/a%4.mp3\"", {}},
        {"a % made by decoding is decoded again", "\"ftp://s/a%2541.mp3\"", {"ftp://s/aA.mp3"}},
        {"zero byte between links",
         s("\"ftp://s/a.mp3\" \0 \"ftp://s/b.mp3\"", 33),
         {"ftp://s/a.mp3", "ftp://s/b.mp3"}},
        {"zero byte inside a link", s("\"ftp://s/a\0b.mp3\" \"ftp://s/c.mp3\"", 33), {"ftp://s/c.mp3"}},
        {"encoded line break", "\"ftp://s/a%0Ab.mp3\"", {}},
        {"encoded carriage return", "\"ftp://s/a%0db.mp3\"", {}},
        {"tab", "\"ftp://s/a\tb.mp3\"", {}},
        {"raw line break", "\"ftp://s/a\nb.mp3\"", {}},
        {"encoded delete", "\"ftp://s/a%7Fb.mp3\"", {}},
        {"encoded zero", "\"ftp://s/a%00b.mp3\"", {}},
        {"% at the very end gives code 0", "\"ftp://s.x/a%2Emp3%\"", {}},
        {"8-bit characters are kept",
         "\"ftp://s/caf\xe9.mp3\" \"ftp://s/%e9t%C3%A9.mp3\"",
         {"ftp://s/caf\xe9.mp3", "ftp://s/\xe9t\xc3\xa9.mp3"}},
        {"4096 characters",
         "\"ftp://s/" + longPath(4096 - 12) + ".mp3\"",
         {"ftp://s/" + longPath(4096 - 12) + ".mp3"}},
        {"4097 characters",
         "\"ftp://s/" + longPath(4097 - 12) + ".mp3\" \"x\" \"ftp://s/b.mp3\"",
         {"ftp://s/b.mp3"}},
        {"the same URL twice", "\"ftp://s/a.mp3\"\"ftp://s/a.mp3\"", {"ftp://s/a.mp3"}},
        {"no site", "\"ftp:///a.mp3\"", {}},
    };
}

std::vector<search::ScanKernel> kernels();

TEST(LinkExtraction, RecognisesLinksOnePerQuirk) {
    for (const search::ScanKernel kernel : kernels()) {
        ASSERT_TRUE(search::setScanKernel(kernel));
        for (const bool http : {false, true}) {
            for (const LinkRow& r : linkRows()) {
                SCOPED_TRACE(std::string(r.what) + (http ? ", http links on" : ""));
                EXPECT_EQ(linksOf(r.page, http), r.expected(http));
                // Far enough in for the chunked scan to see it.
                EXPECT_EQ(linksOf(std::string(130, ' ') + r.page, http), r.expected(http));
            }
        }
    }
}

// However the network cuts a page, it yields the same links.
TEST(LinkExtraction, SameLinksAtEveryBlockSize) {
    std::string page;
    for (const LinkRow& r : linkRows())
        if (r.page.size() < 200) page += r.page + " href ";
    for (const bool http : {false, true}) {
        const StringList whole = linksOf(page, http);
        ASSERT_GE(whole.size(), http ? 15u : 10u);
        for (std::size_t size = 1; size <= page.size(); ++size) {
            std::vector<std::size_t> cuts;
            for (std::size_t c = size; c < page.size(); c += size)
                cuts.push_back(c);
            ASSERT_EQ(linksInBlocks(page, cuts, http), whole) << "block size " << size << " http " << http;
        }
    }
}

TEST(LinkExtraction, EveryRowAtEveryCut) {
    for (const bool http : {false, true}) {
        for (const LinkRow& r : linkRows()) {
            if (r.page.size() > 200) continue;
            SCOPED_TRACE(std::string(r.what) + (http ? ", http links on" : ""));
            for (std::size_t a = 0; a <= r.page.size(); ++a)
                for (std::size_t b = a; b <= r.page.size(); b += 3)
                    ASSERT_EQ(linksInBlocks(r.page, {a, b}, http), r.expected(http)) << a << "," << b;
        }
    }
}

TEST(LinkExtraction, EmptyBlocksChangeNothing) {
    const std::string page = "\"ftp://s/a.mp3hr\"";
    const StringList whole = linksOf(page);
    ASSERT_EQ(whole, StringList{"ftp://s/a.mp3"});
    EXPECT_EQ(linksInBlocks(page, {0, 0, 14, 14, 15, 15, 15, 16}), whole);
}

TEST(LinkExtraction, AnOverlongCandidateAcrossBlocksYieldsNothingButStillCloses) {
    const std::string page = "\"ftp://s/" + longPath(9000) + ".mp3\" \"x\" \"ftp://s/b.mp3\"";
    std::vector<std::size_t> cuts;
    for (std::size_t c = 100; c < page.size(); c += 100)
        cuts.push_back(c);
    EXPECT_EQ(linksInBlocks(page, cuts), StringList{"ftp://s/b.mp3"});
    EXPECT_EQ(linksOf(page), StringList{"ftp://s/b.mp3"});
}

TEST(LinkExtraction, PageEndingInsideACandidateLeavesNothingForTheNext) {
    Table t;
    search::ScanState st;
    t.extractor.compileClick("\"ftp://s/a", st);
    t.extractor.endPage(st);
    t.extractor.compileClick(".mp3\" \"ftp://s/b.mp3\"", st); // a new page: its first quote opens
    t.extractor.endPage(st);
    EXPECT_EQ(t.table.linklist, StringList{});
    EXPECT_EQ(t.extractor.lc(), 2u);
}

std::string numberedLinks(int from, int to) {
    std::string page;
    for (int i = from; i < to; ++i)
        page += "<a href=\"ftp://s.example/song" + std::to_string(i) + ".mp3\">x</a>\n";
    return page;
}

TEST(LinkExtraction, StopsTheBlockWhenTheTableReaches149Links) {
    Table t;
    int hidden = 0, shown = 0;
    t.table.List.visibilityChanged.connect([&](bool on) { ++(on ? shown : hidden); });
    t.table.List.SetVisible(false);
    t.extractor.compileClick(numberedLinks(0, 200));
    EXPECT_EQ(t.table.linklist.size(), 149u);
    EXPECT_FALSE(t.table.List.Visible()); // the stopped scan does not show the table
    EXPECT_EQ(shown, 0);

    // The next block: a rejected candidate with 149 links stops again at once.
    t.extractor.compileClick("\"x\"" + numberedLinks(200, 210));
    EXPECT_EQ(t.table.linklist.size(), 149u);
    EXPECT_FALSE(t.table.List.Visible());

    // An accepted one makes 150: no more stops, the table is full and shown.
    t.extractor.compileClick(numberedLinks(300, 310));
    EXPECT_EQ(t.table.linklist.size(), 150u);
    EXPECT_EQ(t.table.linklist.back(), "ftp://s.example/song300.mp3");
    EXPECT_TRUE(t.table.List.Visible());
    EXPECT_EQ(shown, 1);
}

TEST(LinkExtraction, StopKeepsNothingOfTheStoppedBlockInTheState) {
    Table t;
    search::ScanState st;
    t.extractor.compileClick(numberedLinks(0, 149) + "\"ftp://s.example/cut", st);
    EXPECT_EQ(t.table.linklist.size(), 149u);
    EXPECT_FALSE(st.open);
    EXPECT_TRUE(st.carry.empty());
}

TEST(LinkExtraction, AFullTableSkipsBlocksUntilItIsEmptied) {
    Table t;
    search::ScanState st;
    t.extractor.compileClick(numberedLinks(0, 149));
    t.extractor.compileClick(numberedLinks(149, 150));
    ASSERT_EQ(t.table.linklist.size(), 150u);
    t.table.List.SetVisible(false);
    // Full: a candidate that opens here is not followed, and the table is shown.
    const std::uint64_t before = t.extractor.lc();
    t.extractor.compileClick(numberedLinks(150, 160) + "\"ftp://s.example/open", st);
    EXPECT_FALSE(st.open);
    EXPECT_EQ(t.extractor.lc(), before + 1);
    EXPECT_TRUE(t.table.List.Visible());
    // Emptied during the search: the next blocks of the page yield their links.
    t.table.ClearList1Click();
    t.extractor.compileClick(numberedLinks(160, 162), st);
    t.extractor.compileClick("x" + numberedLinks(162, 163), st);
    t.extractor.endPage(st);
    EXPECT_EQ(t.table.linklist, StringList({"ftp://s.example/song160.mp3", "ftp://s.example/song161.mp3",
                                            "ftp://s.example/song162.mp3"}));
}

struct DecodeRow {
    std::string in, out;
};

TEST(LinkExtraction, PercentDecoding) {
    const DecodeRow rows[] = {
        {"a%20b", "a b"},
        {"%41%42", "AB"},
        {"%4a%4A", "JJ"},
        {"%2541", "A"},      // the "%" made by the first step is decoded again
        {"%252541", "A"},    // ... as often as it takes
        {"%4", "\x04"},      // one character left: weight 1
        {"x%", s("x\0", 2)}, // none left: code 0
        {"%zz", s("\0", 1)}, // not hexadecimal: counts 0
        {"%g1", "\x01"},
        {"%1g", "\x10"},
        {"%%41", "\x04"
                 "1"},
        {"no escapes", "no escapes"},
        {"%e9", "\xe9"},
    };
    for (const DecodeRow& r : rows)
        EXPECT_EQ(search::percentDecode(r.in), r.out) << r.in;
}

// ---- the scanner against a plain position-by-position scan of the whole page ----

std::string referenceDecode(std::string l) {
    auto val = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return 0;
    };
    for (std::size_t k; (k = l.find('%')) != std::string::npos;) {
        const std::string digits = l.substr(k + 1, 2);
        int v = 0, w = 1;
        for (std::size_t i = digits.size(); i-- > 0; w *= 16)
            v += val(digits[i]) * w;
        l.replace(k, 1 + digits.size(), 1, static_cast<char>(v));
    }
    return l;
}

// With http, candidates that begin with "http://" or "https://" (any case) count as well.
StringList referenceLinks(const std::string& t, bool http = false) {
    std::string u = t;
    for (char& c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    StringList out;
    std::size_t a = 0; // position from 1 of the opening quote, 0 for none
    for (std::size_t p = 1; p <= t.size(); ++p) {
        if (u.compare(p - 1, 4, "HREF") == 0 && p + 3 <= t.size()) a = 0;
        const bool m = p <= 4 ? u.compare(0, 4, ".MP3") == 0 : u.compare(p - 5, 4, ".MP3") == 0;
        if (!(m && a != 0) && t[p - 1] != '"') continue;
        if (a == 0) {
            a = p;
            continue;
        }
        const std::string l = t.substr(a, p - 1 - a);
        const std::string scheme = u.substr(a, 8);
        const bool web = http && (scheme.rfind("HTTP://", 0) == 0 || scheme == "HTTPS://");
        if (!l.empty() && l.size() <= 4096 && (l[0] == 'f' || l[0] == 'F' || web) &&
            l.find('.') != std::string::npos) {
            const std::string d = referenceDecode(l);
            bool control = false;
            for (unsigned char c : d)
                control = control || c < 32 || c == 127;
            if (d.find(".mp3") != std::string::npos && !control) out.push_back(d);
        }
        a = 0;
    }
    return out;
}

StringList throughTable(const StringList& links) {
    Table t;
    for (const std::string& l : links)
        t.table.addlink(l);
    return t.table.linklist;
}

std::string randomPage(std::mt19937& gen, std::size_t tokens) {
    static const std::vector<std::string> parts = {
        "\"",
        "\"",
        "\"",
        "ftp://s/",
        "FTP://t/",
        "f",
        "href",
        "HREF",
        "hReF",
        "h",
        "hr",
        "hre",
        "H",
        ".mp3",
        ".MP3",
        ".mP3",
        ".mp",
        ".",
        "%",
        "%2",
        "%25",
        "%0a",
        "%2E",
        "%41",
        std::string(1, '\0'),
        "x",
        "/",
        "a",
        "http://h/",
        "HTTPS://h/",
        "\"ht",
        "\"https://h.x/a.mp3",
        " ",
        "\n",
        "=",
        "mp3",
        "3",
        "\xe9",
        "\"ftp://s.x/a.mp3",
        "\"ftp://s/",
        "\"f.",
        "a.mp3\"",
        // Stretches whose chunks the scan passes by their quotes alone.
        std::string(70, 'x'),
        " alt=\"http://h/p.html\" b=\"c\" ",
    };
    std::string page;
    for (std::size_t i = 0; i < tokens; ++i)
        page += parts[gen() % parts.size()];
    return page;
}

// Every kernel the machine has, the chosen one last (it stays in force).
std::vector<search::ScanKernel> kernels() {
    const search::ScanKernel chosen = search::scanKernel();
    std::vector<search::ScanKernel> all;
    for (auto k : {search::ScanKernel::Plain, search::ScanKernel::Sse2, search::ScanKernel::Avx2,
                   search::ScanKernel::Avx512})
        if (k != chosen && search::setScanKernel(k)) all.push_back(k);
    all.push_back(chosen);
    return all;
}

TEST(LinkExtraction, AgreesWithAPlainScanOnRandomPages) {
    for (const search::ScanKernel kernel : kernels()) {
        ASSERT_TRUE(search::setScanKernel(kernel));
        SCOPED_TRACE(static_cast<int>(kernel));
        std::mt19937 gen(2026);
        std::size_t found = 0;
        for (int round = 0; round < 1000; ++round) {
            const bool http = round % 2 == 1;
            // Short pages, and long ones that the chunked scan sees whole and cut
            // into blocks of every size from a few characters to several chunks.
            const std::string page = randomPage(gen, round % 10 == 0 ? 200 + gen() % 1500 : 5 + gen() % 80);
            const StringList want = throughTable(referenceLinks(page, http));
            found += want.size();
            ASSERT_EQ(linksOf(page, http), want) << http << testing::PrintToString(page);
            const std::size_t step = round % 3 == 0 ? 9 : round % 3 == 1 ? 150 : 700;
            std::vector<std::size_t> cuts;
            for (std::size_t c = gen() % step; c < page.size(); c += 1 + gen() % step)
                cuts.push_back(c);
            ASSERT_EQ(linksInBlocks(page, cuts, http), want) << http << testing::PrintToString(page);
        }
        EXPECT_GT(found, 200u); // the pages do hold links
    }
}

TEST(LinkExtraction, BlocksDenseWithCandidatesAgreeWithAPlainScan) {
    // More candidates that may be links in one block than the chunk scan
    // hands out at a time: it stops and goes on, often in the middle of a
    // chunk. The links differ (the table keeps one of each).
    const char* const pieces[] = {"\"fa\" ",
                                  "\"F\"",
                                  "\"ftp://h/#.mp3\" ",
                                  "\"fb#.mp3x",
                                  "\"fhref\"",
                                  "\"f.MP3\"",
                                  "\"g\" ",
                                  "href",
                                  "\"ftp://h/%41#.mp3",
                                  "\"http://h/#.mp3\"",
                                  "\"Https://h/#.html\" ",
                                  "\"ht#.mp3\""};
    const std::size_t spans = 3 * search::linkscan::CandidateScan::State::SpanCapacity;
    for (const search::ScanKernel kernel : kernels()) {
        ASSERT_TRUE(search::setScanKernel(kernel));
        SCOPED_TRACE(static_cast<int>(kernel));
        std::mt19937 gen(19);
        for (int round = 0; round < 20; ++round) {
            const bool http = round % 2 == 1;
            std::string page;
            for (std::size_t i = 0; i < spans; ++i) {
                std::string piece = pieces[gen() % std::size(pieces)];
                if (const auto at = piece.find('#'); at != std::string::npos)
                    piece.replace(at, 1, std::to_string(i));
                page += piece;
            }
            const StringList want = throughTable(referenceLinks(page, http));
            EXPECT_GT(want.size(), 40u);
            ASSERT_EQ(linksOf(page, http), want) << page;
            ASSERT_EQ(linksInBlocks(page, {page.size() / 3, page.size() / 3 + 1000}, http), want) << page;
        }
    }
}

// Every link offered, in order, for a page whole (no cuts) or in blocks.
StringList offered(const std::string& page, const std::vector<std::size_t>& cuts, bool http) {
    StringList out;
    search::LinkExtractor x([&] { return out.size(); });
    x.offerHttpLinks([http] { return http; });
    x.linkFound.connect([&](const std::string& link) { out.push_back(link); });
    if (cuts.empty()) {
        x.compileClick(page);
        return out;
    }
    search::ScanState st;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        x.compileClick(std::string_view(page).substr(from, cut - from), st);
        from = cut;
    }
    x.compileClick(std::string_view(page).substr(from), st);
    x.endPage(st);
    return out;
}

// The chunked scan carries state from one 64-character chunk to the next and
// hands the last few characters to the plain scan: every way a candidate can
// end, placed at every offset around those edges (after nothing, after quotes
// of either parity, after a link), agrees with the plain scan, whole and cut
// into blocks.
TEST(LinkExtraction, CloseMarksAtEveryOffsetAroundChunkEdges) {
    const std::string marks[] = {
        "\"ftp://s/a.mp3\" ",
        "\"ftp://s/a.mp3x\"",
        "\"ftp://s/a.mp3href\"\"ftp://s/b.mp3\"",
        "\"ftp://s/a.mp3.mp3\"",
        "\"ftp://s/a.Mp3\"f.mp3\"",
        "\"http://h/a.mp3\"ftp://s/c.mp3\"",
        "\"hTTps://h/a.mp3x\"http://s/c.mp3\"",
        "\"F://s/hReF/d.mp3\"ftp://s/e.mp3\"",
        "x.mp3\"ftp://s/g.mp3\"",
        "\"ftp://s/a.mP3\"\"f.mp3h",
        "\"" + std::string(70, 'y') + "\"",
    };
    const std::vector<search::ScanKernel> all = kernels();
    std::size_t found = 0;
    for (const std::string& mark : marks) {
        for (std::size_t lead = 0; lead < 140; ++lead) {
            for (const int fill : {0, 1, 2}) {
                std::string page;
                for (std::size_t i = 0; i < lead; ++i)
                    page += fill == 1 && i % 5 == 0 ? '"' : ' ';
                if (fill == 2 && lead >= 9) page.replace(1, 7, "\"f.mp3\"");
                for (const std::size_t tail : {0, 70}) {
                    const std::string text = page + mark + std::string(tail, ' ');
                    for (const bool http : {false, true}) {
                        const StringList want = referenceLinks(text, http);
                        found += want.size();
                        for (const search::ScanKernel kernel : all) {
                            ASSERT_TRUE(search::setScanKernel(kernel));
                            ASSERT_EQ(offered(text, {}, http), want)
                                << static_cast<int>(kernel) << http << testing::PrintToString(text);
                            ASSERT_EQ(offered(text, {lead / 2, lead + lead % mark.size()}, http), want)
                                << static_cast<int>(kernel) << http << testing::PrintToString(text);
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(found, 5000u);
}

} // namespace
