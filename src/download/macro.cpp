#include "download/macro.h"

#include "platform/system.h"

#include <QDir>
#include <QSaveFile>
#include <set>
#include <stdexcept>

namespace download {

std::vector<std::string> macroLines(const url::tlinfo& e, const std::vector<std::string>& files) {
    std::vector<std::string> lines{"Host " + e.site, "Login Normal", "User " + e.user, "Pass " + e.pass,
                                   "Connect"};
    // "/pub/mp3" gives the components "", "pub" and "mp3".
    std::string d = e.dir + "/";
    while (d.size() >= 2) {
        const std::size_t slash = d.find('/');
        lines.push_back("RemoteCwd " + d.substr(0, slash));
        d = d.substr(slash + 1);
    }
    lines.push_back("RemoteClearSelection");
    for (const auto& f : files)
        lines.push_back("RemoteSelect " + f);
    lines.push_back("Download");
    return lines;
}

std::vector<MacroScript> MacroWriter::write(url::UrlInfo& urlinfo, const std::vector<std::string>& urls) {
    std::vector<url::tlinfo> entries;
    for (const auto& url : urls) {
        if (static_cast<int>(entries.size()) >= MacroEntries) break;
        entries.push_back(urlinfo.info(url));
        if (statusmemo) statusmemo("Building macro for: " + entries.back().fname);
    }
    const QDir dir(directory.empty() ? QDir::currentPath() : QString::fromStdString(directory));
    std::vector<MacroScript> scripts;
    std::set<std::string> used;
    const std::vector<url::tlinfo> copies = entries; // sites are cleared as entries are taken
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].site.empty()) continue;
        MacroScript s;
        do {
            s.name = std::to_string(platform::Random(100)) + "cm " + entries[k].site + ".scr";
        } while (used.count(s.name) != 0);
        used.insert(s.name);
        std::vector<std::string> files;
        for (std::size_t j = 0; j < entries.size(); ++j) {
            if (entries[j].site.empty() || copies[j].site != copies[k].site || copies[j].dir != copies[k].dir)
                continue;
            files.push_back(copies[j].fname);
            entries[j].site.clear();
        }
        s.files = static_cast<int>(files.size());
        QByteArray text;
        for (const auto& line : macroLines(copies[k], files))
            text += QByteArray::fromStdString(line) + "\r\n";
        s.path = dir.absoluteFilePath(QString::fromStdString(s.name)).toStdString();
        QSaveFile file(QString::fromStdString(s.path));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            throw std::runtime_error("Cannot write " + s.path + ": " + file.errorString().toStdString());
        scripts.push_back(std::move(s));
    }
    return scripts;
}

bool MacroWriter::start(const std::string& program, const MacroScript& script) {
    if (program.empty()) return false;
    return platform::startProgram(program, {"macro=" + script.path});
}

} // namespace download
