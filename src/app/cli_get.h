#pragma once
// Running the download scheduler from the command line: shared by "get",
// "resume" and "search --download".

#include "download/scheduler.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace shell {
class Wavetrap;
}

namespace cli {

struct DownloadRun {
    int pace = 1;                  // track-bar position 1..10: tick of pace x 200 - 100 ms
    std::vector<std::string> urls; // the files handed to launchftp, in order
    bool statusRows = false;       // redraw the busy slots on standard error
    bool verbose = false;          // show the clients' lines and the errors on standard error
    std::int64_t limitRate = -1;   // bytes per second for all transfers (0: none; -1: as set)
    // Hands the files to the scheduler, once the run listens (a URL passed
    // over is told at once).
    std::function<void()> launch;
};

// Valid track-bar position from text ("1".."10"); false otherwise.
bool parsePace(const std::string& text, int& pace);

// Hands the files to the scheduler (run.launch) and runs it until every slot
// has ended and nothing is parked, or until SIGINT/SIGTERM. Answers ExitRows
// when every file of run.urls arrived whole (from its own site or another
// one that offers its name) or is already here, else ExitNone. The caller
// saves the settings afterwards, as the program does at exit.
int runDownloads(shell::Wavetrap& w, const DownloadRun& run);

// Tells every URL the scheduler refuses on standard error while the
// connection lasts.
platform::ScopedConnection reportRefused(download::Scheduler& scheduler);

} // namespace cli
