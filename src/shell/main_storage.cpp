#include "shell/main_storage.h"

#include <utility>

namespace shell {

MainWindowStorage::MainWindowStorage(results::SiteStats& stats, std::string storageFile)
    : storage(MainWindowLayout(), std::move(storageFile)), stats_(stats) {
    placement.NormPos = {0, 0, 640, 480};
    storage.bindEnumeration(
        "SpeedBar1.Align", [this] { return SpeedBar1_Align; },
        [this](const std::string& v) { SpeedBar1_Align = v; });
    // An empty address (left by an update file with CR LF line ends) would
    // fail every check, and nothing lets the user set it: it is not taken.
    storage.bindText(
        "updateIP.Caption", [this] { return updateIP_Caption; },
        [this](const std::string& v) {
            if (!v.empty()) updateIP_Caption = v;
        });
    storage.bindText(
        "updatefile.Caption", [this] { return updatefile_Caption; },
        [this](const std::string& v) {
            if (!v.empty()) updatefile_Caption = v;
        });
    // Each statistics list is replaced only when stored rows exist; the three
    // are handed to the statistics together, which keeps them parallel.
    auto bindStats = [this](const char* name, platform::StringList& buffer,
                            const platform::StringList& current) {
        storage.bindStrings(
            name, [&current] { return current; },
            [this, &buffer](platform::StringList v) {
                buffer = std::move(v);
                statsRead_ = true;
            });
    };
    bindStats("stats_bad.Items", bad_, stats_.stats_bad);
    bindStats("stats_good.Items", good_, stats_.stats_good);
    bindStats("stats_ip.Items", ip_, stats_.stats_ip);
    storage.bindStrings("liststatus.Columns", liststatus_Columns);
    storage.bindStrings("manualadd.Items", manualadd_Items);
    storage.bindBoolean(
        "ontop.Checked", [this] { return ontop_Checked; }, [this](bool v) { ontop_Checked = v; });
    storage.bindPlacement(placement);
    storage.OnRestored = [this] {
        if (!statsRead_) return;
        // The lists read are handed over, not copied; a list not stored keeps its rows.
        auto take = [](platform::StringList& read, const platform::StringList& current) {
            return read.empty() ? platform::StringList(current) : std::move(read);
        };
        stats_.setLists(take(ip_, stats_.stats_ip), take(good_, stats_.stats_good),
                        take(bad_, stats_.stats_bad));
        ip_.clear();
        good_.clear();
        bad_.clear();
        statsRead_ = false;
    };
}

} // namespace shell
