// wavetrap-cli macro [--no-start] URL...: the external download route without
// a window. The URLs stand for the chosen rows of the result table; one macro
// script per site and directory goes to the current directory and the external
// FTP program of the settings is started once per script.

#include "app/cli_commands.h"
#include "download/fileurl.h"
#include "platform/text.h"
#include "shell/mainviews.h"
#include "shell/wavetrap.h"

#include <iostream>

namespace {

constexpr const char* Usage = "macro [--no-start] URL...";

void help() {
    std::cout << "Usage: wavetrap-cli macro [--no-start] URL...\n\n"
                 "Writes the macro scripts of the external FTP program for the ftp:// URLs, as the window\n"
                 "does when \"Use CuteFTP\" is set: one script per site and directory, named\n"
                 "\"<0-99>cm <site>.scr\", in the current directory (at most 40 files take part), and\n"
                 "starts the program of the settings (key \"path\" of [Settings] in wavbin.Ini) once per\n"
                 "script with the one argument \"macro=<script path>\". Prints each script's name.\n\n"
                 "  --no-start   write the scripts, start nothing\n\n"
                 "Exit status: 0 when scripts were written (and every start succeeded), 1 when a start\n"
                 "failed, 2 on an error.\n";
}

int macroCommand(const std::vector<std::string>& args) {
    bool start = true, options = true;
    std::vector<std::string> urls;
    for (const auto& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            help();
            return cli::ExitRows;
        } else if (options && a == "--no-start") {
            start = false;
        } else if (options && a.size() > 1 && a[0] == '-') {
            return cli::fail("unknown option '" + a + "' (see wavetrap-cli macro --help)");
        } else if (const std::string problem = download::fileUrlProblem(a, true); !problem.empty()) {
            return cli::fail(problem + ": " + platform::printable(a));
        } else {
            urls.push_back(a);
        }
    }
    if (urls.empty()) return cli::fail("no URL given (see wavetrap-cli macro --help)");

    shell::Wavetrap w;
    w.loadSettingsAtStartup();
    shell::MainViews views(w);
    for (const auto& u : urls) {
        const url::tlinfo l = w.urlinfo.info(u);
        const int row = w.table.List.Add({l.fname, std::to_string(w.stats.ip_to_score(l.site)), l.site, u});
        w.table.List.SetSelected(row, true);
    }
    bool failed = false;
    views.message.connect([&failed](const std::string& text) {
        std::cerr << "wavetrap-cli: " << text << "\n";
        failed = true;
    });
    for (const auto& s : views.externalRoute(start))
        std::cout << s.name << "\n";
    return failed ? cli::ExitNone : cli::ExitRows;
}

const cli::CliCommand registration{
    "macro", Usage,
    "write the external FTP program's macro scripts for the URLs into the current "
    "directory and start the program once per script",
    macroCommand};

} // namespace
