#pragma once
// Word for the desktop when it matters: when the queue has run dry (every
// file fetched or given up) and when a file failed for good in this run. The
// notices of failures that come together are told together; a user's own
// cancel is no failure. Also the question asked when the window closes while
// files are still under way.

#include "download/scheduler.h"
#include "platform/signal.h"
#include "url/urlinfo.h"

#include <string>
#include <vector>

namespace shell {

struct Notice {
    enum Kind { QueueDone = 0, FilesFailed = 1 };
    Kind kind = QueueDone;
    std::string summary; // the notification's title
    std::string body;    // its text: plain, one item a line
};

class DownloadNotices {
public:
    // A notice names at most this many failed files; the rest are counted.
    static constexpr std::size_t NamedFiles = 5;

    DownloadNotices(download::Scheduler& scheduler, url::UrlInfo& urlinfo);
    DownloadNotices(const DownloadNotices&) = delete;
    DownloadNotices& operator=(const DownloadNotices&) = delete;

    // A notice for the desktop. The failures of one queue come as one notice
    // that each new failure renews (newest first), the end of the queue as another.
    platform::Signal<const Notice&> notice;

    // Since the queue last ran dry.
    int fetched() const { return fetched_; }
    int failed() const { return static_cast<int>(failures_.size()); }

private:
    void fileFailed(const std::string& url, const download::TransferResult& why);
    void tellFailures();
    void check();

    download::Scheduler& scheduler_;
    url::UrlInfo& urlinfo_;
    int fetched_ = 0;
    std::vector<std::string> failures_; // "name: why", oldest first
    bool busy_ = false;                 // the queue had work since it last ran dry
    bool failurePosted_ = false;
    platform::Lifetime lifetime_;
    platform::Receiver receiver_;
};

// Files whose download runs or waits for a slot (of a busy slot's site, or parked).
int filesUnderWay(const download::Scheduler& scheduler);
// The question when the window closes while files are under way (empty when none are).
std::string closeQuestion(const download::Scheduler& scheduler);
inline constexpr const char* CloseTitle = "Downloads under way";
inline constexpr const char* CloseStop = "Stop and quit";
inline constexpr const char* CloseKeep = "Keep downloading";

} // namespace shell
