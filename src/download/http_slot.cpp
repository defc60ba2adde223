// The slots of http:// and https:// sites. Each owns an HttpSession that
// fetches the site's files one after another; the scheduler keeps the same
// rules as for FTP sites: at most one new site opened per tick, the local
// names, the pending list, the attempts, the statistics, the time-outs and
// stalls counted at the slot's visits.

#include "download/slot_sessions.h"

#include "platform/system.h"
#include "platform/text.h"

#include <algorithm>

#include <sys/stat.h>

namespace download {

HttpSlotSession::HttpSlotSession(Scheduler& scheduler, int n) : sc_(scheduler), n_(n) {
    http_.finished.connect([this](const TransferResult& r) { finished(n_, r); });
    http_.display.connect([this](const std::string& line) {
        std::string text = std::to_string(n_) + ": " + line;
        sc_.hooks.statusmemo(text);
        sc_.memo(sc_.ftpstatus, std::move(text));
    });
    http_.bodyBegins.connect([this](const FileVersion& v) { keepVersion(v); });
    http_.progress.connect([this](std::int64_t count) {
        Slot& t = sc_.slotAt(n_);
        t.byteCount = count;
        t.record.tag = static_cast<std::int32_t>(count);
        if (http_.received() > 0 && !t.startMarked) {
            // The server sends the file: one mark for the site.
            t.gotData = t.startMarked = true;
            if (!t.record.site.empty()) sc_.stats_.addgood(t.record.site);
        }
    });
}

void HttpSlotSession::abort() {
    if (!http_.running()) return;
    http_.abort();
    sc_.slotAt(n_).awaiting = false;
}

std::int64_t HttpSlotSession::receiving() const {
    return sc_.slot(n_).awaiting ? http_.received() : 0;
}

void HttpSlotSession::keepVersion(const FileVersion& v) {
    const Slot& s = sc_.slot(n_);
    PendingDownloads& p = sc_.pending_;
    const auto& dl = p.downloading;
    const auto row = static_cast<std::size_t>(std::find(dl.begin(), dl.end(), s.record.url) - dl.begin());
    if (row >= dl.size()) return; // no longer pending (stopped)
    if (v.empty())
        p.version.erase(s.record.url);
    else
        p.version[s.record.url] = v;
    if (row < p.downloadingsize.size())
        p.downloadingsize[row] = std::to_string(std::max<std::int64_t>(0, v.size));
    sc_.savecfgAtTick(); // a run killed now still knows what its partial file is
}

bool HttpSlotSession::waiting() const {
    return wait_ && static_cast<std::int32_t>(platform::GetTickCount() - waitUntil_) < 0;
}

void HttpSlotSession::step() {
    const int n = n_;
    Slot& s = sc_.slotAt(n);
    switch (s.state) {
    case Connecting:          // the site's first file (or one tried again): at most one a tick
        if (waiting()) break; // the server asked for a pause: tried at a later tick
        wait_ = false;
        s.stall = 0;
        if (!sc_.attempt(n, sc_.connectsFor, "connections")) break;
        sc_.maintainlist(n);
        if (s.state == Connecting) transferStart(n);
        break;
    case LoggedIn:      // the next file of the site: at once, as FTP's next RETR
    case StartTransfer: // the same file again
        transferStart(n);
        break;
    default:
        break;
    }
}

void HttpSlotSession::transferStart(int n) {
    Slot& s = sc_.slotAt(n);
    // The size of the slot's previous file must not choose this one's name:
    // this file's size is known only once its reply comes.
    current_ = false;
    if (!sc_.beginTransfer(n)) return;
    HttpSession::Request rq;
    rq.url = s.record.url;
    rq.localName = s.client->LocalFileName;
    // localNameFor gave this URL a name whose existing file is its own
    // (resumed, or started earlier in this run); any other file of the name
    // got a free name instead. It is continued only when a reply told which
    // version of the file it holds: any rest would do otherwise, of any version.
    struct stat st {};
    const auto v = sc_.pending_.version.find(s.record.url);
    rq.resume = ::lstat(rq.localName.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
                v != sc_.pending_.version.end();
    if (rq.resume) rq.version = v->second;
    if (sc_.httpProxy) std::tie(rq.proxy, rq.proxyPort) = sc_.httpProxy();
    rq.agent = sc_.httpAgent;
    s.byteCount = rq.resume ? st.st_size : 0;
    s.resumeAt = s.byteCount;
    sc_.setState(n, TransferAnswered);
    s.awaiting = true;
    s.wait = 0;
    s.stall = 0;
    current_ = true;
    http_.start(rq);
    sc_.hooks.addToLog(s.record.url);
}

void HttpSlotSession::visit() {
    Slot& s = sc_.slotAt(n_);
    if (s.awaiting) {
        ++s.wait;
        http_.visit(StallVisits, TimeoutVisits);
    } else if (sc_.canStep(n_)) {
        s.wait = 0;
        sc_.advance(n_);
    }
}

void HttpSlotSession::finished(int n, const TransferResult& r) {
    Slot& s = sc_.slotAt(n);
    if (!s.awaiting) return; // ended by an abort meanwhile
    s.awaiting = false;
    const std::int64_t got = http_.received();
    sc_.receivedBytes += got;
    if (got > 0) s.gotData = true;
    s.byteCount = http_.byteCount();
    const std::string detail = platform::printable(r.detail);
    if (r.outcome != Outcome::Done) {
        if (!s.record.site.empty()) sc_.stats_.addbad(s.record.site);
        std::string line = std::to_string(n) + ": ! " + outcomeName(r.outcome) + ": " + detail;
        sc_.hooks.statusmemo(line);
        sc_.memo(sc_.ftpstatus, std::move(line));
    }
    switch (r.outcome) {
    case Outcome::Done:
        s.fetched = true;
        sc_.setState(n, FileFinished);
        break;
    case Outcome::NotFound:
        sc_.failFile(n, r.outcome, "not found on the site (" + detail + ")");
        break;
    case Outcome::Refused:
        sc_.failFile(n, r.outcome, "refused by the site (" + detail + ")");
        break;
    case Outcome::LoginRefused:
    case Outcome::LocalError:
    case Outcome::Redirects:
    case Outcome::Overran:
    case Outcome::GivenUp:
        sc_.failFile(n, r.outcome, detail);
        break;
    case Outcome::SiteDown:
        sc_.abort(n, r.outcome, "Site Down" + (detail.empty() ? std::string() : " (" + detail + ")"));
        break;
    case Outcome::Tls:
        sc_.abort(n, r.outcome, detail);
        break;
    case Outcome::Stopped:
        sc_.stop(n);
        break;
    case Outcome::Short:
    case Outcome::Stalled:
    case Outcome::Broken:
        // Tried again on a new connection, at the pace of new connections
        // (the attempts are bounded); the bytes so far stay for the resume.
        sc_.memo(sc_.errorlog, std::to_string(n) + ": " + outcomeName(r.outcome) + ": " + detail);
        s.failure = detail;
        if (r.retryAfter > MaxRetryWaitSeconds) {
            // Not within this run: the site's files wait for a later resume.
            sc_.abort(n, Outcome::GivenUp,
                      "the site asks to wait " + std::to_string(r.retryAfter) + " seconds (" + detail + ")");
            break;
        }
        if (r.retryAfter > 0) {
            std::string line = std::to_string(n) + ": ! waiting " + std::to_string(r.retryAfter) +
                               (r.retryAfter == 1 ? " second" : " seconds") +
                               " before the next try, as the site asks";
            sc_.hooks.statusmemo(line);
            sc_.memo(sc_.ftpstatus, std::move(line));
            wait_ = true;
            waitUntil_ = platform::GetTickCount() + static_cast<std::uint32_t>(r.retryAfter * 1000);
        }
        sc_.setState(n, Connecting);
        break;
    }
    sc_.advanceSoon(n);
}

} // namespace download
