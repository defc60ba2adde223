// The next site for a file that failed for good: the same name at other
// sites, best score first, three others at most, each site once, and URLs
// known to serve no song passed over with the reason.

#include "download/pending.h"
#include "download/scheduler.h"
#include "results/result_table.h"
#include "results/site_stats.h"
#include "shell/next_site.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Rig {
    url::UrlInfo urlinfo;
    results::SiteStats stats;
    results::ResultTable table{urlinfo, stats};
    download::PendingDownloads pending;
    download::Scheduler scheduler{urlinfo, stats, pending};
    shell::NextSite next{scheduler, table, stats, urlinfo};
    std::vector<std::string> launched, statuses;

    Rig() {
        next.launch = [this](const url::tlinfo& link) { launched.push_back(link.url); };
        next.status.connect([this](const std::string& line) { statuses.push_back(line); });
    }
    void fail(const std::string& url, download::Outcome outcome = download::Outcome::NotFound) {
        scheduler.hooks.fileFailed(url, {outcome, "why", -1});
    }
};

} // namespace

TEST(NextSite, TheSameNameIsTriedAtTheBestOtherSitesThreeAtMost) {
    Rig r;
    // Scores: .2 well liked, .3 unknown (250), .4 and .5 disliked, .6 best.
    for (int i = 0; i < 4; ++i)
        r.stats.addgood("127.0.0.2");
    r.stats.addbad("127.0.0.4");
    r.stats.addbad("127.0.0.5");
    for (int i = 0; i < 8; ++i)
        r.stats.addgood("127.0.0.6");
    for (const char* url : {"ftp://127.0.0.1/Night_Train.mp3", "ftp://127.0.0.4/pub/night train.MP3",
                            "ftp://127.0.0.2/a/Night_Train.mp3", "ftp://127.0.0.3/Night Train.mp3",
                            "ftp://127.0.0.2/b/Night_Train.mp3", "ftp://127.0.0.5/Night_Train.mp3",
                            "ftp://127.0.0.7/Other.mp3"})
        r.table.addlink(url);
    r.table.addlink("ftp://127.0.0.6/x/Night_Train.mp3");

    // Passing failures leave the file alone.
    for (auto o : {download::Outcome::Stalled, download::Outcome::Short, download::Outcome::Stopped,
                   download::Outcome::LocalError, download::Outcome::Broken})
        r.fail("ftp://127.0.0.1/Night_Train.mp3", o);
    EXPECT_TRUE(r.launched.empty());

    r.fail("ftp://127.0.0.1/Night_Train.mp3");
    ASSERT_EQ(r.launched, std::vector<std::string>{"ftp://127.0.0.6/x/Night_Train.mp3"});
    EXPECT_EQ(r.statuses.back(), "Night Train.mp3: trying 127.0.0.6");
    r.fail(r.launched.back(), download::Outcome::Refused);
    r.fail(r.launched.back(), download::Outcome::GivenUp);
    // Best score first, each site once (127.0.0.2 offers it twice), at most
    // three others; the last two sites are never tried.
    EXPECT_EQ(r.launched, (std::vector<std::string>{"ftp://127.0.0.6/x/Night_Train.mp3",
                                                    "ftp://127.0.0.2/a/Night_Train.mp3",
                                                    "ftp://127.0.0.3/Night Train.mp3"}));
    r.fail(r.launched.back(), download::Outcome::SiteDown);
    EXPECT_EQ(r.launched.size(), 3u);
    EXPECT_EQ(r.next.triedInstead("ftp://127.0.0.1/Night_Train.mp3"), "ftp://127.0.0.6/x/Night_Train.mp3");
}

TEST(NextSite, UrlsThatServedNoSongArePassedOverWithTheirReason) {
    Rig r;
    for (const char* url :
         {"http://127.0.0.1/Song.mp3", "http://127.0.0.2/Song.mp3", "http://127.0.0.3/Song.mp3"})
        r.table.addlink(url);
    std::vector<std::string> skipped;
    r.next.skipBecause = [](const std::string& url) {
        return url == "http://127.0.0.2/Song.mp3" ? std::string("an HTML page") : std::string();
    };
    r.next.skipped.connect(
        [&](const std::string& url, const std::string& why) { skipped.push_back(url + ": " + why); });
    r.fail("http://127.0.0.1/Song.mp3");
    EXPECT_EQ(r.launched, std::vector<std::string>{"http://127.0.0.3/Song.mp3"});
    EXPECT_EQ(skipped, std::vector<std::string>{"http://127.0.0.2/Song.mp3: an HTML page"});

    // A file no other site offers, and the switch off, start nothing.
    r.fail("http://127.0.0.9/Lonely.mp3");
    r.next.enabled = false;
    r.table.addlink("http://127.0.0.4/Song.mp3");
    r.fail("http://127.0.0.3/Song.mp3");
    EXPECT_EQ(r.launched.size(), 1u);
}
