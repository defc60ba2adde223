// wavetrap-cli extract [--http-links] [FILE...]: scans result pages for MP3
// links on FTP sites (and web sites) and prints the result table, scored with
// the stored site statistics.

#include "app/cli_commands.h"
#include "platform/text.h"
#include "shell/wavetrap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* Usage = "extract [FILE...]";
constexpr std::size_t BlockSize = 256 * 1024;

void help() {
    std::cout << "Usage: wavetrap-cli extract [FILE...]\n\n"
                 "Reads each FILE (standard input when none is given, or for \"-\") as the text of one\n"
                 "result page, finds the quoted ftp:// links to .mp3 files and prints the result\n"
                 "table: one row per line, the cells Filename, Score, Site and URL separated by tabs,\n"
                 "highest score first. At most 150 links are listed.\n\n"
                 "Options:\n"
                 "  --http-links   offer quoted http:// and https:// links to .mp3 files too (as the\n"
                 "                 setting httplinks=1 does)\n"
                 "  --help         show this help\n\n"
                 "Scores come from the site statistics in the file \"wavbin\" of the settings directory\n"
                 "($WAVETRAP_CONFIG_DIR, else $XDG_CONFIG_HOME/wavetrap, else ~/.config/wavetrap), the\n"
                 "setting httplinks from \"wavbin.Ini\" there; nothing is written there.\n\n"
                 "Exit status: 0 when at least one row was printed, 1 when none, 2 on an error.\n";
}

// Feeds one page to the extractor in blocks, as the network would. Answers
// an error message, or an empty text.
std::string scanPage(int fd, const std::string& name, search::LinkExtractor& extractor,
                     std::vector<char>& buffer) {
    search::ScanState st;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return name + ": " + std::strerror(errno);
        }
        if (got == 0) break;
        extractor.compileClick(std::string_view(buffer.data(), static_cast<std::size_t>(got)), st);
    }
    extractor.endPage(st);
    return {};
}

int runExtract(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool options = true;
    bool httpLinks = false;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            help();
            return cli::ExitRows;
        } else if (options && a == "--version") {
            std::cout << "wavetrap-cli " << WAVETRAP_VERSION << "\n";
            return cli::ExitRows;
        } else if (options && a == "--http-links") {
            httpLinks = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            return cli::fail("extract: unknown option '" + a + "' (see wavetrap-cli extract --help)");
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) files.push_back("-");

    shell::Wavetrap w;
    w.mainStorage.storage.Restore(); // the statistics lists among the main window's stored properties
    w.stats.cacheinit();
    w.settings.loadcfg();                                           // httplinks
    if (httpLinks) w.extractor.offerHttpLinks([] { return true; }); // this run only

    bool failed = false;
    std::vector<char> buffer(BlockSize);
    for (const std::string& f : files) {
        const bool stdinput = f == "-";
        const int fd = stdinput ? STDIN_FILENO : ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            cli::fail("extract: " + f + ": " + std::strerror(errno));
            failed = true;
            continue;
        }
        const std::string err = scanPage(fd, stdinput ? "standard input" : f, w.extractor, buffer);
        if (!stdinput) ::close(fd);
        if (!err.empty()) {
            cli::fail("extract: " + err);
            failed = true;
        }
    }

    std::string out;
    for (const platform::ListItem& row : w.table.List.Items()) {
        for (std::size_t c = 0; c < 4; ++c) {
            if (c) out += '\t';
            out += platform::printable(row.cell(c)); // page text: no control reaches the terminal
        }
        out += '\n';
    }
    if ((!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) ||
        std::fflush(stdout) != 0) {
        cli::fail(std::string("extract: cannot write the table: ") + std::strerror(errno));
        failed = true;
    }
    if (failed) return cli::ExitError;
    return w.table.List.Count() > 0 ? cli::ExitRows : cli::ExitNone;
}

const cli::CliCommand command("extract", Usage,
                              "scan result pages (or standard input) and print the result table", runExtract);

} // namespace
