#include "shell/file_dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <filesystem>
#include <system_error>

namespace shell {

std::string downloadFolder() {
    std::error_code e;
    const std::filesystem::path cwd = std::filesystem::current_path(e);
    return e ? std::string() : cwd.string();
}

std::string installFolder() {
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath().toStdString()
                                        : std::string();
}

std::string homeFolder() {
    return QDir::homePath().toStdString();
}

std::string fileDialogFolder() {
    return fileDialogFolder(downloadFolder(), installFolder(), homeFolder());
}

std::string fileDialogFolder(const std::string& downloads, const std::string& installed,
                             const std::string& home) {
    namespace fs = std::filesystem;
    std::error_code e;
    if (downloads.empty() || !fs::is_directory(downloads, e)) return home;
    if (fs::equivalent(downloads, "/", e)) return home;
    if (!installed.empty() && fs::equivalent(downloads, installed, e)) return home;
    return downloads;
}

} // namespace shell
