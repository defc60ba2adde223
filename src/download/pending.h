#pragma once
// The downloads in progress that survive a restart: the URLs, in queue order,
// beside each the size reported for it, and the local name of those written
// under another name than the remote one ("x (2).mp3"). The settings store
// saves and loads them; the download engine fills them; the statistics reset
// empties them.

#include "platform/listview.h"

#include <map>
#include <string>

namespace download {

struct PendingDownloads {
    platform::StringList downloading;             // pending URLs, in queue order
    platform::StringList downloadingsize;         // the parallel list of reported sizes
    std::map<std::string, std::string> localName; // pending URL -> its local name, when not the remote one

    void clear() {
        downloading.clear();
        downloadingsize.clear();
        localName.clear();
    }
};

} // namespace download
