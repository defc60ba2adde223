#include "shell/wavetrap.h"

#include "net/rate_limit.h"

#include "download/queue.h"
#include "platform/profile.h"
#include "shell/download_folder.h"
#include "shell/download_notices.h"
#include "shell/file_dialogs.h"
#include "shell/startup_settings.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <unistd.h>

namespace shell {

static_assert(search::LinkExtractor::TableLimit == results::ResultTable::MaxLinks);

Wavetrap::Wavetrap()
    : table(urlinfo, stats), extractor([this] { return table.linklist.size(); }),
      settings(pending, startlinks, proxyControls), cfg(settings, startlinks, proxyControls),
      mainStorage(stats), updatecheck(mainStorage, settings.proxy, startlinks),
      dispatch(startlinks, proxyControls, extractor), searchReport(dispatch, table),
      scheduler(urlinfo, stats, pending), status(scheduler), downloadLog(urlinfo, scheduler),
      downloads(scheduler, pending, urlinfo), nextSite(scheduler, table, stats, urlinfo) {
    downloads.folder = [this] {
        return scheduler.downloadFolder().empty() ? downloadFolder() : scheduler.downloadFolder();
    };
    extractor.linkFound.connect(receiver_, [this](const std::string& url) { table.addlink(url); });
    extractor.scanned.connect(receiver_, [this] { table.List.SetVisible(true); });
    extractor.offerHttpLinks([this] { return settings.httplinks; });
    // Resetting the statistics (or finding them corrupt) also forgets the
    // downloads that were under way.
    stats.statisticsReset.connect(receiver_, [this] { pending.clear(); });
    scheduler.hooks.savecfg.connect(receiver_, [this] { settings.savecfg(); });
    scheduler.hooks.addToLog.connect(receiver_, [this](const std::string& url) { downloadLog.append(url); });
    cfg.OnSchedulerInterval.connect(receiver_, [this](int ms) { scheduler.dfatimer.setInterval(ms); });
    cfg.OnFtpTls.connect(receiver_, [this](net::FtpTls mode) { scheduler.setFtpTls(mode); });
    cfg.OnLimitRate.connect(
        receiver_, [](int kib) { net::RateLimit::shared().setBytesPerSecond(std::int64_t{kib} * 1024); });
    // http:// and https:// files go through the proxy the settings name, as the searches do.
    scheduler.setHttpProxy([this] {
        if (!proxyControls.useproxy) return std::pair<std::string, std::string>();
        return std::pair(proxyControls.proxynamein, proxyControls.proxyportin);
    });
    // The lines for the status bar and the details window, from one place.
    dispatch.changed.connect(receiver_, [this] { searchChanged(); });
    scheduler.hooks.statusBar.connect(receiver_, [this](const std::string& text) { statusLine(text); });
    scheduler.hooks.statusmemo.connect(receiver_, [this](const std::string& line) { detailLine(line); });
    searchReport.statusLine.connect(receiver_, [this](const std::string& line) { statusLine(line); });
    searchReport.detailLine.connect(receiver_, [this](const std::string& line) { detailLine(line); });
    // A file removed from the downloads view leaves the stored pending list at once.
    downloads.savePending = [this] {
        try {
            settings.savecfg();
        } catch (const platform::EProfileError&) {
            // Said at start and at exit; the list in memory is right.
        }
    };
    // What the files that arrive are, what they came to, and what is passed over.
    cfg.OnVerify.connect(receiver_, [this](bool on) { scheduler.setVerify(on); });
    scheduler.hooks.fileVerified.connect(receiver_,
                                         [this](const std::string& url, const std::string& path,
                                                const media::Verdict& v) { recordVerified(url, path, v); });
    scheduler.hooks.fileDone.connect(
        receiver_, [this](const std::string& url, bool fetched) { recordDone(url, fetched); });
    scheduler.admits = [this](const url::tlinfo& link) {
        const std::optional<Skip> skip = skipOf(link.url);
        if (!skip) return true;
        const std::string line = skipLine(link.url, *skip);
        statusLine(line);
        detailLine(line);
        skipped(link.url, *skip);
        return false;
    };
    nextSite.skipBecause = [this](const std::string& url) {
        return scheduler.verifies() ? records.refusedBecause(url) : std::string();
    };
    nextSite.launch = [this](const url::tlinfo& link) {
        // A row the same command already handed over is on its way: it is
        // the try (its arrival stands for the failed one).
        if (!underWay(link.url)) scheduler.launchftp(link);
    };
    nextSite.status.connect(receiver_, [this](const std::string& line) {
        statusLine(line);
        detailLine(line);
    });
    nextSite.skipped.connect(receiver_, [this](const std::string& url, const std::string& why) {
        detailLine(skipLine(url, {Skip::ServedNoSong, why}));
    });
    // Every tick refreshes the status view while it is shown.
    scheduler.hooks.updatestatus.connect(receiver_, [this] {
        if (status.viewMode && status.viewMode() == download::StatusViewMode) status.updatestatus();
    });
}

void Wavetrap::resumePendingDownloads() {
    download::resumePending(pending, urlinfo, scheduler);
}

void Wavetrap::loadSettingsAtStartup() {
    // The mode read reaches the scheduler also when a later step of the
    // start-up fails (a settings directory that cannot be written).
    try {
        shell::loadSettingsAtStartup(mainStorage, cfg, settings, startlinks);
    } catch (...) {
        scheduler.setFtpTls(settings.ftptls);
        throw;
    }
    scheduler.setFtpTls(settings.ftptls);
}

void Wavetrap::loadSettingsAfterMainWindow() {
    // The mode read reaches the scheduler also when a later step of the
    // start-up fails (a settings directory that cannot be written).
    try {
        shell::loadSettingsAfterMainWindow(cfg, settings, startlinks);
    } catch (...) {
        scheduler.setFtpTls(settings.ftptls);
        throw;
    }
    scheduler.setFtpTls(settings.ftptls);
}

bool Wavetrap::checkForUpdatesAtStartup() {
    if (!cfg.checkupdate()) return false;
    updatecheck.Checkforupdatestosearchengines1Click();
    return true;
}

void Wavetrap::saveSettingsAtExit() {
    shell::saveSettingsAtExit(mainStorage, cfg, settings);
    downloadLog.Destroy(); // saved when it was shown and not saved since
}

// ---- Start-up and exit ----------------------------------------------------------

MainWindowPlacement Wavetrap::restoreMainWindow() {
    mainStorage.storage.Restore();
    MainWindowPlacement p;
    // The design-time 640 x 480 at 0,0 (a first run), or a rectangle too
    // small to hold the toolbar, is no place of the user's.
    const auto& r = mainStorage.placement.NormPos;
    const std::array<int, 4> designTime{0, 0, 640, 480};
    p.rect = r;
    p.stored = r != designTime && r[2] - r[0] >= 200 && r[3] - r[1] >= 150;
    p.toolbarAtBottom = mainStorage.SpeedBar1_Align == "alBottom";
    p.manualAdd = mainStorage.manualadd_Items;
    p.statusWidths = mainStorage.liststatus_Columns;
    return p;
}

void Wavetrap::storeMainWindow(const std::array<int, 4>& rect, bool toolbarAtBottom,
                               const platform::StringList& statusWidths) {
    mainStorage.placement.NormPos = rect;
    mainStorage.SpeedBar1_Align = toolbarAtBottom ? "alBottom" : "alTop";
    mainStorage.liststatus_Columns = statusWidths;
}

StartReport Wavetrap::start(const StartOptions& options) {
    started_ = options;
    StartReport report;
    try {
        if (options.mainWindowRestored)
            loadSettingsAfterMainWindow();
        else
            loadSettingsAtStartup();
    } catch (const platform::EProfileError& e) {
        report.settingsProblem = settingsProblem(e.what());
        settingsProblemSaid_ = true;
    }
    net::RateLimit::shared().setBytesPerSecond(std::int64_t{settings.limitrate} * 1024);
    if (options.downloadFolder) report.folderProblem = prepareDownloadFolder();
    scheduler.setVerify(settings.verify);
    // The files left pending by the last run show before they go back to the slots.
    downloads.readPending();
    if (options.downloadLog) downloadLog.ShowLog1Click();
    urlinfo.clearCache();
    stats.cacheinit();
    if (options.tick) scheduler.dfatimer.setEnabled(true);
    if (options.checkForUpdates && cfg.checkupdate()) report.update = checkForUpdates();
    if (options.resumePending) resumePendingDownloads();
    report.showGuide = cfg.Guideshow();
    if (options.tick) scheduler.dfatimer.setInterval(SettingsModel::schedulerInterval(cfg.dfatime()));
    return report;
}

std::string Wavetrap::stop() {
    try {
        saveSettingsAtExit();
        if (started_.downloadLog) downloadLog.FormClose();
    } catch (const platform::EProfileError& e) {
        if (settingsProblemSaid_) return {};
        settingsProblemSaid_ = true;
        return settingsProblem(e.what());
    }
    return {};
}

// ---- Commands -----------------------------------------------------------------------

SearchStart Wavetrap::searchBy(const std::function<void()>& command) {
    const std::uint64_t before = dispatch.queriesStarted();
    SearchStart result;
    try {
        command();
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    result.started = dispatch.queriesStarted() != before;
    return result;
}

SearchStart Wavetrap::search(const std::string& text, bool enter) {
    dispatch.search.Text = text;
    return searchBy([this, enter] {
        if (enter)
            dispatch.searchKeyDown(13); // Return
        else
            dispatch.Start_search_butClick();
    });
}

SearchControls Wavetrap::searchControls() const {
    SearchControls c;
    // The bar grows by a step per engine that answered: full when all have.
    const int inFlight = static_cast<int>(dispatch.clientlist.size());
    const int total = std::min(search::SearchDispatch::PbarMax,
                               dispatch.pbarPosition() + inFlight * search::SearchDispatch::PbarStep);
    c.pbarMax = total > 0 ? total : search::SearchDispatch::PbarMax;
    c.pbarPosition = dispatch.pbarPosition();
    c.pbarVisible = dispatch.pbarVisible();
    c.cancelVisible = dispatch.cancelbutVisible();
    c.history = dispatch.search.Items;
    c.text = dispatch.search.Text;
    c.queue = dispatch.htmlbuf;
    return c;
}

std::optional<UpdateReport> Wavetrap::checkForUpdates() {
    // A reply may move the address: the report names the one asked.
    updateWhere_ = "http://" + mainStorage.updateIP_Caption + mainStorage.updatefile_Caption;
    try {
        updatecheck.Checkforupdatestosearchengines1Click();
    } catch (const net::ESocketException& e) {
        return updateNotStarted(e.what());
    }
    return std::nullopt;
}

UpdateReport Wavetrap::updateReport(UpdateOutcome outcome) const {
    return shell::updateReport(outcome, updateWhere_, updatecheck.connectError(),
                               static_cast<std::size_t>(startlinks.Count()));
}

const platform::StringList& Wavetrap::statusColumns() {
    return download::StatusView::columns();
}

const std::vector<int>& Wavetrap::statusColumnWidths() {
    return download::StatusView::columnWidths();
}

std::string Wavetrap::fileDialogFolder() const {
    return shell::fileDialogFolder(downloads.folder ? downloads.folder() : downloadFolder(), installFolder(),
                                   homeFolder());
}

std::string Wavetrap::prepareDownloadFolder() {
    std::string problem = shell::prepareDownloadFolder(settings.downloadfolder);
    // Files begun elsewhere keep their whole path in the pending list and
    // are continued there; new ones go to the folder as it is set now.
    if (problem.empty()) scheduler.setDownloadFolder(settings.downloadfolder);
    return problem;
}

std::string Wavetrap::closeQuestion() const {
    return shell::closeQuestion(scheduler);
}

std::unique_ptr<DownloadNotices> Wavetrap::downloadNotices() {
    return std::make_unique<DownloadNotices>(scheduler, urlinfo);
}

// ---- The files' records ---------------------------------------------------------------

std::string skipLine(const std::string& url, const Skip& skip) {
    if (skip.kind == Skip::AlreadyHere)
        return "already here: " + platform::printable(std::filesystem::path(skip.text).filename().string());
    return "skipped: " + platform::printable(url) + ": it served no song before (" +
           platform::printable(skip.text) + ")";
}

namespace {

std::string workingDirectory() {
    char* cwd = ::getcwd(nullptr, 0);
    const std::string dir = cwd ? cwd : ".";
    std::free(cwd);
    return dir;
}

} // namespace

std::optional<Skip> Wavetrap::skipOf(const std::string& url) const {
    // Without the check, files that are no songs are what is wanted.
    if (std::string why = scheduler.verifies() ? records.refusedBecause(url) : std::string(); !why.empty())
        return Skip{Skip::ServedNoSong, why};
    if (auto here = records.alreadyHere(url, workingDirectory())) return Skip{Skip::AlreadyHere, *here};
    return std::nullopt;
}

bool Wavetrap::underWay(const std::string& url) const {
    for (int n = 1; n <= download::SlotCount; ++n) {
        const download::Slot& s = scheduler.slot(n);
        if (s.phase == download::Phase::Idle) continue;
        if (std::find(s.queueUrls.begin(), s.queueUrls.end(), url) != s.queueUrls.end()) return true;
    }
    const auto& parked = scheduler.launchbuf();
    return std::find(parked.begin(), parked.end(), url) != parked.end();
}

void Wavetrap::recordVerified(const std::string& url, const std::string& path, const media::Verdict& v) {
    std::string error;
    switch (v.kind) {
    case media::Kind::Audio:
        summaries_[url] = media::summary(v);
        verified(url, summaries_[url]);
        break;
    case media::Kind::NotAudio:
        if (!records.notAudio(url, media::reason(v), error))
            detailLine("cannot record " + url + ": " + error);
        downloads.setFinishedPath(url, path);
        break;
    case media::Kind::Damaged:
        downloads.setFinishedPath(url, path);
        break;
    case media::Kind::Unreadable:
        break;
    }
}

void Wavetrap::recordDone(const std::string& url, bool fetched) {
    const auto line = summaries_.find(url);
    if (fetched) {
        const auto name = scheduler.localNames().find(url);
        if (name != scheduler.localNames().end()) {
            const std::filesystem::path path = std::filesystem::path(workingDirectory()) / name->second;
            std::string error;
            if (!records.fetched(url, path.string(), error))
                detailLine("cannot record " + url + ": " + error);
        }
        if (line != summaries_.end()) downloads.setDetail(url, line->second);
    }
    if (line != summaries_.end()) summaries_.erase(line);
}

} // namespace shell
