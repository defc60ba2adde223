// The slots of http:// and https:// sites. Each owns an HttpSession that
// fetches the site's files one after another; the scheduler keeps the same
// rules as for FTP sites: at most one new site opened per tick, the local
// names, the pending list, the attempts, the statistics, the time-outs and
// stalls counted at the slot's visits.

#include "download/scheduler.h"

#include "platform/text.h"

#include <sys/stat.h>

namespace download {

void Scheduler::attachHttp(int n) {
    Slot& s = slotAt(n);
    s.http = std::make_unique<HttpSession>();
    s.http->finished.connect([this, n](const TransferResult& r) { httpFinished(n, r); });
    s.http->display.connect([this, n](const std::string& line) {
        std::string text = std::to_string(n) + ": " + line;
        hooks.statusmemo(text);
        memo(ftpstatus, std::move(text));
    });
    s.http->progress.connect([this, n](std::int64_t count) {
        Slot& t = slotAt(n);
        t.byteCount = count;
        t.record.tag = static_cast<std::int32_t>(count);
        if (t.http->received() > 0 && !t.startMarked) {
            // The server sends the file: one mark for the site.
            t.gotData = t.startMarked = true;
            if (!t.record.site.empty()) stats_.addgood(t.record.site);
        }
    });
}

void Scheduler::runHttpStep(int n) {
    Slot& s = slotAt(n);
    switch (s.state) {
    case Connecting: // the site's first file (or one tried again): at most one a tick
        s.stall = 0;
        if (!attempt(n, connectsFor, "connections")) break;
        maintainlist(n);
        if (s.state == Connecting) httpTransferStart(n);
        break;
    case LoggedIn:      // the next file of the site: at once, as FTP's next RETR
    case StartTransfer: // the same file again
        httpTransferStart(n);
        break;
    case FileFinished:
        finishHandling(n);
        break;
    default:
        break;
    }
}

void Scheduler::httpTransferStart(int n) {
    Slot& s = slotAt(n);
    if (!beginTransfer(n)) return;
    HttpSession::Request rq;
    rq.url = s.record.url;
    rq.localName = s.client->LocalFileName;
    // localNameFor gave this URL a name whose existing file is its own
    // (resumed, or started earlier in this run); any other file of the name
    // got a free name instead.
    struct stat st {};
    rq.resume = ::lstat(rq.localName.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    if (httpProxy) std::tie(rq.proxy, rq.proxyPort) = httpProxy();
    rq.agent = httpAgent;
    s.byteCount = rq.resume ? st.st_size : 0;
    s.resumeAt = s.byteCount;
    setState(n, TransferAnswered);
    s.awaiting = true;
    s.wait = 0;
    s.stall = 0;
    s.http->start(rq);
    hooks.addToLog(s.record.url);
}

void Scheduler::visitHttp(int n) {
    Slot& s = slotAt(n);
    if (s.awaiting) {
        ++s.wait;
        s.http->visit(StallVisits, TimeoutVisits);
    } else if (canStep(n)) {
        s.wait = 0;
        advance(n);
    }
}

void Scheduler::httpFinished(int n, const TransferResult& r) {
    Slot& s = slotAt(n);
    if (!s.awaiting || !s.http) return; // ended by an abort meanwhile
    s.awaiting = false;
    const std::int64_t got = s.http->received();
    receivedBytes += got;
    if (got > 0) s.gotData = true;
    s.byteCount = s.http->byteCount();
    const std::string detail = platform::printable(r.detail);
    if (r.outcome != Outcome::Done) {
        if (!s.record.site.empty()) stats_.addbad(s.record.site);
        std::string line = std::to_string(n) + ": ! " + outcomeName(r.outcome) + ": " + detail;
        hooks.statusmemo(line);
        memo(ftpstatus, std::move(line));
    }
    switch (r.outcome) {
    case Outcome::Done:
        s.fetched = true;
        setState(n, FileFinished);
        break;
    case Outcome::NotFound:
        failFile(n, r.outcome, "not found on the site (" + detail + ")");
        break;
    case Outcome::Refused:
        failFile(n, r.outcome, "refused by the site (" + detail + ")");
        break;
    case Outcome::LoginRefused:
    case Outcome::LocalError:
    case Outcome::Redirects:
    case Outcome::Overran:
    case Outcome::GivenUp:
        failFile(n, r.outcome, detail);
        break;
    case Outcome::SiteDown:
        abort(n, r.outcome, "Site Down" + (detail.empty() ? std::string() : " (" + detail + ")"));
        break;
    case Outcome::Tls:
        abort(n, r.outcome, detail);
        break;
    case Outcome::Stopped:
        stop(n);
        break;
    case Outcome::Short:
    case Outcome::Stalled:
    case Outcome::Broken:
        // Tried again on a new connection, at the pace of new connections
        // (the attempts are bounded); the bytes so far stay for the resume.
        memo(errorlog, std::to_string(n) + ": " + outcomeName(r.outcome) + ": " + detail);
        s.failure = detail;
        setState(n, Connecting);
        break;
    }
    advanceSoon(n);
}

} // namespace download
