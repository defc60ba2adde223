#pragma once
// The downloads in progress that survive a restart: the URLs, in queue order,
// and beside each the size reported for it. The settings store saves and
// loads them; the download engine fills them; the statistics reset empties
// them.

#include "platform/listview.h"

namespace download {

struct PendingDownloads {
    platform::StringList downloading;     // pending URLs, in queue order
    platform::StringList downloadingsize; // the parallel list of reported sizes
};

} // namespace download
