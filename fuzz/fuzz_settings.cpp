// Loading both settings files: the input holds the text of "wavbin.Ini",
// then a line "=====", then the text of "wavbin". The program starts with
// them (stored window properties, pending downloads, proxy, engine list),
// saves at exit, and a second start must read back what the first one held.
// Only the parts that read and write the two files are built (as the program
// wires them), not the fourteen download slots: many more inputs a second.
#include "download/pending.h"
#include "platform/signal.h"
#include "results/site_stats.h"
#include "shell/startup_settings.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string dir;

void writeFile(const std::string& name, std::string_view text) {
    std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// The program's settings parts, wired as in the program.
struct Stored {
    download::PendingDownloads pending;
    results::SiteStats stats;
    search::EngineList startlinks;
    search::ProxyControls proxyControls;
    shell::Settings settings{pending, startlinks, proxyControls};
    shell::SettingsModel cfg{settings, startlinks, proxyControls};
    shell::MainWindowStorage mainStorage{stats};
    platform::Receiver receiver;

    Stored() {
        stats.statisticsReset.connect(receiver, [this] { pending.clear(); });
        shell::loadSettingsAtStartup(mainStorage, cfg, settings, startlinks);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    // In $TMPDIR (run-all points it at a memory file system: every write syncs).
    const char* tmp = std::getenv("TMPDIR");
    dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/wavetrap-fuzz-settings-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    ::setenv("WAVETRAP_CONFIG_DIR", dir.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t sep = text.find("\n=====\n");
    writeFile(shell::SettingsFile, text.substr(0, sep));
    writeFile(shell::FormStorageFile,
              sep == std::string_view::npos ? std::string_view() : text.substr(sep + 7));

    download::PendingDownloads pending;
    platform::StringList engines, ip, good, bad;
    shell::WindowPlacement cfgPlace, mainPlace;
    {
        Stored w;
        for (const std::string& url : w.pending.downloading)
            if (url.empty()) std::abort(); // nothing to resume in an empty entry
        pending = w.pending;
        engines = w.startlinks.Items();
        ip = w.stats.stats_ip;
        good = w.stats.stats_good;
        bad = w.stats.stats_bad;
        cfgPlace = w.cfg.placement;
        mainPlace = w.mainStorage.placement;
        shell::saveSettingsAtExit(w.mainStorage, w.cfg, w.settings);
    }
    Stored again;
    if (again.pending.downloading != pending.downloading || again.pending.localName != pending.localName ||
        again.pending.version != pending.version)
        std::abort();
    if (again.startlinks.Items() != engines) std::abort();
    if (again.stats.stats_ip != ip || again.stats.stats_good != good || again.stats.stats_bad != bad)
        std::abort();
    if (!(again.cfg.placement == cfgPlace) || !(again.mainStorage.placement == mainPlace)) std::abort();
    return 0;
}
