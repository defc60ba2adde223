#pragma once
// The external download route: one macro script per site and directory for an
// external FTP program, written into the current directory, and the program
// started once per script with the script's path as its one argument.

#include "url/urlinfo.h"

#include <functional>
#include <string>
#include <vector>

namespace download {

// At most this many chosen files take part; later ones are ignored.
inline constexpr int MacroEntries = 40;

// The script lines (without line ends) for one site and directory.
std::vector<std::string> macroLines(const url::tlinfo& entry, const std::vector<std::string>& files);

struct MacroScript {
    std::string name; // "<0..99>cm <site>.scr"
    std::string path; // its absolute path
    int files = 0;    // the RemoteSelect lines
};

class MacroWriter {
public:
    // Told "Building macro for: <file name>" for every entry taken.
    std::function<void(const std::string& line)> statusmemo;
    // The directory the scripts go to (empty: the current directory).
    std::string directory;

    // Writes the scripts for the first MacroEntries of the URLs: the files of
    // one site and directory (compared exactly) share a script. Names are
    // drawn until one is free in this run, so no script overwrites another.
    // Throws std::runtime_error when a script cannot be written; the scripts
    // written before it stay.
    std::vector<MacroScript> write(url::UrlInfo& urlinfo, const std::vector<std::string>& urls);

    // Starts program with "macro=<script path>" as its one argument, without
    // a shell. Answers whether it started.
    static bool start(const std::string& program, const MacroScript& script);
};

} // namespace download
