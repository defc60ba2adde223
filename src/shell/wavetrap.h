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
#include "shell/formstorage.h"

namespace shell {

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

private:
    platform::Receiver receiver_;
};

} // namespace shell
