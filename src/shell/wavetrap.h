#pragma once
// The main window's core without any widget: it owns the program's state and
// wires the components together. Each component takes references to the
// components below it; what goes upwards (a link found, the statistics reset)
// is a signal, connected here.

#include "download/pending.h"
#include "results/result_table.h"
#include "results/site_stats.h"
#include "search/link_extraction.h"
#include "url/urlinfo.h"
// The settings and the search road
#include "search/dispatch.h"
#include "search/engines.h"
#include "search/proxy_controls.h"
#include "shell/main_storage.h"
#include "shell/search_report.h"
#include "shell/settings.h"
#include "shell/settings_window.h"
#include "shell/update.h"
// The download road
#include "download/scheduler.h"
#include "download/status.h"
#include "shell/download_log.h"
#include "shell/download_timer.h"
#include "shell/downloads.h"
#include "shell/formstorage.h"
#include "shell/messages.h"
#include "shell/next_site.h"
// What the program remembers of the files it fetched
#include "download/file_records.h"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace shell {

class DownloadNotices;

// A URL the download road passed over before fetching anything.
struct Skip {
    enum Kind {
        ServedNoSong, // it served something other than a song before: text says what
        AlreadyHere,  // its file is in the download folder as it arrived: text is its path
    };
    Kind kind = ServedNoSong;
    std::string text;
};
// The line for people: "skipped: URL: it served no song before (an HTML page)",
// "already here: NAME".
std::string skipLine(const std::string& url, const Skip& skip);

// What a front end asks of the start-up: where the window and the command line differ.
struct StartOptions {
    bool mainWindowRestored = false; // restoreMainWindow() ran: the stored properties are read
    bool downloadLog = false;        // the stored download log joins this run's entries (as if shown)
    bool resumePending = false;      // the downloads under way at the last exit go back to the slots
    bool checkForUpdates = false;    // the update check runs when the option "checkupdate" is set
    bool tick = false;               // the scheduler's tick runs, at the saved pace
    bool downloadFolder = false;     // files go to the setting's download folder (else the current directory)
};

// What the start-up came to, for the front end to show.
struct StartReport {
    std::string settingsProblem;        // the settings cannot be saved (empty: they can)
    std::optional<UpdateReport> update; // the update check could not start
    bool showGuide = false;             // the option "Guideshow": the guide opens
    std::string folderProblem;          // the download folder cannot take files (empty: it can)
};

// The main window's stored place and its parts, as restoreMainWindow() read them.
struct MainWindowPlacement {
    bool stored = false;               // a rectangle of the user's (else: the first-run size)
    std::array<int, 4> rect{};         // left, top, right, bottom of the frame
    bool toolbarAtBottom = false;      // "alBottom"
    platform::StringList manualAdd;    // the manual-add box's history
    platform::StringList statusWidths; // the status view's column widths
};

// What a search command came to.
struct SearchStart {
    bool started = false; // queries went out
    std::string error;    // the command raised (shown in a message box), empty: none
};

// What the search controls show.
struct SearchControls {
    int pbarMax = search::SearchDispatch::PbarMax, pbarPosition = 0;
    bool pbarVisible = false, cancelVisible = false;
    platform::StringList history; // the search box's items
    std::string text;             // the search box's text
    platform::StringList queue;   // the pages still to fetch (htmlbuf)
};

class Wavetrap {
public:
    Wavetrap();
    Wavetrap(const Wavetrap&) = delete;
    Wavetrap& operator=(const Wavetrap&) = delete;

    url::UrlInfo urlinfo;               // the URL splitter and its cache
    download::PendingDownloads pending; // downloads in progress kept between runs
    results::SiteStats stats;           // stats_ip, stats_good, stats_bad and the score
    results::ResultTable table;         // List, linklist, sites
    search::LinkExtractor extractor;    // compileClick: its links go to table.addlink

    // The settings and the search road.
    search::EngineList startlinks;       // the engine list (settings window)
    search::ProxyControls proxyControls; // the settings window's proxy fields
    Settings settings;                   // wavbin.Ini: loadcfg, savecfg, the remembered proxy and path
    SettingsModel cfg;                   // the settings window as a model
    MainWindowStorage mainStorage;       // the main window's stored properties in "wavbin"
    UpdateCheck updatecheck;             // updatesocket and the update file's rules
    search::SearchDispatch dispatch;     // search box, htmlbuf, clientlist, pbar, cancelbut
    SearchReport searchReport;           // what each search came to, in a line

    // The download road.
    download::Scheduler scheduler; // the fourteen slots, dfatimer, launchftp
    download::StatusView status;   // liststatus: the download status view
    DownloadLog downloadLog;       // the URL of every transfer started (section "log")
    DownloadTimer downloadTimer;   // the "Alarm Clock": starts the download at a chosen hour
    DownloadsList downloads;       // the downloads view: every file of this run and the last
    // Every file fetched whole (URL, path, size, digest) and every URL that
    // served no song ("files.txt" of the settings directory): such a URL is
    // not fetched again, nor one whose file is still here as it arrived.
    download::FileRecords records;
    // A file that failed for good is tried at the other sites of the result table.
    NextSite nextSite;
    // A URL passed over (records), when any download command hands it to the
    // scheduler; the status line says so too.
    platform::Signal<const std::string& /*url*/, const Skip&> skipped;
    // An audio file that arrived: its line ("Artist - Title (3:45, 192 kbps)").
    platform::Signal<const std::string& /*url*/, const std::string& /*summary*/> verified;
    // Why url would be passed over now (nothing: it would be fetched). The
    // download folder is the working directory.
    std::optional<Skip> skipOf(const std::string& url) const;
    // Start-up: every download under way at the last exit goes back to
    // launchftp, in its saved order (the pending lists are emptied).
    void resumePendingDownloads();

    // The settings part of start-up (stored properties, loadcfg, the external
    // FTP program, the default engines) and of the exit (savecfg, stored properties).
    void loadSettingsAtStartup();
    // The same once the main window has restored its stored properties itself.
    void loadSettingsAfterMainWindow();
    void saveSettingsAtExit();
    // Start-up runs the update check when the option "checkupdate" is set;
    // answers whether it started one (an unresolvable host raises).
    bool checkForUpdatesAtStartup();

    // ---- Start-up and exit, the same for the window and the command line ----

    // The window's stored properties ("wavbin"), read before it is shown.
    MainWindowPlacement restoreMainWindow();
    // What the window keeps of itself at exit (written by stop()).
    void storeMainWindow(const std::array<int, 4>& rect, bool toolbarAtBottom,
                         const platform::StringList& statusWidths);
    // Loads the settings (a settings directory that cannot be written is
    // reported, not raised: the program goes on without saving), restores the
    // download log, empties the URL and score caches, and as asked starts the
    // tick, the update check and the pending downloads.
    StartReport start(const StartOptions& options);
    // Saves the settings, the stored properties and the download log. Answers
    // the problem when the settings cannot be saved and start() did not
    // report one already; other failures raise.
    std::string stop();

    // ---- Commands and what the window shows ----------------------------------

    // The search box's Enter (enter) or the "Search!" button, with the box's text.
    SearchStart search(const std::string& text, bool enter);
    // "More from this site" and any other command that may start a search.
    SearchStart searchBy(const std::function<void()>& command);
    void cancelSearch() { dispatch.cancelbutClick(); }
    SearchControls searchControls() const;
    // The search controls changed (a search started, an engine answered, it ended).
    platform::Signal<> searchChanged;
    // Lines for the status bar and for the details window, from the search and
    // the downloads.
    platform::Signal<const std::string&> statusLine;
    platform::Signal<const std::string&> detailLine;

    // The update check of the menu; the report when it could not start.
    std::optional<UpdateReport> checkForUpdates();
    // What the check that just ended came to.
    UpdateReport updateReport(UpdateOutcome outcome) const;

    // The download status view: one row per slot, the State column in the
    // scheduler's words. The columns are StatusView's.
    platform::ListView& statusRows() { return status.liststatus; }
    static const platform::StringList& statusColumns();
    static const std::vector<int>& statusColumnWidths();
    static constexpr int StatusColStateNo = download::StatusView::ColStateNo;
    static constexpr int StatusColState = download::StatusView::ColState;
    static constexpr int StatusColProgress = download::StatusView::ColProgress;
    // The rows selected in the status view end ("Stopped").
    void cancelSelectedDownloads() { status.CancelDownload1Click(); }
    // The totals while files run, for the status bar ("3 of 10 files, 4.5 MB,
    // 1.2 MB/s, 0:42 left") and the title ("Wavetrap — 3 of 10, ..."); both
    // empty while nothing runs. They change at every tick (downloads.totalsChanged).
    std::string totalLine() const { return downloads.totalLine(); }
    std::string titleLine() const { return downloads.titleLine(); }
    // The download folder of the settings, made when missing: empty when it can
    // take downloads, else why not (said before any transfer starts).
    // Where the window's file dialogs open: the folder the downloads go to
    // (the home folder when that is the install or the root folder).
    std::string fileDialogFolder() const;
    std::string prepareDownloadFolder();
    // The question asked when the window closes while files are under way (empty: none).
    std::string closeQuestion() const;
    // The notices for the desktop of this program's downloads.
    std::unique_ptr<DownloadNotices> downloadNotices();

private:
    // The records and the downloads view of a file that arrived (fetched) or failed.
    void recordVerified(const std::string& url, const std::string& path, const media::Verdict& v);
    void recordDone(const std::string& url, bool fetched);
    bool underWay(const std::string& url) const;
    std::map<std::string, std::string> summaries_; // url -> its verified line, until fileDone
    StartOptions started_;
    bool settingsProblemSaid_ = false;
    std::string updateWhere_; // the address the last update check asked
    platform::Receiver receiver_;
};

} // namespace shell
