#pragma once
// The download log ("Log"): the URL of every file the download engine started,
// in the order they came, so the user can fetch any of them again, also in a
// later run. Its list is kept in the section "log" of the windows' file.
//
// The stored list is read once in a run, before the first entry of the run is
// appended or when the window is first shown, whichever comes first; later
// showings restore only the window's placement. So the run's own entries are
// always kept, after the stored ones. The list is saved at the program's end
// whenever it changed in the run, whether or not the window was shown.

#include "download/scheduler.h"
#include "platform/listview.h"
#include "shell/formstorage.h"
#include "url/urlinfo.h"

#include <string>

namespace shell {

class DownloadLog {
public:
    DownloadLog(url::UrlInfo& urlinfo, download::Scheduler& scheduler,
                std::string storageFile = FormStorageFile);

    // dllog: one URL per row, multiple selection.
    platform::ListView dllog;
    WindowPlacement placement;
    FormStorage storage;

    // The download engine started a transfer.
    void append(const std::string& url);
    platform::StringList entries() const;

    // Handlers.
    void ShowLog1Click(); // make the window visible
    void FormClose();
    void dllogDblClick();       // every selected entry, top to bottom, to launchftp
    void RxSpeedButton1Click(); // "Clear Log"
    // Program end: the window's properties are saved if it was shown and not
    // saved since; the list alone if it changed since it was last saved.
    void Destroy();

    bool visible() const { return visible_; }
    platform::Signal<bool> visibilityChanged;

private:
    void loadOnce();
    void setEntries(const platform::StringList& items);

    url::UrlInfo& urlinfo_;
    download::Scheduler& scheduler_;
    bool loaded_ = false;
    bool visible_ = false;
    bool changed_ = false; // entries added or cleared since the list was last saved
};

} // namespace shell
