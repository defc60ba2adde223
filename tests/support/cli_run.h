#pragma once
// Runs the built wavetrap-cli as a child process and collects what it did.

#include <string>
#include <vector>

namespace testsupport {

struct CliRun {
    int exitCode = -1; // -1 when the program did not exit normally
    std::string out, err;
};

// Runs wavetrap-cli with args (the subcommand first), the settings directory
// configDir, and input on its standard input.
CliRun runCli(const std::vector<std::string>& args, const std::string& configDir,
              const std::string& input = {});

} // namespace testsupport
