// The HTTP(S) session of a slot: the requests of its site's files, the end of
// each as a typed outcome, and the waits a server asks for. The scheduler
// keeps the same rules as for FTP sites: new connections at its pace, the
// local names, the pending list, the attempts, the statistics.

#include "download/http_slot_session.h"

#include "platform/system.h"
#include "platform/text.h"

#include <sys/stat.h>

namespace download {

using enum HttpSlotStep;

HttpSlotSession::HttpSlotSession(SlotHost& host, const HttpRoad& road, int n)
    : host_(host), road_(road), n_(n) {
    http_.finished.connect([this](const TransferResult& r) { finished(r); });
    http_.display.connect(
        [this](const std::string& line) { host_.log(Memo::Shown, std::to_string(n_) + ": " + line); });
    http_.bodyBegins.connect([this](const FileVersion& v) { host_.keepVersion(n_, v); });
    http_.progress.connect([this](std::int64_t count) { progress(count); });
}

void HttpSlotSession::begin(const url::tlinfo&) {
    setStep(Connecting);
    firstContact_ = true;
    // Nothing of the slot's previous site carries over (its size, a wait it asked for).
    current_ = wait_ = false;
    lastReply_.clear();
}

void HttpSlotSession::setStep(HttpSlotStep step) {
    if (step_ == step) return;
    // The names of the FTP steps of the same numbers, as the -v lines always showed them.
    auto name = [](HttpSlotStep s) {
        switch (s) {
        case Idle:
            return "Idle";
        case Connecting:
            return "Connecting";
        case NextFile:
            return "LoggedIn";
        case Requested:
            return "TransferAnswered";
        case Finished:
            return "FileFinished";
        }
        return "";
    };
    const HttpSlotStep old = step_;
    step_ = step;
    const Phase phase = step == Idle        ? Phase::Idle
                        : step == Requested ? Phase::Transferring
                        : step == Finished  ? Phase::Finishing
                                            : Phase::Connecting;
    host_.stepChanged(n_, name(old), name(step), phase);
}

const char* HttpSlotSession::statusText() const {
    switch (step_) {
    case Idle:
        return "Not connected";
    case Connecting:
        return "Connecting";
    case NextFile:
        return "Setting up connection";
    case Requested:
        return "Downloading";
    case Finished:
        return "Finishing download";
    }
    return "";
}

bool HttpSlotSession::stepsAtOnce() const {
    return step_ == NextFile || step_ == Finished;
}

void HttpSlotSession::abort() {
    if (http_.running()) {
        http_.abort();
        awaiting_ = false;
    }
    setStep(Idle);
}

void HttpSlotSession::progress(std::int64_t count) {
    host_.progress(n_, count, slot().resumeAt);
    if (http_.received() > 0 && !slot().startMarked) {
        // The server sends the file: one mark for the site.
        host_.gotData(n_);
        host_.creditStart(n_);
    }
}

bool HttpSlotSession::waiting() const {
    return wait_ && static_cast<std::int32_t>(platform::GetTickCount() - waitUntil_) < 0;
}

void HttpSlotSession::step() {
    at_ = step_;
    switch (step_) {
    case Connecting:          // the site's first file (or one tried again): paced
        if (waiting()) break; // the server asked for a pause: tried at a later tick
        wait_ = false;
        if (!host_.attempt(n_, Attempt::Connection)) break;
        host_.maintainlist(n_);
        if (step_ == Connecting) transferStart();
        break;
    case NextFile: // the next file of the site: at once, as FTP's next RETR
        transferStart();
        break;
    case Idle:
    case Requested:
    case Finished: // the scheduler's
        break;
    }
}

void HttpSlotSession::stepFailed() {
    // A request that cannot even start ends the site as a failed name lookup would.
    if (at_ == Connecting) host_.giveUp(n_, Outcome::SiteDown, "Site Down");
}

void HttpSlotSession::transferStart() {
    // The size of the slot's previous file must not choose this one's name:
    // this file's size is known only once its reply comes.
    current_ = false;
    if (!host_.beginTransfer(n_)) return;
    HttpSession::Request rq;
    rq.url = slot().record.url;
    rq.localName = slot().localName;
    // The scheduler gave this URL a name whose existing file is its own
    // (resumed, or started earlier in this run); any other file of the name
    // got a free name instead. It is continued only when a reply told which
    // version of the file it holds: any rest would do otherwise, of any version.
    struct stat st {};
    const FileVersion* v = host_.keptVersion(n_);
    rq.resume =
        ::lstat(rq.localName.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && v != nullptr;
    if (rq.resume) rq.version = *v;
    if (road_.proxy) std::tie(rq.proxy, rq.proxyPort) = road_.proxy();
    rq.agent = road_.agent;
    const std::int64_t have = rq.resume ? st.st_size : 0;
    host_.progress(n_, have, have);
    setStep(Requested);
    awaiting_ = true;
    firstContact_ = false;
    current_ = true;
    http_.start(rq);
    host_.transferSent(n_);
}

void HttpSlotSession::visit(bool stepped) {
    if (awaiting_ && !stepped) http_.visit(StallVisits, TimeoutVisits);
}

void HttpSlotSession::finished(const TransferResult& r) {
    if (!awaiting_) return; // ended by an abort meanwhile
    awaiting_ = false;
    const std::int64_t got = http_.received();
    host_.received(got);
    if (got > 0) host_.gotData(n_);
    host_.progress(n_, http_.byteCount(), slot().resumeAt);
    const std::string detail = platform::printable(r.detail);
    lastReply_ = detail;
    if (r.outcome != Outcome::Done) {
        host_.debit(n_, 1);
        host_.log(Memo::Shown, std::to_string(n_) + ": ! " + outcomeName(r.outcome) + ": " + detail);
    }
    switch (r.outcome) {
    case Outcome::Done:
        host_.fetched(n_);
        setStep(Finished);
        break;
    case Outcome::NotFound:
        host_.failFile(n_, r.outcome, "not found on the site (" + detail + ")");
        break;
    case Outcome::Refused:
        host_.failFile(n_, r.outcome, "refused by the site (" + detail + ")");
        break;
    case Outcome::LoginRefused:
    case Outcome::LocalError:
    case Outcome::Redirects:
    case Outcome::Overran:
    case Outcome::GivenUp:
    case Outcome::NotAudio: // (the scheduler's verdict, never an HTTP session's)
    case Outcome::Damaged:
        host_.failFile(n_, r.outcome, detail);
        break;
    case Outcome::SiteDown:
        host_.giveUp(n_, r.outcome, "Site Down" + (detail.empty() ? std::string() : " (" + detail + ")"));
        break;
    case Outcome::Tls:
        host_.giveUp(n_, r.outcome, detail);
        break;
    case Outcome::Stopped:
        host_.giveUp(n_, r.outcome, "Stopped");
        break;
    case Outcome::Short:
    case Outcome::Stalled:
    case Outcome::Broken:
        retryLater(r, detail);
        break;
    }
    host_.goOnSoon(n_);
}

// Tried again on a new connection, at the pace of new connections (the
// attempts are bounded); the bytes so far stay for the resume.
void HttpSlotSession::retryLater(const TransferResult& r, const std::string& detail) {
    host_.log(Memo::Error, std::to_string(n_) + ": " + outcomeName(r.outcome) + ": " + detail);
    host_.retryReason(n_, detail);
    if (r.retryAfter > MaxRetryWaitSeconds) {
        // Not within this run: the site's files wait for a later resume.
        host_.giveUp(n_, Outcome::GivenUp,
                     "the site asks to wait " + std::to_string(r.retryAfter) + " seconds (" + detail + ")");
        return;
    }
    if (r.retryAfter > 0) {
        host_.log(Memo::Shown, std::to_string(n_) + ": ! waiting " + std::to_string(r.retryAfter) +
                                   (r.retryAfter == 1 ? " second" : " seconds") +
                                   " before the next try, as the site asks");
        wait_ = true;
        waitUntil_ = platform::GetTickCount() + static_cast<std::uint32_t>(r.retryAfter * 1000);
    }
    setStep(Connecting);
}

} // namespace download
