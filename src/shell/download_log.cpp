#include "shell/download_log.h"

namespace shell {

DownloadLog::DownloadLog(url::UrlInfo& urlinfo, download::Scheduler& scheduler, std::string storageFile)
    : storage(LogWindowLayout(), std::move(storageFile)), urlinfo_(urlinfo), scheduler_(scheduler) {
    placement.NormPos = {0, 0, 426, 267};
    storage.bindStrings(
        "dllog.Items", [this] { return entries(); },
        [this](const platform::StringList& items) {
            if (!loaded_) setEntries(items);
        });
    storage.bindPlacement(placement);
    storage.OnRestored = [this] { loaded_ = true; };
}

platform::StringList DownloadLog::entries() const {
    platform::StringList out;
    out.reserve(dllog.Items().size());
    for (const platform::ListItem& row : dllog.Items())
        out.push_back(row.cell(0));
    return out;
}

void DownloadLog::setEntries(const platform::StringList& items) {
    dllog.Clear();
    for (const std::string& url : items)
        dllog.Add({url});
}

void DownloadLog::loadOnce() {
    if (loaded_) return;
    platform::StringList items;
    if (readStoredList(platform::TIniFile(storage.FileName()),
                       listSection(LogWindowLayout().section, propertyKey("dllog", "Items")), items))
        setEntries(items);
    loaded_ = true;
}

void DownloadLog::append(const std::string& url) {
    loadOnce();
    dllog.Add({url});
    changed_ = true;
}

void DownloadLog::ShowLog1Click() {
    if (visible_) return;
    storage.Restore();
    visible_ = true;
    visibilityChanged(true);
}

void DownloadLog::FormClose() {
    storage.FormClose();
    changed_ = false;
    if (!visible_) return;
    visible_ = false;
    visibilityChanged(false);
}

void DownloadLog::dllogDblClick() {
    platform::StringList urls;
    for (int row : dllog.SelectedRows())
        urls.push_back(dllog.Item(row).cell(0));
    for (const std::string& url : urls)
        scheduler_.launchftp(urlinfo_.info(url));
}

void DownloadLog::RxSpeedButton1Click() {
    loadOnce(); // a later restore must not bring the stored entries back
    dllog.Clear();
    changed_ = true;
}

void DownloadLog::Destroy() {
    if (storage.Restored() && !storage.SavedSinceRestore()) {
        storage.FormDestroy();
    } else if (changed_) {
        // Never shown (or closed before the last entries came): the list goes
        // alone, the stored placement stays as it is.
        platform::TIniFile ini(storage.FileName());
        writeStoredList(ini, listSection(LogWindowLayout().section, propertyKey("dllog", "Items")),
                        entries());
    }
    changed_ = false;
}

} // namespace shell
