#include "download/status.h"

namespace download {

std::string progressText(Phase phase, std::int64_t byteCount, std::int64_t remoteSize) {
    if (byteCount < 1 || phase == Phase::Idle) return {};
    if (remoteSize <= 100000) return std::to_string(byteCount / 1024) + "KB done";
    // The percentage rounded to the nearest integer, halves to the even neighbour.
    const std::int64_t scaled = byteCount * 100;
    std::int64_t rounded = scaled / remoteSize;
    const std::int64_t rest = scaled % remoteSize;
    if (2 * rest > remoteSize || (2 * rest == remoteSize && rounded % 2 != 0)) ++rounded;
    return std::to_string(rounded) + "%";
}

StatusView::StatusView(Scheduler& scheduler) : scheduler_(scheduler) {
    liststatus.SetVisible(false);
    liststatustimer.setInterval(5000);
    liststatustimer.OnTimer = [this] { liststatustimerTimer(); };
}

const platform::StringList& StatusView::columns() {
    static const platform::StringList c{"Port", "Site", "State #", "State", "Progress", "Filename"};
    return c;
}

const std::vector<int>& StatusView::columnWidths() {
    static const std::vector<int> w{35, 100, 0, 120, 35, 200};
    return w;
}

void StatusView::updatestatus() {
    if (shown()) {
        liststatus.SetVisible(true);
        liststatustimer.setEnabled(true);
    } else {
        liststatustimer.setEnabled(false);
    }
    if (liststatus.Count() == 0)
        for (int n = 1; n <= SlotCount; ++n)
            liststatus.Add({std::to_string(n), "", "", "Not connected", "", ""});
    for (int n = 1; n <= SlotCount; ++n) {
        const Slot& s = scheduler_.slot(n);
        const int row = n - 1;
        const std::string cells[] = {s.record.site, std::to_string(stateNumber(s)), stateText(s),
                                     progressText(s.phase, s.byteCount, s.remoteSize()), s.record.fname};
        for (std::size_t col = 0; col < 5; ++col)
            if (liststatus.Item(row).cell(col + 1) != cells[col])
                liststatus.SetCell(row, col + 1, cells[col]);
    }
}

void StatusView::liststatustimerTimer() {
    if (shown()) updatestatus();
}

void StatusView::cancelSelected() {
    for (int i = 0; i < SlotCount && i < liststatus.Count(); ++i)
        if (liststatus.Item(i).selected) scheduler_.stop(i + 1);
}

} // namespace download
