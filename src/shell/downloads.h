#pragma once
// The downloads view as a model: one row per file the program knows of in
// this run, and those left pending by the last one. Columns: File, State,
// Detail (why it waits or failed, its progress, what arrived), Site, URL.
//
// The rows follow the download scheduler's announcements (a transfer began, a
// file ended, failed or was refused) and, at every tick, a look at where each
// file stands (downloads_scheduler.cpp, the one place that reads the
// scheduler's slots). The list also gives the totals the window shows in its
// status bar and title while files are under way.

#include "download/pending.h"
#include "download/progress.h"
#include "download/scheduler.h"
#include "platform/listview.h"
#include "platform/signal.h"
#include "url/urlinfo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace shell {

enum class DownloadState {
    Waiting,  // accepted, not on a slot yet (its site is busy, or every slot is)
    Running,  // on a slot
    Finished, // arrived whole
    Failed,   // ended unfetched in this run (the reason in Detail)
    Pending,  // left pending by the last run (or by this one), for a later start
};
const char* downloadStateText(DownloadState state);

// Where the scheduler has a file, as downloads_scheduler.cpp reads it.
struct ScheduledFile {
    enum Where { OnSlot, BehindSite, Parked } where = Parked;
    std::string url;
    int slot = 0;             // OnSlot and BehindSite: the slot of its site
    std::int64_t bytes = 0;   // OnSlot: the local file's length so far
    std::int64_t size = 0;    // OnSlot: the size the server announced (0 or less: unknown)
    std::string step;         // OnSlot: the slot's state as the status view says it
    bool aloneOnSlot = false; // OnSlot: no other file of its site waits behind it
};
struct SchedulerPicture {
    std::vector<ScheduledFile> files;
    std::int64_t receivedSoFar = 0; // all bytes of this run
    bool idle = true;
    std::map<std::string, std::string> localNames; // URL -> local name, when not the remote one
};
// The one reading of the scheduler's state (downloads_scheduler.cpp).
SchedulerPicture readScheduler(const download::Scheduler& scheduler);
// The local name the scheduler gave the URL in this run, if any (a file's
// end reads only its own, not the whole picture).
std::optional<std::string> localNameGiven(const download::Scheduler& scheduler, const std::string& url);
// Takes a parked URL back out of the scheduler; false when it was not parked.
bool unparkUrl(download::Scheduler& scheduler, const std::string& url);
// Hands a URL to the scheduler again; one still pending resumes its partial
// file under its local name.
void relaunchUrl(download::Scheduler& scheduler, const download::PendingDownloads& pending,
                 url::UrlInfo& urlinfo, const std::string& url);
// The URL leaves the pending list with its size, local name and version.
void dropPendingUrl(download::PendingDownloads& pending, const std::string& url);

// The totals of the files of the current batch (from the moment the
// scheduler got work until it has none).
struct DownloadTotals {
    bool running = false;    // files are under way
    int done = 0, total = 0; // finished of all the batch's files
    int failed = 0;
    std::int64_t bytes = 0; // received in the batch
    double rate = -1;       // bytes per second (-1: not known yet)
    std::int64_t left = -1; // bytes still to come of the running files (-1: a size unknown)
};

class DownloadsList {
public:
    enum Column { ColFile = 0, ColState, ColDetail, ColSite, ColUrl };

    DownloadsList(download::Scheduler& scheduler, download::PendingDownloads& pending, url::UrlInfo& urlinfo);
    DownloadsList(const DownloadsList&) = delete;
    DownloadsList& operator=(const DownloadsList&) = delete;

    platform::ListView rows;
    static const platform::StringList& columns();
    static const std::vector<int>& columnWidths();

    // The folder finished files are in unless setFinishedPath says otherwise
    // (default: the working directory).
    std::function<std::string()> folder;
    // Writes the pending list (after Remove).
    std::function<void()> savePending;
    // Milliseconds of a monotonic clock (the rates).
    std::function<std::int64_t()> clock;

    // The files the pending list holds that have no row yet (start-up, before
    // they are handed back to the scheduler).
    void readPending();
    // Looks at where each file stands; every tick of the scheduler does.
    void refresh();

    // The state of a URL's row (false: none).
    bool stateOf(const std::string& url, DownloadState& state) const;
    int rowOf(const std::string& url) const;

    // What the verification of a finished file found ("Artist - Title (3:45,
    // 192 kbps)"), or any text for the Detail column.
    void setDetail(const std::string& url, const std::string& text);
    // Where a finished file was written.
    void setFinishedPath(const std::string& url, const std::string& path);
    // The local file of the row: the path set, else the folder and its local name.
    std::string pathOf(int row) const;

    // ---- Actions on the selected rows; each answers a line for people
    // (empty: nothing to say). ----------------------------------------------
    // Failed and pending files go to the scheduler again.
    std::string retrySelected();
    // Waiting (parked), pending and failed files leave the queue and the
    // pending list; finished rows leave the view; a running file that is its
    // site's only one is stopped.
    std::string removeSelected();
    // A selected row is in this state.
    bool selectionHas(DownloadState state) const;
    // The file of the first selected row, when it is there (path, else empty with why).
    std::string fileToOpen(std::string& why) const;
    // The folder of the first selected row (the download folder when none is selected).
    std::string folderToOpen() const;

    // ---- Totals ----------------------------------------------------------------
    DownloadTotals totals() const { return totals_; }
    // "3 of 10 files, 4.5 MB, 1.2 MB/s, 0:42 left"; empty while nothing runs.
    std::string totalLine() const;
    // The window's title while files run: "Wavetrap — 3 of 10, 1.2 MB/s, 0:42 left"; empty otherwise.
    std::string titleLine() const;
    platform::Signal<> totalsChanged; // after every refresh

private:
    struct Entry {
        std::string url;
        DownloadState state = DownloadState::Waiting;
        std::string detail;
        std::string path;       // set by setFinishedPath
        bool detailSet = false; // setDetail's text stays
        bool inBatch = false;
        std::int64_t bytes = 0;
        download::RateMeter rate;
    };
    int ensureRow(const std::string& url, DownloadState state);
    void show(int row);
    void set(const std::string& url, DownloadState state, const std::string& detail);
    void fileDone(const std::string& url, bool fetched);
    void fileFailed(const std::string& url, const std::string& why, bool kept);
    void removeRow(int row);
    std::vector<std::string> selectedUrls() const;
    std::int64_t now() const;
    std::string localName(const std::string& url) const;
    bool isPending(const std::string& url) const;

    download::Scheduler& scheduler_;
    download::PendingDownloads& pending_;
    url::UrlInfo& urlinfo_;
    std::vector<Entry> entries_; // parallel to rows
    std::map<std::string, std::string> localNames_;
    bool batch_ = false;
    std::int64_t batchStartBytes_ = 0;
    download::RateMeter totalRate_;
    DownloadTotals totals_;
    platform::Receiver receiver_;
};

} // namespace shell
