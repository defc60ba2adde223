#include "results/result_table.h"

#include "results/site_stats.h"

#include <algorithm>

namespace results {
namespace {

// A cell of a row without copying it (an absent cell reads as empty text).
const std::string& cellOf(const platform::ListItem& row, std::size_t col) {
    static const std::string none;
    return col < row.cells.size() ? row.cells[col] : none;
}

} // namespace

int SiteList::find(const std::string& site) const {
    auto it = index_.find(site);
    return it == index_.end() ? -1 : it->second;
}

int SiteList::file(const std::string& site, const std::string& url) {
    int entry = find(site);
    if (entry < 0) {
        urls_.emplace_back();
        entry = view.Add({site, "0"});
        index_[site] = entry;
    }
    platform::StringList& list = urls_[static_cast<std::size_t>(entry)];
    list.push_back(url);
    view.SetCell(entry, 1, std::to_string(list.size()));
    return entry;
}

ResultTable::ResultTable(url::UrlInfo& urlinfo, SiteStats& stats) : urlinfo_(urlinfo), stats_(stats) {
    stats_.scoresChanged.connect(receiver_, [this] { rescore(); });
}

const platform::StringList& ResultTable::columns() {
    static const platform::StringList cols{"Filename", "Score", "Site", "URL"};
    return cols;
}

std::string ResultTable::fixname(std::string name) {
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

void ResultTable::addlink(const std::string& url) {
    if (linklist.size() >= MaxLinks) return;
    const url::tlinfo r = urlinfo_.info(url);
    // A link without a site could be neither shown nor fetched.
    if (r.site.empty()) return;
    // A URL already in a row is never listed twice (the table holds at most
    // 150 rows, so looking at every row costs little).
    for (const platform::ListItem& row : List.Items())
        if (cellOf(row, ColUrl) == url) return;

    const int score = stats_.ip_to_score(r.site);
    // Below every row of equal or higher score: first come, first listed. A
    // row's score is its Score cell (a cell that is not a number counts 0),
    // which keeps the old score after a reset until the next count.
    int at = 0;
    while (at < List.Count() && StrToIntDef(cellOf(List.Item(at), ColScore), 0) >= score)
        ++at;
    List.Insert(at, {fixname(r.fname), std::to_string(score), r.site, url});
    linklist.push_back(url);
    sites.file(r.site, url);
}

void ResultTable::ClearList1Click() {
    const int selected = List.SelCount();
    if (selected > 0) {
        for (int i = 0; i < selected; ++i) {
            const std::vector<int> rows = List.SelectedRows();
            if (rows.empty()) break;
            List.Delete(rows.front());
        }
        return;
    }
    linklist.clear();
    List.SetVisible(false);
    List.Clear();
    List.SetVisible(true);
}

void ResultTable::rescore() {
    for (int row = 0; row < List.Count(); ++row) {
        const std::string text = std::to_string(stats_.ip_to_score(cellOf(List.Item(row), ColSite)));
        if (text != cellOf(List.Item(row), ColScore)) List.SetCell(row, ColScore, text);
    }
}

} // namespace results
