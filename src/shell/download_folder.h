#pragma once
// The folder the window's downloads go to (the setting "downloadfolder"): by
// default "Wavetrap" in the desktop's music folder. Before a transfer starts
// the folder is made when missing and tried for writing, so a folder that
// cannot take files is said at once, not after the first file fails.

#include <string>

namespace shell {

// The desktop's music folder (XDG_MUSIC_DIR, else ~/Music) with "/Wavetrap".
std::string defaultDownloadFolder();

// Makes the folder (and its parents) when missing and checks that a file can
// be made in it. Answers empty when it can take downloads, else a sentence
// for people naming the folder and why.
std::string prepareDownloadFolder(const std::string& path);

} // namespace shell
