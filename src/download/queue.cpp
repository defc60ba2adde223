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
    // Each URL is handed back once; launchftp puts it on the pending list again.
    const platform::StringList urls = std::move(pending.downloading);
    const std::map<std::string, std::string> names = std::move(pending.localName);
    const std::map<std::string, FileVersion> versions = std::move(pending.version);
    pending.clear();
    for (const std::string& url : urls) {
        const url::tlinfo link = urlinfo.info(url);
        // Its partial file's version goes on with it (a refused URL drops it).
        if (auto it = versions.find(url); it != versions.end()) pending.version[link.url] = it->second;
        // A file written under another name goes on in that file.
        // Its local file is its own partial file, whatever its size.
        std::optional<std::string> name;
        if (auto it = names.find(link.url); it != names.end()) name = it->second;
        scheduler.resume(link, name);
    }
}

} // namespace download
