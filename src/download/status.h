#pragma once
// The download status view as a model: one row per slot (Port, Site, State #,
// State, Progress, Filename), refreshed at every scheduler tick while it is
// shown and every five seconds by its own timer; cancelling selected rows
// ends their slots.

#include "download/scheduler.h"
#include "platform/eventloop.h"
#include "platform/listview.h"

#include <cstdint>
#include <functional>
#include <string>

namespace download {

// The view mode in which the status view is shown.
inline constexpr int StatusViewMode = 5;

// The progress text of a slot: empty for no bytes or an idle slot; "<KB>KB done"
// for files of at most 100000 bytes (or unknown size); else the rounded percentage.
std::string progressText(Phase phase, std::int64_t byteCount, std::int64_t remoteSize);

class StatusView {
public:
    enum Column { ColPort = 0, ColSite, ColStateNo, ColState, ColProgress, ColFilename };

    explicit StatusView(Scheduler& scheduler);
    StatusView(const StatusView&) = delete;
    StatusView& operator=(const StatusView&) = delete;

    // The main window's view mode (5: the status view is shown).
    std::function<int()> viewMode;

    platform::ListView liststatus;    // 14 rows once first refreshed
    platform::TTimer liststatustimer; // 5000 ms, off at start

    static const platform::StringList& columns();
    static const std::vector<int>& columnWidths();

    // Refresh the rows and switch the refresh timer on (view shown) or off.
    void updatestatus();
    void liststatustimerTimer();
    // Both cancel every selected slot with the reason "Stopped".
    void liststatusDblClick() { cancelSelected(); }
    void CancelDownload1Click() { cancelSelected(); }

private:
    void cancelSelected();
    bool shown() const { return viewMode && viewMode() == StatusViewMode; }
    Scheduler& scheduler_;
};

} // namespace download
