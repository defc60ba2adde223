#include "shell/downloads.h"

#include "download/transfer.h"
#include "shell/file_dialogs.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

namespace shell {

const char* downloadStateText(DownloadState state) {
    switch (state) {
    case DownloadState::Waiting:
        return "Waiting";
    case DownloadState::Running:
        return "Running";
    case DownloadState::Finished:
        return "Finished";
    case DownloadState::Failed:
        return "Failed";
    case DownloadState::Pending:
        return "Pending";
    }
    return "";
}

void dropPendingUrl(download::PendingDownloads& pending, const std::string& url) {
    auto& dl = pending.downloading;
    auto& sz = pending.downloadingsize;
    for (std::size_t i = dl.size(); i-- > 0;) {
        if (dl[i] != url) continue;
        if (i < sz.size()) sz.erase(sz.begin() + static_cast<std::ptrdiff_t>(i));
        dl.erase(dl.begin() + static_cast<std::ptrdiff_t>(i));
    }
    pending.localName.erase(url);
    pending.version.erase(url);
}

DownloadsList::DownloadsList(download::Scheduler& scheduler, download::PendingDownloads& pending,
                             url::UrlInfo& urlinfo)
    : scheduler_(scheduler), pending_(pending), urlinfo_(urlinfo) {
    folder = [] { return downloadFolder(); };
    auto& h = scheduler_.hooks;
    h.addToLog.connect(receiver_, [this](const std::string& url) { set(url, DownloadState::Running, ""); });
    h.fileDone.connect(receiver_, [this](const std::string& url, bool fetched) { fileDone(url, fetched); });
    h.fileFailed.connect(receiver_, [this](const std::string& url, const download::TransferResult& why) {
        fileFailed(url, why.detail.empty() ? download::outcomeName(why.outcome) : why.detail,
                   download::keptPending(why.outcome));
    });
    h.refused.connect(receiver_, [this](const std::string& url, const std::string& why) {
        fileFailed(url, "refused: " + why, false);
    });
    h.updatestatus.connect(receiver_, [this] { refresh(); });
}

const platform::StringList& DownloadsList::columns() {
    static const platform::StringList c{"File", "State", "Detail", "Site", "URL"};
    return c;
}

const std::vector<int>& DownloadsList::columnWidths() {
    static const std::vector<int> w{200, 70, 300, 120, 300};
    return w;
}

std::int64_t DownloadsList::now() const {
    if (clock) return clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string DownloadsList::localName(const std::string& url) const {
    if (auto it = localNames_.find(url); it != localNames_.end()) return it->second;
    if (auto it = pending_.localName.find(url); it != pending_.localName.end()) return it->second;
    return url::splitUrl(url).fname;
}

bool DownloadsList::isPending(const std::string& url) const {
    const auto& dl = pending_.downloading;
    return std::find(dl.begin(), dl.end(), url) != dl.end();
}

int DownloadsList::rowOf(const std::string& url) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].url == url) return static_cast<int>(i);
    return -1;
}

bool DownloadsList::stateOf(const std::string& url, DownloadState& state) const {
    const int row = rowOf(url);
    if (row < 0) return false;
    state = entries_[static_cast<std::size_t>(row)].state;
    return true;
}

int DownloadsList::ensureRow(const std::string& url, DownloadState state) {
    if (const int row = rowOf(url); row >= 0) return row;
    Entry e;
    e.url = url;
    e.state = state;
    entries_.push_back(std::move(e));
    const url::tlinfo link = url::splitUrl(url);
    return rows.Add({localName(url), downloadStateText(state), "", link.site, url});
}

void DownloadsList::show(int row) {
    const Entry& e = entries_.at(static_cast<std::size_t>(row));
    const std::string cells[] = {localName(e.url), downloadStateText(e.state), e.detail};
    for (std::size_t col = 0; col < 3; ++col)
        if (rows.Item(row).cell(col) != cells[col]) rows.SetCell(row, col, cells[col]);
}

void DownloadsList::set(const std::string& url, DownloadState state, const std::string& detail) {
    const int row = ensureRow(url, state);
    Entry& e = entries_[static_cast<std::size_t>(row)];
    if (e.state != state) e.detailSet = false;
    e.state = state;
    if (state == DownloadState::Waiting || state == DownloadState::Running) e.inBatch = true;
    if (!e.detailSet) e.detail = detail;
    show(row);
}

void DownloadsList::readPending() {
    for (const std::string& url : pending_.downloading)
        if (rowOf(url) < 0) set(url, DownloadState::Pending, "from the last run");
}

void DownloadsList::fileDone(const std::string& url, bool fetched) {
    if (!fetched) {
        // A skip: fileFailed told why before.
        DownloadState state;
        if (!stateOf(url, state) || state != DownloadState::Failed) fileFailed(url, "skipped", false);
        return;
    }
    if (auto name = localNameGiven(scheduler_, url))
        localNames_[url] = std::move(*name);
    else
        localNames_.erase(url);
    const int row = ensureRow(url, DownloadState::Finished);
    std::error_code e;
    const auto size = std::filesystem::file_size(pathOf(row), e);
    set(url, DownloadState::Finished,
        e ? std::string() : download::formatBytes(static_cast<std::int64_t>(size)));
}

void DownloadsList::fileFailed(const std::string& url, const std::string& why, bool kept) {
    set(url, DownloadState::Failed, kept ? why + "; kept for a later start" : why);
}

void DownloadsList::setDetail(const std::string& url, const std::string& text) {
    const int row = rowOf(url);
    if (row < 0) return;
    Entry& e = entries_[static_cast<std::size_t>(row)];
    e.detail = text;
    e.detailSet = true;
    show(row);
}

void DownloadsList::setFinishedPath(const std::string& url, const std::string& path) {
    const int row = rowOf(url);
    if (row >= 0) entries_[static_cast<std::size_t>(row)].path = path;
}

std::string DownloadsList::pathOf(int row) const {
    const Entry& e = entries_.at(static_cast<std::size_t>(row));
    if (!e.path.empty()) return e.path;
    return (std::filesystem::path(folder ? folder() : downloadFolder()) / localName(e.url)).string();
}

void DownloadsList::refresh() {
    const SchedulerPicture pic = readScheduler(scheduler_);
    localNames_ = pic.localNames;
    const std::int64_t t = now();
    std::set<std::string> seen;
    std::int64_t left = 0;
    bool leftKnown = true;
    for (const ScheduledFile& f : pic.files) {
        seen.insert(f.url);
        switch (f.where) {
        case ScheduledFile::OnSlot: {
            const int row = ensureRow(f.url, DownloadState::Running);
            Entry& e = entries_[static_cast<std::size_t>(row)];
            if (e.state != DownloadState::Running) e.rate.reset();
            e.bytes = f.bytes;
            e.rate.sample(t, f.bytes);
            if (f.size > 0)
                left += std::max<std::int64_t>(0, f.size - f.bytes);
            else if (f.bytes > 0)
                leftKnown = false;
            set(f.url, DownloadState::Running,
                f.bytes > 0 ? download::progressLine(f.bytes, f.size, e.rate.bytesPerSecond()) : f.step);
            break;
        }
        case ScheduledFile::BehindSite:
            set(f.url, DownloadState::Waiting, "site busy: after the file on slot " + std::to_string(f.slot));
            break;
        case ScheduledFile::Parked:
            set(f.url, DownloadState::Waiting, "parked: every slot is busy");
            break;
        }
    }
    // Files the scheduler let go of without a word: stopped by the user
    // (they left the pending list), or kept for a later start.
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (seen.count(e.url) || (e.state != DownloadState::Waiting && e.state != DownloadState::Running))
            continue;
        if (isPending(e.url))
            set(e.url, DownloadState::Pending, "kept for a later start");
        else
            set(e.url, DownloadState::Failed, "stopped");
    }

    // The totals of the batch: from the moment the scheduler has work until it has none.
    if (!pic.idle && !batch_) {
        batch_ = true;
        batchStartBytes_ = pic.receivedSoFar;
        totalRate_.reset();
    }
    if (batch_ && pic.idle) {
        batch_ = false;
        for (Entry& e : entries_)
            e.inBatch = false;
    }
    totals_ = {};
    if (batch_) {
        totalRate_.sample(t, pic.receivedSoFar);
        totals_.running = true;
        for (const Entry& e : entries_) {
            if (!e.inBatch) continue;
            ++totals_.total;
            if (e.state == DownloadState::Finished) ++totals_.done;
            if (e.state == DownloadState::Failed) ++totals_.failed;
        }
        totals_.bytes = pic.receivedSoFar - batchStartBytes_;
        totals_.rate = totalRate_.bytesPerSecond();
        totals_.left = leftKnown ? left : -1;
    }
    totalsChanged();
}

namespace {

std::string rateAndTimeLeft(const DownloadTotals& t) {
    std::string out;
    if (t.rate >= 0) out += ", " + download::formatRate(t.rate);
    if (t.left > 0) {
        const std::string tl = download::formatTimeLeft(t.left, t.rate);
        if (!tl.empty()) out += ", " + tl + " left";
    }
    return out;
}

} // namespace

std::string DownloadsList::totalLine() const {
    const DownloadTotals& t = totals_;
    if (!t.running) return {};
    std::string out = std::to_string(t.done) + " of " + std::to_string(t.total) + " files";
    if (t.failed > 0) out += ", " + std::to_string(t.failed) + " failed";
    out += ", " + download::formatBytes(t.bytes);
    return out + rateAndTimeLeft(t);
}

std::string DownloadsList::titleLine() const {
    const DownloadTotals& t = totals_;
    if (!t.running) return {};
    return "Wavetrap \u2014 " + std::to_string(t.done) + " of " + std::to_string(t.total) +
           rateAndTimeLeft(t);
}

// ---- Actions ----------------------------------------------------------------------

std::vector<std::string> DownloadsList::selectedUrls() const {
    std::vector<std::string> urls;
    for (int row : rows.SelectedRows())
        urls.push_back(entries_.at(static_cast<std::size_t>(row)).url);
    return urls;
}

void DownloadsList::removeRow(int row) {
    entries_.erase(entries_.begin() + row);
    rows.Delete(row);
}

std::string DownloadsList::retrySelected() {
    int retried = 0;
    for (const std::string& url : selectedUrls()) {
        DownloadState state;
        if (!stateOf(url, state) || (state != DownloadState::Failed && state != DownloadState::Pending))
            continue;
        set(url, DownloadState::Waiting, "tried again");
        relaunchUrl(scheduler_, pending_, urlinfo_, url);
        ++retried;
    }
    if (retried == 0) return "Nothing to retry: select failed or pending files.";
    return retried == 1 ? "1 file is tried again." : std::to_string(retried) + " files are tried again.";
}

std::string DownloadsList::removeSelected() {
    const std::vector<std::string> urls = selectedUrls();
    if (urls.empty()) return "Select the files to remove first.";
    const SchedulerPicture pic = readScheduler(scheduler_);
    std::string said;
    bool pendingChanged = false;
    for (const std::string& url : urls) {
        const int row = rowOf(url);
        if (row < 0) continue;
        const auto where = std::find_if(pic.files.begin(), pic.files.end(),
                                        [&](const ScheduledFile& f) { return f.url == url; });
        if (where != pic.files.end() && where->where == ScheduledFile::OnSlot) {
            if (!where->aloneOnSlot) {
                said = localName(url) + " is on slot " + std::to_string(where->slot) +
                       " with more files of its site: stop the slot in the download status view.";
                continue;
            }
            scheduler_.stop(where->slot); // its file leaves the pending list
        } else if (where != pic.files.end() && where->where == ScheduledFile::BehindSite) {
            said = localName(url) + " waits for its site on slot " + std::to_string(where->slot) +
                   ": stop the slot in the download status view to remove it.";
            continue;
        } else {
            unparkUrl(scheduler_, url);
        }
        if (isPending(url)) {
            dropPendingUrl(pending_, url);
            pendingChanged = true;
        }
        removeRow(rowOf(url));
    }
    if (pendingChanged && savePending) savePending();
    return said;
}

bool DownloadsList::selectionHas(DownloadState state) const {
    for (int row : rows.SelectedRows())
        if (entries_.at(static_cast<std::size_t>(row)).state == state) return true;
    return false;
}

std::string DownloadsList::fileToOpen(std::string& why) const {
    const std::vector<int> sel = rows.SelectedRows();
    if (sel.empty()) {
        why = "Select a finished file first.";
        return {};
    }
    const Entry& e = entries_.at(static_cast<std::size_t>(sel.front()));
    const std::string path = pathOf(sel.front());
    if (e.state != DownloadState::Finished) {
        why = localName(e.url) + " has not arrived yet.";
        return {};
    }
    std::error_code err;
    if (!std::filesystem::is_regular_file(path, err)) {
        why = path + " is no longer there.";
        return {};
    }
    why.clear();
    return path;
}

std::string DownloadsList::folderToOpen() const {
    const std::vector<int> sel = rows.SelectedRows();
    if (sel.empty()) return folder ? folder() : downloadFolder();
    return std::filesystem::path(pathOf(sel.front())).parent_path().string();
}

} // namespace shell
