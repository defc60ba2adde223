#pragma once
// The settings part of start-up and shut-down, shared by the window program
// and the command line:
//
//   start: the main window restores its stored properties; the settings
//   window is shown and hidden at once (restoring its options); loadcfg; the
//   external FTP program is located when its path is unknown; the default
//   engines fill an empty engine list.
//   exit: savecfg; the main window saves its stored properties on close; the
//   settings window saves its own when destroyed, since start-up showed it.

#include "search/engines.h"
#include "shell/main_storage.h"
#include "shell/settings.h"
#include "shell/settings_window.h"

namespace shell {

void loadSettingsAtStartup(MainWindowStorage& main, SettingsModel& cfg, Settings& settings,
                           search::EngineList& startlinks);
// The same without the main window's stored properties, for a window that
// restored them before it was first shown.
void loadSettingsAfterMainWindow(SettingsModel& cfg, Settings& settings, search::EngineList& startlinks);
void saveSettingsAtExit(MainWindowStorage& main, SettingsModel& cfg, Settings& settings);

} // namespace shell
