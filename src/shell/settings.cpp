#include "shell/settings.h"

#include "platform/profile.h"
#include "shell/formstorage.h"

namespace shell {
namespace {

// A pending list: "count", then keys "0" .. count-1; a missing key reads empty.
void readPendingList(const platform::TIniFile& ini, const std::string& section, platform::StringList& into) {
    const int count = storedListLength(ini.ReadInteger(section, "count", 0), ini.KeyCount(section));
    for (int i = 0; i < count; ++i)
        into.push_back(ini.ReadString(section, std::to_string(i), ""));
}

// Keys of a longer earlier list stay in the file; the count governs.
void writePendingList(platform::TIniFile& ini, const std::string& section, const platform::StringList& list) {
    ini.WriteInteger(section, "count", static_cast<int>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i)
        ini.WriteString(section, std::to_string(i), list[i]);
}

} // namespace

Settings::Settings(download::PendingDownloads& pending, search::EngineList& startlinks,
                   search::ProxyControls& controls, std::string fileName)
    : pending_(pending), startlinks_(startlinks), controls_(controls), fileName_(std::move(fileName)) {}

void Settings::loadcfg() {
    const platform::TIniFile ini(fileName_);
    // A pending entry without a URL (a damaged count reads missing keys as
    // empty) is dropped with its size: there is nothing to resume in it.
    platform::StringList urls, sizes;
    readPendingList(ini, "downloading", urls);
    readPendingList(ini, "downloadings", sizes);
    for (std::size_t i = 0; i < urls.size(); ++i) {
        if (urls[i].empty()) continue;
        pending_.downloading.push_back(urls[i]);
        pending_.downloadingsize.push_back(i < sizes.size() ? sizes[i] : "0");
    }

    path = ini.ReadString("Settings", "path", path);
    proxy.proxyname = ini.ReadString("Settings", "proxyname", "");
    proxy.proxyport = ini.ReadString("Settings", "proxyport", "81");
    proxy.useproxy = ini.ReadInteger("Settings", "proxy", 0) != 0 && !proxy.proxyname.empty();

    controls_.useproxy = proxy.useproxy;
    controls_.proxynamein = proxy.proxyname;
    controls_.proxyportin = proxy.proxyport;

    for (int i = 0; i < StoredEngines; ++i) {
        const std::string entry = ini.ReadString("Links", std::to_string(i), "");
        if (!entry.empty()) startlinks_.addengine(entry);
    }
}

void Settings::savecfg() {
    platform::TIniFile ini(fileName_);
    platform::IniBatch batch(ini);
    writePendingList(ini, "downloading", pending_.downloading);
    writePendingList(ini, "downloadings", pending_.downloadingsize);
    ini.WriteString("Settings", "path", path);
    ini.WriteString("Settings", "proxyname", proxy.proxyname);
    ini.WriteString("Settings", "proxyport", proxy.proxyport);
    ini.WriteBool("Settings", "proxy", proxy.useproxy);
    for (int i = 0; i < StoredEngines; ++i)
        ini.WriteString("Links", std::to_string(i),
                        i < startlinks_.Count() ? startlinks_.Item(i) : std::string());
}

void Settings::copyProxyFromControls() {
    proxy.useproxy = controls_.useproxy;
    proxy.proxyname = controls_.proxynamein;
    proxy.proxyport = controls_.proxyportin;
}

} // namespace shell
