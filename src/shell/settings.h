#pragma once
// The program's own settings ("wavbin.Ini"): the pending downloads, the proxy,
// the path of the external FTP program and the search engine list.
//
//   [downloading]   count, 0 .. count-1   pending URLs in queue order
//   [downloadings]  count, 0 .. count-1   the size beside each
//   [downloadingnames] count, i and i.name  pending URLs written under another
//                   local name, and that name (only while there are any)
//   [downloadingversions] count, i, i.etag, i.modified, i.size  pending http(s)
//                   URLs and the version their partial file holds: the reply's
//                   ETag, Last-Modified and whole size (only while there are any)
//   [Settings]      path, proxyname, proxyport, proxy, ftptls (off, offered, required),
//                   httplinks (1: offer http:// and https:// links too),
//                   downloadfolder (the window's downloads; absent: the default),
//                   limitrate (KiB/s for all transfers together; absent or 0: none),
//                   verify (0: fetched files are not checked as MP3; absent: they are)
//   [Links]         0 .. 30               one engine entry per key

#include "download/pending.h"
#include "net/ftpcli.h"
#include "search/engines.h"
#include "search/proxy_controls.h"

#include <string>

namespace shell {

inline constexpr const char* SettingsFile = "wavbin.Ini";
// The settings file keeps at most this many engine entries (keys "0" to "30").
inline constexpr int StoredEngines = 31;

// The proxy as the program remembers it (the update check reads it).
struct ProxySettings {
    bool useproxy = false;
    std::string proxyname;
    std::string proxyport;
};

class Settings {
public:
    // controls are the settings window's proxy fields, which loadcfg fills.
    Settings(download::PendingDownloads& pending, search::EngineList& startlinks,
             search::ProxyControls& controls, std::string fileName = SettingsFile);

    ProxySettings proxy;
    // The external FTP program's path and base name, without ".exe".
    std::string path;
    // The TLS of ftp:// links (Off, Offered or Explicit for "required").
    net::FtpTls ftptls = net::FtpTls::Off;
    // Whether searches offer quoted http:// and https:// links to .mp3 files
    // beside the ftp:// ones (the link extractor asks it at every block).
    bool httplinks = false;
    // Where the window's downloads go (the command line keeps its directory).
    std::string downloadfolder;
    // The speed limit of all transfers together in KiB/s; 0: none.
    int limitrate = 0;
    // Fetched files are checked as MP3.
    bool verify = true;

    // Reads the file: appends the pending lists, reads the proxy and path,
    // fills the proxy fields and adds every stored engine entry.
    void loadcfg();
    // Writes the file, as one replacement of it.
    void savecfg();

    // The settings window's proxy fields copied into the memory settings.
    void copyProxyFromControls();

    const std::string& FileName() const { return fileName_; }

private:
    download::PendingDownloads& pending_;
    search::EngineList& startlinks_;
    search::ProxyControls& controls_;
    std::string fileName_;
};

} // namespace shell
