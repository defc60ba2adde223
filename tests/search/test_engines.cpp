// The engine list: the built-in entries, adding without duplicates, the
// phrase as it is sent.

#include "search/engines.h"
#include "search_fixture.h"

#include <gtest/gtest.h>
#include <string>

namespace {

bool reserved(const std::string& host) {
    // RFC 5737 documentation networks and RFC 2606 names that never resolve.
    for (const char* net : {"192.0.2.", "198.51.100.", "203.0.113."})
        if (host.rfind(net, 0) == 0) return true;
    const std::string tld = ".example";
    return host.size() > tld.size() && host.compare(host.size() - tld.size(), tld.size(), tld) == 0;
}

TEST(Engines, TheSevenBuiltInEntriesKeepTheEnginesPathsAndQueryPrefixes) {
    const bool numeric[7] = {true, true, false, false, true, false, false};
    for (std::size_t i = 0; i < 7; ++i) {
        const std::string e = search::DefaultEngines[i];
        const std::size_t slash = e.find('/');
        ASSERT_NE(slash, std::string::npos) << e;
        const std::string host = e.substr(0, slash);
        EXPECT_EQ(e.substr(slash), searchtest::DefaultPaths[i]);
        EXPECT_TRUE(reserved(host)) << host;
        EXPECT_EQ(host.find_first_not_of("0123456789.") == std::string::npos, numeric[i]) << host;
        EXPECT_EQ(e.find("http"), std::string::npos);
    }
}

TEST(Engines, AddingKeepsOrderAndRefusesExactDuplicatesOnly) {
    search::EngineList list;
    std::string heard; // the change notices, "<first,last>" for about to insert, "(first,last)" for done
    list.rowsAboutToBeInserted.connect(
        [&](int f, int l) { heard += "<" + std::to_string(f) + "," + std::to_string(l) + ">"; });
    list.rowsInserted.connect([&](int f, int l) {
        heard += "(" + std::to_string(f) + "," + std::to_string(l) + ")" + std::to_string(list.Count());
    });
    list.rowsRemoved.connect([&](int f, int) { heard += "-" + std::to_string(f); });
    list.itemIndexChanged.connect([&](int i) { heard += "#" + std::to_string(i); });
    list.addengine("a.test/s?q=");
    list.addengine("b.test/s?q=");
    list.addengine("a.test/s?q=");
    list.addengine("A.test/s?q=");
    EXPECT_EQ(list.Items(), (platform::StringList{"a.test/s?q=", "b.test/s?q=", "A.test/s?q="}));
    EXPECT_EQ(heard, "<0,0>(0,0)1<1,1>(1,1)2<2,2>(2,2)3");
    EXPECT_FALSE(list.addDefaultEngines()); // not empty: nothing added
    EXPECT_EQ(list.Count(), 3);
    list.Clear();
    EXPECT_TRUE(list.addDefaultEngines());
    EXPECT_EQ(list.Count(), 7);
    EXPECT_EQ(list.Item(0), search::DefaultEngines[0]);
    list.SetItemIndex(6);
    heard.clear();
    list.Delete(6);
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(heard, "-6#-1");
    list.Delete(42); // no such line: nothing
    EXPECT_EQ(list.Count(), 6);
}

TEST(Engines, ThePhraseIsSentWithPlusForSpacesAndNothingElseChanged) {
    struct Row {
        const char* text;
        const char* sent;
    } rows[] = {
        {"two words", "two+words"},
        {"", ""},
        {" lead  double ", "+lead++double+"},
        {"a&b%20?c", "a&b%20?c"},
        {"Ärger ß", "Ärger+ß"},
        {"tab\there", "tab\there"},
        {"two+words", "two+words"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(search::queryPhrase(r.text), r.sent) << r.text;
}

} // namespace
