#include "shell/startup_settings.h"

#include "platform/profile.h"

namespace shell {

void loadSettingsAtStartup(MainWindowStorage& main, SettingsModel& cfg, Settings& settings,
                           search::EngineList& startlinks) {
    main.storage.Restore();
    loadSettingsAfterMainWindow(cfg, settings, startlinks);
}

void loadSettingsAfterMainWindow(SettingsModel& cfg, Settings& settings, search::EngineList& startlinks) {
    cfg.Show();
    cfg.Hide();
    settings.loadcfg();
    if (settings.path.empty()) cfg.Button1Click();
    startlinks.addDefaultEngines();
}

void saveSettingsAtExit(MainWindowStorage& main, SettingsModel& cfg, Settings& settings) {
    settings.savecfg();
    // The main window's close and the settings window's destruction, written
    // to "wavbin" as one replacement of the file.
    platform::TIniFile forms(main.storage.FileName());
    platform::IniBatch batch(forms);
    main.storage.Save(forms);
    cfg.storage.FormDestroy(forms);
}

} // namespace shell
