#pragma once
// Where the window's file dialogs open ("Save to list", finding the external
// FTP program): in the folder the downloads go to, unless that is the folder
// the program itself is installed in (a start from a menu or a file manager
// may leave the working directory there) or the root folder, and then in the
// user's home folder.

#include <string>

namespace shell {

// The folder the downloads of this run go to (the working directory).
std::string downloadFolder();
// The folder the program's executable lies in.
std::string installFolder();
std::string homeFolder();

// The folder a file dialog opens in.
std::string fileDialogFolder();
// The same for given folders: downloads unless it is missing, is not a
// folder, is the install folder or the root folder; else home.
std::string fileDialogFolder(const std::string& downloads, const std::string& installed,
                             const std::string& home);

} // namespace shell
