#pragma once
// The result table: one row per MP3 link found (Filename, Score, Site, URL),
// ordered by the score of its site when inserted, at most 150 links per
// search; beside it the list of every accepted URL and the view by site.

#include "platform/listview.h"
#include "url/urlinfo.h"

#include <string>
#include <unordered_map>

namespace results {

class SiteStats;

// The view by site: one entry per distinct site text, in order of arrival,
// each with the URLs filed under it. Entries are only ever added.
class SiteList {
public:
    // One row per site: cell 0, the caption, is the site; cell 1 (not shown in
    // a list-style view) the number of URLs filed under it, so observers hear
    // of every new entry (inserted) and of every URL filed (changed).
    platform::ListView view;

    int Count() const { return view.Count(); }
    const std::string& caption(int entry) const { return view.Item(entry).cells.at(0); }
    const platform::StringList& urls(int entry) const { return urls_.at(static_cast<std::size_t>(entry)); }
    // The entry whose caption is site (the one furthest down), or -1.
    int find(const std::string& site) const;
    // Files url under site, adding an entry for a new site; answers the entry.
    int file(const std::string& site, const std::string& url);

private:
    std::vector<platform::StringList> urls_;
    std::unordered_map<std::string, int> index_;
};

class ResultTable {
public:
    static constexpr std::size_t MaxLinks = 150;
    enum Column { ColFilename = 0, ColScore = 1, ColSite = 2, ColUrl = 3 };

    // Both are used only after construction, so they may be members declared
    // later in the owning object.
    ResultTable(url::UrlInfo& urlinfo, SiteStats& stats);
    ResultTable(const ResultTable&) = delete;
    ResultTable& operator=(const ResultTable&) = delete;

    platform::ListView List;       // rows of four cells: Filename, Score, Site, URL
    platform::StringList linklist; // every URL accepted, in order of arrival
    SiteList sites;                // the URLs by site

    // Adds one link: refused when 150 links were accepted already, when its
    // URL is already in a row of the table, or when it names no site.
    // Otherwise the row goes above the first row whose Score cell reads lower.
    void addlink(const std::string& url);

    // The name with every "_" turned into a space.
    static std::string fixname(std::string name);

    // "Reset" -> "All files": deletes the selected rows (linklist and sites
    // keep their URLs); with nothing selected, empties the table and linklist.
    void ClearList1Click();

    // Rewrites the Score cell of every row whose site now scores differently;
    // rows do not move. Done whenever the statistics announce a change.
    void rescore();

    // The column titles, in order.
    static const platform::StringList& columns();

private:
    url::UrlInfo& urlinfo_;
    SiteStats& stats_;
    platform::Receiver receiver_;
};

} // namespace results
