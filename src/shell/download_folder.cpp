#include "shell/download_folder.h"

#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace shell {

std::string defaultDownloadFolder() {
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty()) music = QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + "/Music";
    return (music + "/Wavetrap").toStdString();
}

std::string prepareDownloadFolder(const std::string& path) {
    namespace fs = std::filesystem;
    const std::string said = "The download folder \"" + path + "\" ";
    if (path.empty()) return "No download folder is set: choose one in the settings.";
    std::error_code e;
    if (fs::exists(path, e)) {
        if (!fs::is_directory(path, e)) return said + "is not a folder. Choose another in the settings.";
    } else {
        fs::create_directories(path, e);
        if (e) return said + "cannot be created (" + e.message() + "). Choose another in the settings.";
    }
    // Writable as the file system sees it (read-only mounts, ACLs, root squash):
    // a file is made and removed again, which access(2) would not tell.
    std::string probe = (fs::path(path) / ".wavetrap-write-test-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        const int err = errno;
        return said + "cannot be written to (" + std::strerror(err) + "). Choose another in the settings.";
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

} // namespace shell
