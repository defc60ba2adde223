#include "shell/mainviews.h"

#include "download/fileurl.h"
#include "download/queue.h"
#include "shell/wavetrap.h"

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <stdexcept>

namespace shell {

namespace {
constexpr int Key_Return = 13;
}

MainViews::MainViews(Wavetrap& w) : w_(w) {
    w_.table.sites.view.SetVisible(false);
    site.SetVisible(false);
    w_.status.liststatus.SetVisible(false);
    w_.status.viewMode = [this] { return mode_; };
}

const platform::StringList& MainViews::siteColumns() {
    static const platform::StringList c{"Filename", "Score", "URL"};
    return c;
}

void MainViews::setMode(int mode) {
    if (mode_ == mode) return;
    mode_ = mode;
    modeChanged(mode_);
}

void MainViews::siteviewClick() {
    w_.table.sites.view.SetVisible(true);
    setMode(SiteView);
    site.Clear();
    viewTail();
}

void MainViews::resultsviewClick() {
    setMode(AllResults);
    w_.table.sites.view.SetVisible(false);
    viewTail();
}

void MainViews::statusviewClick() {
    setMode(StatusView);
    w_.status.updatestatus();
    w_.table.sites.view.SetVisible(false);
    viewTail();
}

void MainViews::viewTail() {
    if (mode_ == StatusView) {
        w_.status.liststatustimer.setEnabled(true);
    } else {
        w_.status.liststatus.SetVisible(false);
        w_.status.liststatustimer.setEnabled(false);
    }
    site.SetVisible(mode_ == SiteView);
}

void MainViews::sitesChange(int entry) {
    if (entry < 0 || entry >= w_.table.sites.Count()) return;
    setMode(SiteView);
    site.Clear();
    if (w_.table.sites.view.Item(entry).selected) showsite(entry);
}

void MainViews::showsite(int entry) {
    for (const auto& url : w_.table.sites.urls(entry)) {
        const url::tlinfo l = w_.urlinfo.info(url);
        site.Add({l.fname, std::to_string(w_.stats.ip_to_score(l.site)), url});
    }
}

void MainViews::RxSpeedButton1Click() {
    std::string& box = w_.dispatch.search.Text;
    box.clear();
    switch (mode_) {
    case SiteView:
        if (site.Count() > 0) box = w_.urlinfo.info(site.Item(0).cell(SiteColUrl)).site;
        break;
    case AllResults:
        if (auto rows = w_.table.List.SelectedRows(); !rows.empty())
            box = w_.table.List.Item(rows.front()).cell(results::ResultTable::ColSite);
        break;
    case StatusView:
        if (auto rows = w_.status.liststatus.SelectedRows(); !rows.empty())
            box = w_.status.liststatus.Item(rows.front()).cell(download::StatusView::ColSite);
        break;
    default:
        return;
    }
    if (!box.empty()) w_.dispatch.Start_search_butClick();
}

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool holds(const std::string& text, const std::string& lowered) {
    return std::search(text.begin(), text.end(), lowered.begin(), lowered.end(),
                       [](char a, char b) { return lower(a) == b; }) != text.end();
}

} // namespace

void MainViews::setFilter(const std::string& text) {
    if (text == filter_) return;
    filter_ = text;
    lowered_ = text;
    for (char& c : lowered_)
        c = lower(c);
    filterChanged();
}

bool MainViews::rowShown(int row) const {
    if (filter_.empty()) return true;
    if (row < 0 || row >= w_.table.List.Count()) return false;
    const platform::ListItem& item = w_.table.List.Item(row);
    using T = results::ResultTable;
    for (std::size_t c : {std::size_t{T::ColFilename}, std::size_t{T::ColSite}, std::size_t{T::ColUrl}})
        if (holds(item.cell(c), lowered_)) return true;
    return false;
}

std::vector<int> MainViews::shownRows() const {
    std::vector<int> rows;
    for (int r = 0; r < w_.table.List.Count(); ++r)
        if (rowShown(r)) rows.push_back(r);
    return rows;
}

const platform::StringList& MainViews::history() const {
    return w_.mainStorage.manualadd_Items;
}

MainViews::ManualAdd MainViews::ManualaddKeyDown(int key, const std::string& text) {
    if (key != Key_Return || text.empty()) return ManualAdd::Ignored;
    if (const std::string problem = download::fileUrlProblem(text); !problem.empty()) {
        message("Cannot download " + text + ": " + problem);
        return ManualAdd::Refused;
    }
    w_.table.addlink(text);
    w_.scheduler.launchftp(w_.urlinfo.info(text));
    platform::StringList& items = w_.mainStorage.manualadd_Items;
    items.insert(items.begin(), text);
    if (items.size() > 2 && items[0] == items[1]) items.erase(items.begin());
    if (items.size() > HistoryLimit) items.erase(items.begin() + HistoryLimit);
    return ManualAdd::Started;
}

std::vector<int> MainViews::listRows() const {
    std::vector<int> rows = w_.table.List.SelectedRows();
    return rows.empty() ? shownRows() : rows;
}

bool MainViews::listHasRows() {
    if (!listRows().empty()) return true;
    if (w_.table.List.Count() > 0)
        message("No file of the table matches the filter '" + filter_ + "': nothing to save");
    return false;
}

std::string MainViews::listText() const {
    const platform::ListView& list = w_.table.List;
    const std::vector<int> rows = listRows();
    std::string text = std::string(ListFirstLine) + "\r\n";
    for (int row : rows)
        text += list.Item(row).cell(results::ResultTable::ColUrl) + "\r\n";
    return text;
}

std::string MainViews::Writelisttofile(const std::string& fileName) const {
    QSaveFile file(QString::fromLocal8Bit(fileName.c_str()));
    const std::string text = listText();
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
        return "Cannot write " + fileName + ": " + file.errorString().toStdString();
    if (!file.commit()) return "Cannot write " + fileName + ": " + file.errorString().toStdString();
    return {};
}

MainViews::Handover MainViews::haulfilesClick() {
    // Nothing chosen under a filter: what it shows, as if chosen.
    platform::ListView& list = w_.table.List;
    if (mode_ == AllResults && !filter_.empty() && list.SelCount() == 0) {
        const std::vector<int> shown = shownRows();
        if (shown.empty() && list.Count() > 0) {
            say("No file of the table matches the filter '" + filter_ + "': nothing to download");
            return Handover::Refused;
        }
        list.SetSelection(shown);
    }
    Handover route = Handover::Slots;
    if (!w_.cfg.usecute()) {
        download::getfileslocalClick(w_.table.List, &site, mode_, w_.urlinfo, w_.scheduler);
    } else {
        const std::uint64_t said = said_;
        externalRoute();
        route = Handover::ExternalProgram;
        // The external route says nothing of its own when all went well.
        if (said_ == said) say("The chosen files went to the external FTP program");
    }
    setMode(StatusView);
    w_.status.updatestatus();
    return route;
}

MainViews::Handover MainViews::haulfile(const std::string& url) {
    Handover route = Handover::Slots;
    if (!w_.cfg.usecute()) {
        w_.scheduler.launchftp(w_.urlinfo.info(url));
    } else {
        const std::uint64_t said = said_;
        externalRoute({url}, true);
        route = Handover::ExternalProgram;
        if (said_ == said) say("The file went to the external FTP program");
    }
    setMode(StatusView);
    w_.status.updatestatus();
    return route;
}

const platform::StringList& MainViews::resultColumns() {
    return results::ResultTable::columns();
}

std::string MainViews::rowUrl(bool bySite, int row) const {
    const platform::ListView& rows = bySite ? site : w_.table.List;
    if (row < 0 || row >= rows.Count()) return {};
    return rows.Item(row).cell(bySite ? std::size_t{SiteColUrl} : std::size_t{results::ResultTable::ColUrl});
}

void MainViews::say(const std::string& text) {
    ++said_;
    message(text);
}

std::vector<download::MacroScript> MainViews::externalRoute(bool startProgram) {
    std::vector<std::string> urls;
    if (mode_ == AllResults) {
        for (const auto& row : w_.table.List.Items())
            if (row.selected) urls.push_back(row.cell(results::ResultTable::ColUrl));
    } else if (mode_ == SiteView) {
        for (const auto& row : site.Items())
            if (row.selected) urls.push_back(row.cell(SiteColUrl));
    } else {
        say("The external FTP program gets the files chosen in the result list or by site: switch "
            "to one of those views, choose files and download again");
        return {};
    }
    if (urls.empty()) {
        say("No files chosen for the external FTP program: select files, then download again");
        return {};
    }
    return externalRoute(urls, startProgram);
}

std::vector<download::MacroScript> MainViews::externalRoute(const std::vector<std::string>& all,
                                                            bool startProgram) {
    // The external program speaks FTP: http:// and https:// files take the
    // program's own slots.
    std::vector<std::string> urls;
    int own = 0;
    for (const std::string& url : all) {
        const std::string scheme = download::fileUrlScheme(url);
        if (scheme == "http" || scheme == "https") {
            w_.scheduler.launchftp(w_.urlinfo.info(url));
            ++own;
        } else {
            urls.push_back(url);
        }
    }
    if (own > 0)
        say(std::to_string(own) + " http(s) file(s) fetched by Wavetrap itself: the external FTP program "
                                  "takes ftp:// files only");
    if (urls.empty()) return {};
    download::MacroWriter writer;
    writer.directory = scriptDirectory;
    writer.statusmemo = [this](const std::string& line) { statusmemo(line); };
    std::vector<download::MacroScript> scripts = writer.write(w_.urlinfo, urls);
    if (startProgram) {
        for (const auto& s : scripts)
            if (!download::MacroWriter::start(w_.settings.path, s))
                say("Cannot start the external FTP program '" + w_.settings.path + "' for " + s.name);
    }
    return scripts;
}

} // namespace shell
