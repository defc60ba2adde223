// wavetrap-cli: the program's roads without a window.

#include "app/cli_commands.h"
#include "platform/dirlock.h"
#include "platform/profile.h"

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

namespace cli {

std::vector<Registered>& commands() {
    static std::vector<Registered> list;
    return list;
}

CliCommand::CliCommand(std::string name, std::string usage, std::string summary,
                       std::function<int(const std::vector<std::string>&)> run) {
    commands().push_back({std::move(name), std::move(usage), std::move(summary), std::move(run)});
}

int lockSettings(platform::SettingsLock& lock) {
    if (lock.acquire(platform::configDir())) return -1;
    return fail(lock.why());
}

int fail(const std::string& message) {
    std::cerr << "wavetrap-cli: " << message << "\n";
    return ExitError;
}

} // namespace cli

namespace {

void usage(std::ostream& out) {
    auto list = cli::commands();
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    out << "Usage: wavetrap-cli COMMAND [ARGS...]\n\n"
           "Finds MP3 files on FTP sites through search engines and fetches them.\n\nCommands:\n";
    for (const auto& c : list)
        out << "  " << c.usage << "\n      " << c.summary << "\n";
    out << "\nOptions:\n  --help       show this help\n  --version    show the version\n\n"
           "Settings live in $WAVETRAP_CONFIG_DIR, else $XDG_CONFIG_HOME/wavetrap (~/.config/wavetrap).\n"
           "Exit status: 0 when something was found or done, 1 when nothing, 2 on an error.\n";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // A file past the size limit (ulimit -f) fails its write, and says so,
    // instead of ending the program with the other downloads.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        usage(std::cerr);
        return cli::ExitError;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        usage(std::cout);
        return 0;
    }
    if (args[0] == "--version") {
        std::cout << "wavetrap-cli " << WAVETRAP_VERSION << "\n";
        return 0;
    }
    for (const auto& c : cli::commands()) {
        if (c.name != args[0]) continue;
        try {
            return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
        } catch (const std::exception& e) {
            return cli::fail(e.what());
        }
    }
    std::cerr << "wavetrap-cli: unknown command '" << args[0] << "'\n";
    usage(std::cerr);
    return cli::ExitError;
}
