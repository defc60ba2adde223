#pragma once
// Turning chosen results into downloads by the built-in route, and handing the
// downloads pending at the last exit back to the scheduler at start-up.

#include "download/pending.h"
#include "download/scheduler.h"
#include "platform/listview.h"
#include "url/urlinfo.h"

namespace download {

// The view mode in which the by-site view is shown.
inline constexpr int SiteViewMode = 1;

// The built-in route: with no row of List selected, every row is selected;
// then every selected row of List (URL in its fourth cell), first to last, and
// in the by-site view every selected row of site (URL in its third cell) is
// split and handed to launchftp. site may be null when there is no such view.
void getfileslocalClick(platform::ListView& List, const platform::ListView* site, int viewMode,
                        url::UrlInfo& urlinfo, Scheduler& scheduler);

// Start-up: every pending download, first to last, leaves the pending lists
// and is handed to launchftp (which records it again when its transfer starts);
// one written under another local name keeps writing that file.
void resumePending(PendingDownloads& pending, url::UrlInfo& urlinfo, Scheduler& scheduler);

} // namespace download
