#include "shell/wavetrap.h"

#include "download/queue.h"
#include "shell/startup_settings.h"

namespace shell {

static_assert(search::LinkExtractor::TableLimit == results::ResultTable::MaxLinks);

Wavetrap::Wavetrap()
    : table(urlinfo, stats), extractor([this] { return table.linklist.size(); }),
      settings(pending, startlinks, proxyControls), cfg(settings, startlinks, proxyControls),
      mainStorage(stats), updatecheck(mainStorage, settings.proxy, startlinks),
      dispatch(startlinks, proxyControls, extractor), searchReport(dispatch, table),
      scheduler(urlinfo, stats, pending), status(scheduler), downloadLog(urlinfo, scheduler) {
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
    // http:// and https:// files go through the proxy the settings name, as the searches do.
    scheduler.setHttpProxy([this] {
        if (!proxyControls.useproxy) return std::pair<std::string, std::string>();
        return std::pair(proxyControls.proxynamein, proxyControls.proxyportin);
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

} // namespace shell
