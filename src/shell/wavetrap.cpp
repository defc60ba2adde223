#include "shell/wavetrap.h"

#include "shell/startup_settings.h"

namespace shell {

Wavetrap::Wavetrap()
    : table(urlinfo, stats), stats(table, pending), extractor(table),
      settings(pending, startlinks, proxyControls), cfg(settings, startlinks, proxyControls),
      mainStorage(stats), dispatch(startlinks, proxyControls, extractor) {}

void Wavetrap::loadSettingsAtStartup() {
    shell::loadSettingsAtStartup(mainStorage, cfg, settings, startlinks);
}

void Wavetrap::saveSettingsAtExit() {
    shell::saveSettingsAtExit(mainStorage, cfg, settings);
}

} // namespace shell
