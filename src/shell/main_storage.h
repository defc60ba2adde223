#pragma once
// The main window's stored properties (section "items"): the toolbar's
// docking edge, the update address and path, the three statistics lists, the
// status view's column widths, the manual-add history and the hidden "ontop"
// menu item, and its position.

#include "platform/listview.h"
#include "results/site_stats.h"
#include "shell/formstorage.h"

#include <string>

namespace shell {

// The design-time values of the update address and path. The host is a
// reserved name that fails at once, so an unset address never waits on the network.
inline constexpr const char* DefaultUpdateHost = "update.wavetrap.invalid";
inline constexpr const char* DefaultUpdateFile = "/~jorun/update.txt";

class MainWindowStorage {
public:
    explicit MainWindowStorage(results::SiteStats& stats, std::string storageFile = FormStorageFile);

    std::string SpeedBar1_Align = "alTop";            // the toolbar's docking edge
    std::string updateIP_Caption = DefaultUpdateHost; // host of the update file
    std::string updatefile_Caption = DefaultUpdateFile;
    platform::StringList manualadd_Items;    // the manual-add history, newest first
    platform::StringList liststatus_Columns; // the status view's column widths, decimal
    bool ontop_Checked = false;
    WindowPlacement placement;

    // Restored before the main window's show handler; saved when it closes.
    FormStorage storage;

private:
    results::SiteStats& stats_;
    // The statistics lists as read, applied together once the restore is done.
    platform::StringList ip_, good_, bad_;
    bool statsRead_ = false;
};

} // namespace shell
