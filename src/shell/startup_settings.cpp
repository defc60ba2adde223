#include "shell/startup_settings.h"

namespace shell {

void loadSettingsAtStartup(MainWindowStorage& main, SettingsWindow& cfg, Settings& settings,
                           search::EngineList& startlinks) {
    main.storage.Restore();
    cfg.Show();
    cfg.Hide();
    settings.loadcfg();
    if (settings.path.empty()) cfg.Button1Click();
    startlinks.addDefaultEngines();
}

void saveSettingsAtExit(MainWindowStorage& main, SettingsWindow& cfg, Settings& settings) {
    settings.savecfg();
    main.storage.FormClose();
    cfg.Destroy();
}

} // namespace shell
