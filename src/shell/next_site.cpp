#include "shell/next_site.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>

namespace shell {

namespace {

std::string folded(std::string name) {
    name = results::ResultTable::fixname(std::move(name));
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string siteOf(const url::tlinfo& link) {
    return link.site + ":" + link.port;
}

} // namespace

bool failedForGood(download::Outcome outcome) {
    using download::Outcome;
    switch (outcome) {
    case Outcome::NotFound:
    case Outcome::Refused:
    case Outcome::LoginRefused:
    case Outcome::SiteDown:
    case Outcome::GivenUp:
    case Outcome::NotAudio:
    case Outcome::Damaged:
        return true;
    default:
        return false;
    }
}

std::vector<Candidate> alternatives(const results::ResultTable& table, results::SiteStats& stats,
                                    url::UrlInfo& urlinfo, const std::string& fname,
                                    const std::set<std::string>& sitesTried) {
    const std::string wanted = folded(fname);
    std::vector<Candidate> found;
    std::set<std::string> sites = sitesTried;
    for (const platform::ListItem& row : table.List.Items()) {
        const std::string url = row.cell(results::ResultTable::ColUrl);
        const url::tlinfo link = urlinfo.info(url);
        if (link.site.empty() || folded(link.fname) != wanted) continue;
        if (!sites.insert(siteOf(link)).second) continue; // each site once
        found.push_back({url, siteOf(link), stats.ip_to_score(link.site)});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    return found;
}

NextSite::NextSite(download::Scheduler& scheduler, results::ResultTable& table, results::SiteStats& stats,
                   url::UrlInfo& urlinfo)
    : scheduler_(scheduler), table_(table), stats_(stats), urlinfo_(urlinfo) {
    launch = [this](const url::tlinfo& link) { scheduler_.launchftp(link); };
    scheduler_.hooks.fileFailed.connect(
        receiver_,
        [this](const std::string& url, const download::TransferResult& why) { fileFailed(url, why); });
}

std::string NextSite::triedInstead(const std::string& url) const {
    const auto it = instead_.find(url);
    return it == instead_.end() ? std::string() : it->second;
}

void NextSite::fileFailed(const std::string& url, const download::TransferResult& why) {
    if (!enabled || !failedForGood(why.outcome)) return;
    const url::tlinfo failed = urlinfo_.info(url);
    if (failed.fname.empty()) return;
    Tries& tries = tries_[folded(failed.fname)];
    tries.sites.insert(siteOf(failed));
    while (tries.others < MaxOthers) {
        const std::vector<Candidate> next = alternatives(table_, stats_, urlinfo_, failed.fname, tries.sites);
        if (next.empty()) return;
        const Candidate& best = next.front();
        tries.sites.insert(best.site);
        if (const std::string skip = skipBecause ? skipBecause(best.url) : ""; !skip.empty()) {
            skipped(best.url, skip);
            continue; // a URL known to serve no song is no try
        }
        ++tries.others;
        instead_[url] = best.url;
        status(platform::printable(results::ResultTable::fixname(failed.fname)) + ": trying " +
               platform::printable(urlinfo_.info(best.url).site));
        if (launch) launch(urlinfo_.info(best.url));
        return;
    }
}

} // namespace shell
