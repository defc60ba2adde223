#include "shell/download_notices.h"

#include "download/transfer.h"
#include "platform/eventloop.h"
#include "platform/text.h"

namespace shell {

namespace {

std::string files(int n) {
    return std::to_string(n) + (n == 1 ? " file" : " files");
}

} // namespace

DownloadNotices::DownloadNotices(download::Scheduler& scheduler, url::UrlInfo& urlinfo)
    : scheduler_(scheduler), urlinfo_(urlinfo) {
    auto& hooks = scheduler_.hooks;
    hooks.fileDone.connect(receiver_, [this](const std::string&, bool fetched) {
        busy_ = true;
        if (fetched) ++fetched_;
    });
    hooks.fileFailed.connect(receiver_, [this](const std::string& url, const download::TransferResult& why) {
        fileFailed(url, why);
    });
    // Every visit of the tick: has the queue run dry?
    hooks.updatestatus.connect(receiver_, [this] { check(); });
}

void DownloadNotices::fileFailed(const std::string& url, const download::TransferResult& why) {
    busy_ = true;
    if (why.outcome == download::Outcome::Stopped) return; // the user's own doing
    const url::tlinfo link = urlinfo_.info(url);
    const std::string name = link.fname.empty() ? url : link.fname;
    const std::string reason = why.detail.empty() ? download::outcomeName(why.outcome) : why.detail;
    failures_.push_back(platform::printable(name + " from " + link.site + ": " + reason));
    // Failures of one moment (a site given up with all its files) make one notice.
    if (failurePosted_) return;
    failurePosted_ = true;
    platform::post([this, alive = lifetime_.watch()] {
        if (alive) tellFailures();
    });
}

void DownloadNotices::tellFailures() {
    failurePosted_ = false;
    if (failures_.empty()) return;
    const int n = failed();
    Notice n1{
        Notice::FilesFailed, n == 1 ? "A download failed" : std::to_string(n) + " downloads failed", {}};
    std::size_t named = 0;
    for (auto it = failures_.rbegin(); it != failures_.rend() && named < NamedFiles; ++it, ++named)
        n1.body += (named ? "\n" : "") + *it;
    if (failures_.size() > NamedFiles)
        n1.body += "\nand " + std::to_string(failures_.size() - NamedFiles) + " more";
    notice(n1);
}

void DownloadNotices::check() {
    if (!scheduler_.idle()) {
        busy_ = true;
        return;
    }
    if (!busy_) return;
    busy_ = false;
    const int fetched = fetched_, failed = this->failed();
    fetched_ = 0;
    failures_.clear();
    if (fetched == 0 && failed == 0) return; // all cancelled by the user
    std::string body = files(fetched) + " fetched";
    if (failed > 0) body += ", " + std::to_string(failed) + " failed";
    notice(Notice{Notice::QueueDone, "Downloads finished", body});
}

int filesUnderWay(const download::Scheduler& scheduler) {
    int n = static_cast<int>(scheduler.launchbuf().size());
    for (int s = 1; s <= download::SlotCount; ++s) {
        const download::Slot& slot = scheduler.slot(s);
        if (slot.phase == download::Phase::Idle) continue;
        n += std::max(1, static_cast<int>(slot.queueUrls.size()));
    }
    return n;
}

std::string closeQuestion(const download::Scheduler& scheduler) {
    const int n = filesUnderWay(scheduler);
    if (n == 0) return {};
    return (n == 1 ? std::string("1 file is") : std::to_string(n) + " files are") +
           " still being downloaded. Stop and quit?\n\nWhat is not complete is kept and resumes at the next "
           "start of Wavetrap.";
}

} // namespace shell
