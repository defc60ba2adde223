// The downloads view's one look into the scheduler: which file is on which
// slot, which wait behind their site's slot or for a free one, how far the
// running ones are. Everything else of the view follows the scheduler's hooks.

#include "shell/downloads.h"

#include "download/status.h"

#include <algorithm>

namespace shell {

SchedulerPicture readScheduler(const download::Scheduler& scheduler) {
    SchedulerPicture p;
    for (int n = 1; n <= download::SlotCount; ++n) {
        const download::Slot& s = scheduler.slot(n);
        if (s.phase == download::Phase::Idle) continue;
        // The first URL of the queue is the file on the slot, the rest wait behind it.
        for (std::size_t k = 0; k < s.queueUrls.size(); ++k) {
            ScheduledFile f;
            f.url = s.queueUrls[k];
            f.slot = n;
            if (k == 0) {
                f.where = ScheduledFile::OnSlot;
                f.bytes = s.byteCount;
                f.size = s.session ? s.session->size() : 0;
                f.step = download::stateText(s);
                f.aloneOnSlot = s.queueUrls.size() == 1;
            } else {
                f.where = ScheduledFile::BehindSite;
            }
            p.files.push_back(std::move(f));
        }
    }
    for (const std::string& url : scheduler.launchbuf())
        p.files.push_back({ScheduledFile::Parked, url, 0, 0, 0, {}, false});
    p.receivedSoFar = scheduler.receivedSoFar();
    p.idle = scheduler.idle();
    p.localNames = scheduler.localNames();
    return p;
}

std::optional<std::string> localNameGiven(const download::Scheduler& scheduler, const std::string& url) {
    const auto& names = scheduler.localNames();
    if (const auto it = names.find(url); it != names.end()) return it->second;
    return std::nullopt;
}

bool unparkUrl(download::Scheduler& scheduler, const std::string& url) {
    return scheduler.unpark(url);
}

void relaunchUrl(download::Scheduler& scheduler, const download::PendingDownloads& pending,
                 url::UrlInfo& urlinfo, const std::string& url) {
    const url::tlinfo link = urlinfo.info(url);
    const auto& dl = pending.downloading;
    if (std::find(dl.begin(), dl.end(), link.url) != dl.end()) {
        // Its partial file is its own, in the file it was written to (as at start-up).
        const auto it = pending.localName.find(link.url);
        scheduler.resume(link, it != pending.localName.end() ? std::optional<std::string>(it->second)
                                                             : std::nullopt);
        return;
    }
    scheduler.launchftp(link);
}

} // namespace shell
