#pragma once
// The next site for a file that failed for good: when a file ends not found,
// refused, its site given up, not a song or a damaged one, and another site of the result
// table offers a file of the same name, that URL is handed to the scheduler
// next: best score first, at most three others for one name, each site once.

#include "download/scheduler.h"
#include "platform/signal.h"
#include "results/result_table.h"
#include "results/site_stats.h"
#include "url/urlinfo.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace shell {

// The outcomes after which a file is tried at another site: the site does
// not have it, refused it or was given up, or sent something else.
bool failedForGood(download::Outcome outcome);

struct Candidate {
    std::string url;
    std::string site; // "host:port"
    int score = 0;
};

// The rows of `table` that offer a file of the name in `fname` (compared
// without case, "_" as " " as the table shows them) at a site not in
// `sitesTried`, best score first (the table's order among equal scores).
std::vector<Candidate> alternatives(const results::ResultTable& table, results::SiteStats& stats,
                                    url::UrlInfo& urlinfo, const std::string& fname,
                                    const std::set<std::string>& sitesTried);

class NextSite {
public:
    static constexpr int MaxOthers = 3;

    NextSite(download::Scheduler& scheduler, results::ResultTable& table, results::SiteStats& stats,
             url::UrlInfo& urlinfo);

    // Off: failed files are left as they are.
    bool enabled = true;
    // How the next URL is started (the scheduler's launchftp unless replaced).
    std::function<void(const url::tlinfo&)> launch;
    // A URL is to be skipped (it served no song before): why, else empty.
    std::function<std::string(const std::string& url)> skipBecause;

    // "Night Train.mp3: trying 127.0.0.3" (the status bar's text), and for
    // each URL passed over, why.
    platform::Signal<const std::string&> status;
    platform::Signal<const std::string& /*url*/, const std::string& /*why*/> skipped;

    // The URL the file of `url` was last tried at instead (empty: none).
    std::string triedInstead(const std::string& url) const;

private:
    void fileFailed(const std::string& url, const download::TransferResult& why);

    download::Scheduler& scheduler_;
    results::ResultTable& table_;
    results::SiteStats& stats_;
    url::UrlInfo& urlinfo_;
    // Per file name (lower case): the sites tried, and how many others were.
    struct Tries {
        std::set<std::string> sites;
        int others = 0;
    };
    std::map<std::string, Tries> tries_;
    std::map<std::string, std::string> instead_;
    platform::Receiver receiver_;
};

} // namespace shell
