#include "download/queue.h"

namespace download {

void getfileslocalClick(platform::ListView& List, const platform::ListView* site, int viewMode,
                        url::UrlInfo& urlinfo, Scheduler& scheduler) {
    if (List.SelCount() == 0)
        for (int row = 0; row < List.Count(); ++row)
            List.SetSelected(row, true);
    for (int row = 0; row < List.Count(); ++row)
        if (List.Item(row).selected) scheduler.launchftp(urlinfo.info(List.Item(row).cell(3)));
    if (viewMode == SiteViewMode && site)
        for (int row = 0; row < site->Count(); ++row)
            if (site->Item(row).selected) scheduler.launchftp(urlinfo.info(site->Item(row).cell(2)));
}

void resumePending(PendingDownloads& pending, url::UrlInfo& urlinfo, Scheduler& scheduler) {
    while (!pending.downloading.empty()) {
        const url::tlinfo link = urlinfo.info(pending.downloading.front());
        pending.downloading.erase(pending.downloading.begin());
        if (!pending.downloadingsize.empty()) pending.downloadingsize.erase(pending.downloadingsize.begin());
        // A file written under another name goes on in that file.
        if (auto it = pending.localName.find(link.url); it != pending.localName.end()) {
            scheduler.localNames[link.url] = it->second;
            pending.localName.erase(it);
        }
        scheduler.launchftp(link);
    }
}

} // namespace download
