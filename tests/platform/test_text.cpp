// platform::printable and holdsControl: what outside parties say is shown
// without any control character, C1 controls included, and UTF-8 text stays.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(Printable, EveryControlCharacterBecomesAQuestionMark) {
    const struct {
        std::string in, out;
        bool control; // holdsControl
    } rows[] = {
        {"plain text", "plain text", false},
        {"tab\tstays", "tab\tstays", true},
        {"\x1b[31mred", "?[31mred", true},
        {"del\x7f", "del?", true},
        {"csi \xc2\x9b"
         "31m",
         "csi ?31m", true}, // U+009B in UTF-8
        {"osc \xc2\x9d"
         "0;title\x07",
         "osc ?0;title?", true},                    // U+009D, BEL
        {"\xc2\x80 and \xc2\x9f", "? and ?", true}, // the first and last C1 controls
        {"raw \x9b"
         "31m",
         "raw ?31m", true}, // a lone C1 byte
        {"\x80\x9f", "??", true},
        {"Beyonc\xc3\xa9 \xe2\x80\x99 \xf0\x9f\x8e\xb5", "Beyonc\xc3\xa9 \xe2\x80\x99 \xf0\x9f\x8e\xb5",
         false},
        {"nbsp \xc2\xa0 ok", "nbsp \xc2\xa0 ok", false}, // U+00A0 is no control
        {"latin-1 caf\xe9", "latin-1 caf\xe9", false},   // not UTF-8, but no C1 byte
        {"cut \xe2\x9b", "cut \xe2?", true},             // a sequence cut short: its 0x9B stands alone
        {"overlong \xc0\x9b", "overlong \xc0?", true},
        {"surrogate \xed\xa0\x9b", "surrogate \xed\xa0?", true},
        {"\xe2\x9b\x94 ok", "\xe2\x9b\x94 ok", false}, // U+26D4: 0x9B inside a character
        {"\xc2", "\xc2", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::printable(row.in), row.out) << row.in;
        EXPECT_EQ(platform::holdsControl(row.in), row.control) << row.in;
        EXPECT_EQ(platform::printable(row.out), row.out) << row.in; // nothing left to replace
    }
}
