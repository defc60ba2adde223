#pragma once
// The downloads in progress that survive a restart: the URLs, in queue order,
// beside each the size reported for it, the local name of those written
// under another name than the remote one ("x (2).mp3"), and for http:// and
// https:// files the version their partial file holds. The settings store
// saves and loads them; the download engine fills them; the statistics reset
// empties them.

#include "platform/listview.h"

#include <cstdint>
#include <map>
#include <string>

namespace download {

// What tells one version of a web server's file from another, as its reply
// announced it: a partial file is continued only with bytes of the same one.
struct FileVersion {
    std::string etag;         // the ETag field as sent (quotes included; "W/" marks a weak one)
    std::string lastModified; // the Last-Modified field as sent
    std::int64_t size = -1;   // the whole file's size (-1: not announced)

    bool empty() const { return etag.empty() && lastModified.empty() && size < 0; }
    bool operator==(const FileVersion&) const = default;
};

struct PendingDownloads {
    platform::StringList downloading;             // pending URLs, in queue order
    platform::StringList downloadingsize;         // the parallel list of reported sizes
    std::map<std::string, std::string> localName; // pending URL -> its local name, when not the remote one
    // Pending URL -> the version of the file its partial file was written from
    // (http:// and https:// files once a reply began their body).
    std::map<std::string, FileVersion> version;

    void clear() {
        downloading.clear();
        downloadingsize.clear();
        localName.clear();
        version.clear();
    }
};

} // namespace download
