#include "shell/settings.h"

#include "download/fileurl.h"
#include "platform/profile.h"
#include "shell/download_folder.h"
#include "shell/formstorage.h"

#include <algorithm>
#include <charconv>

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

// A local name read back from the file: a plain file name in the download
// directory, never a path (a damaged file must not send a download elsewhere).
bool plainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The pending URLs written under another local name: "count", then for each
// "i" the URL and "i.name" its local name. Only entries whose URL is pending
// are read; the section is written only while it has entries.
void readLocalNames(const platform::TIniFile& ini, const platform::StringList& pending,
                    std::map<std::string, std::string>& into) {
    const char* section = "downloadingnames";
    const int count = storedListLength(ini.ReadInteger(section, "count", 0), ini.KeyCount(section));
    for (int i = 0; i < count; ++i) {
        const std::string url = ini.ReadString(section, std::to_string(i), "");
        const std::string name = ini.ReadString(section, std::to_string(i) + ".name", "");
        if (plainFileName(name) && std::find(pending.begin(), pending.end(), url) != pending.end())
            into[url] = name;
    }
}

void writeLocalNames(platform::TIniFile& ini, const platform::StringList& pending,
                     const std::map<std::string, std::string>& names) {
    const char* section = "downloadingnames";
    ini.EraseSection(section);
    int i = 0;
    for (const auto& [url, name] : names) {
        if (std::find(pending.begin(), pending.end(), url) == pending.end()) continue;
        ini.WriteString(section, std::to_string(i), url);
        ini.WriteString(section, std::to_string(i) + ".name", name);
        ++i;
    }
    if (i > 0) ini.WriteInteger(section, "count", i);
}

// The version of the partial file of pending http:// and https:// URLs:
// "count", then for each "i" the URL, "i.etag", "i.modified" and "i.size"
// (absent when the server did not say). Read like the local names: only for
// pending URLs, the section written only while it has entries.
void readVersions(const platform::TIniFile& ini, const platform::StringList& pending,
                  std::map<std::string, download::FileVersion>& into) {
    const char* section = "downloadingversions";
    const int count = storedListLength(ini.ReadInteger(section, "count", 0), ini.KeyCount(section));
    for (int i = 0; i < count; ++i) {
        const std::string k = std::to_string(i);
        const std::string url = ini.ReadString(section, k, "");
        if (url.empty() || std::find(pending.begin(), pending.end(), url) == pending.end()) continue;
        download::FileVersion v;
        v.etag = ini.ReadString(section, k + ".etag", "");
        v.lastModified = ini.ReadString(section, k + ".modified", "");
        const std::string size = ini.ReadString(section, k + ".size", "");
        std::int64_t n = -1;
        const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), n);
        if (ec == std::errc() && end == size.data() + size.size() && n >= 0) v.size = n;
        if (!v.empty()) into[url] = v;
    }
}

void writeVersions(platform::TIniFile& ini, const platform::StringList& pending,
                   const std::map<std::string, download::FileVersion>& versions) {
    const char* section = "downloadingversions";
    ini.EraseSection(section);
    int i = 0;
    for (const auto& [url, v] : versions) {
        if (v.empty() || std::find(pending.begin(), pending.end(), url) == pending.end()) continue;
        const std::string k = std::to_string(i);
        ini.WriteString(section, k, url);
        if (!v.etag.empty()) ini.WriteString(section, k + ".etag", v.etag);
        if (!v.lastModified.empty()) ini.WriteString(section, k + ".modified", v.lastModified);
        if (v.size >= 0) ini.WriteString(section, k + ".size", std::to_string(v.size));
        ++i;
    }
    if (i > 0) ini.WriteInteger(section, "count", i);
}

} // namespace

Settings::Settings(download::PendingDownloads& pending, search::EngineList& startlinks,
                   search::ProxyControls& controls, std::string fileName)
    : downloadfolder(defaultDownloadFolder()), pending_(pending), startlinks_(startlinks),
      controls_(controls), fileName_(std::move(fileName)) {}

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
    readLocalNames(ini, pending_.downloading, pending_.localName);
    readVersions(ini, pending_.downloading, pending_.version);

    path = ini.ReadString("Settings", "path", path);
    proxy.proxyname = ini.ReadString("Settings", "proxyname", "");
    proxy.proxyport = ini.ReadString("Settings", "proxyport", "81");
    proxy.useproxy = ini.ReadInteger("Settings", "proxy", 0) != 0 && !proxy.proxyname.empty();
    // An unknown value reads as off, which changes nothing.
    if (!download::parseFtpTlsMode(ini.ReadString("Settings", "ftptls", "off"), ftptls))
        ftptls = net::FtpTls::Off;
    httplinks = ini.ReadBool("Settings", "httplinks", false);
    downloadfolder = ini.ReadString("Settings", "downloadfolder", "");
    if (downloadfolder.empty()) downloadfolder = defaultDownloadFolder();
    // A negative or unreadable limit reads as none, which holds nothing back.
    limitrate = std::max(0, ini.ReadInteger("Settings", "limitrate", 0));
    verify = ini.ReadBool("Settings", "verify", true);

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
    writeLocalNames(ini, pending_.downloading, pending_.localName);
    writeVersions(ini, pending_.downloading, pending_.version);
    ini.WriteString("Settings", "path", path);
    ini.WriteString("Settings", "proxyname", proxy.proxyname);
    ini.WriteString("Settings", "proxyport", proxy.proxyport);
    ini.WriteBool("Settings", "proxy", proxy.useproxy);
    if (ftptls == net::FtpTls::Off)
        ini.DeleteKey("Settings", "ftptls"); // the default: the file stays as it was
    else
        ini.WriteString("Settings", "ftptls", download::ftpTlsModeName(ftptls));
    if (httplinks)
        ini.WriteBool("Settings", "httplinks", true);
    else
        ini.DeleteKey("Settings", "httplinks"); // the default: the file stays as it was
    // The defaults are not written, so a file of an earlier version stays as it was.
    if (downloadfolder.empty() || downloadfolder == defaultDownloadFolder())
        ini.DeleteKey("Settings", "downloadfolder");
    else
        ini.WriteString("Settings", "downloadfolder", downloadfolder);
    if (limitrate > 0)
        ini.WriteInteger("Settings", "limitrate", limitrate);
    else
        ini.DeleteKey("Settings", "limitrate");
    if (verify)
        ini.DeleteKey("Settings", "verify");
    else
        ini.WriteBool("Settings", "verify", false);
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
