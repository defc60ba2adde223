#pragma once
// The subcommands of wavetrap-cli. Each lives in its own cli_<name>.cpp and
// registers itself with a static CliCommand object.

#include "platform/dirlock.h"

#include <functional>
#include <string>
#include <vector>

namespace cli {

// Exit statuses shared by every subcommand.
constexpr int ExitRows = 0;  // something was found / done
constexpr int ExitNone = 1;  // nothing found / not everything done
constexpr int ExitError = 2; // bad usage or an error (message on standard error)

struct CliCommand {
    // run gets the arguments after the subcommand's name.
    CliCommand(std::string name, std::string usage, std::string summary,
               std::function<int(const std::vector<std::string>&)> run);
};

struct Registered {
    std::string name, usage, summary;
    std::function<int(const std::vector<std::string>&)> run;
};
std::vector<Registered>& commands();

// Prints "wavetrap-cli: <message>" on standard error and answers ExitError.
int fail(const std::string& message);

// For the commands that write the settings: takes the settings directory's
// lock; -1 when taken, else ExitError after saying who holds it.
int lockSettings(platform::SettingsLock& lock);

} // namespace cli
