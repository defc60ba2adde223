#include "shell/wavetrap.h"

#include "download/queue.h"
#include "shell/startup_settings.h"

namespace shell {

Wavetrap::Wavetrap()
    : table(urlinfo, stats), stats(table, pending), extractor(table),
      settings(pending, startlinks, proxyControls), cfg(settings, startlinks, proxyControls),
      mainStorage(stats), dispatch(startlinks, proxyControls, extractor), scheduler(urlinfo, stats, pending),
      status(scheduler), logStorage(LogWindowLayout()) {
    scheduler.hooks.savecfg = [this] { settings.savecfg(); };
    scheduler.hooks.addToLog = [this](const std::string& url) { dllog.push_back(url); };
    logStorage.bindStrings("dllog.Items", dllog);
    cfg.OnSchedulerInterval = [this](int ms) { scheduler.dfatimer.setInterval(ms); };
    // Every tick refreshes the status view while it is shown.
    scheduler.hooks.updatestatus = [this] {
        if (status.viewMode && status.viewMode() == download::StatusViewMode) status.updatestatus();
    };
}

void Wavetrap::resumePendingDownloads() {
    download::resumePending(pending, urlinfo, scheduler);
}

void Wavetrap::loadSettingsAtStartup() {
    shell::loadSettingsAtStartup(mainStorage, cfg, settings, startlinks);
}

void Wavetrap::saveSettingsAtExit() {
    shell::saveSettingsAtExit(mainStorage, cfg, settings);
}

} // namespace shell
