// The scheduler's side of a file: its attempts, the local name it is written
// under, the start of its transfer and its finish (fetched or failed), with
// the pending list that keeps what a later run resumes.

#include "download/scheduler.h"

#include "download/file_records.h"
#include "platform/text.h"

#include <algorithm>
#include <sys/stat.h>

namespace download {

void Scheduler::failFile(int n, Outcome outcome, const std::string& why) {
    Slot& s = slotAt(n);
    s.failure = why;
    s.fetched = false;
    s.outcome = outcome;
    s.session->fileEnded();
}

bool Scheduler::attempt(int n, Attempt what) {
    Slot& s = slotAt(n);
    const bool connection = what == Attempt::Connection;
    if (++(connection ? connectsFor_ : transfersFor_)[s.record.url] <= MaxAttempts) return true;
    const std::string last = s.failure ? *s.failure : s.session->lastReply();
    failFile(n, Outcome::GivenUp,
             "given up after " + std::to_string(MaxAttempts) + (connection ? " connections" : " transfers") +
                 " (last: " + last + ")");
    return false;
}

bool Scheduler::ownsPartialFile(const std::string& url) const {
    // Handed back by resume, or begun in an earlier run whose reply told the
    // file's version (a pending http:// or https:// entry fetched again by get).
    return resumedUrls_.count(url) > 0 || pending_.version.count(url) > 0;
}

bool Scheduler::nameTaken(int n, const std::string& name, std::int64_t remoteSize) const {
    const Slot& s = slot(n);
    for (int m = 1; m <= SlotCount; ++m) {
        const Slot& o = slot(m);
        // Finishing: written whole, not yet counted among the finished.
        const bool writing = o.phase == Phase::Transferring || o.phase == Phase::Finishing;
        if (m != n && writing && o.localName == name) return true;
    }
    if (auto f = finishedAs_.find(name); f != finishedAs_.end() && f->second != s.record.url) return true;
    // The partial file of another pending URL that has started (in this
    // run, or in an earlier one); a URL still waiting owns no file yet.
    for (const std::string& url : pending_.downloading) {
        if (url == s.record.url) continue;
        if (const auto own = pending_.localName.find(url); own != pending_.localName.end()) {
            if (own->second == name) return true;
        } else if (const auto here = localNames_.find(url); here != localNames_.end()) {
            if (here->second == name) return true;
        } else if (ownsPartialFile(url) && inFolder(url::splitUrl(url).fname) == name) {
            return true;
        }
    }
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) return false;
    // A file of unknown size can be told from a local file of the name by
    // nothing: one this URL did not start is never resumed or truncated.
    if (remoteSize <= 0) return !ownsPartialFile(s.record.url);
    return st.st_size > remoteSize;
}

// The file name a transfer writes: the remote name, unless that local file
// is being written by another slot, was finished under another URL in this
// run, is the partial file of another pending URL, or is larger than the
// remote file; then "name (2).mp3", "name (3).mp3"... A URL keeps the name it
// was first given (a resume writes the same file, also after a restart: the
// pending list keeps the names that are not the remote one).
std::string Scheduler::inFolder(const std::string& name) const {
    if (downloadFolder_.empty()) return name;
    return downloadFolder_ + (downloadFolder_.back() == '/' ? "" : "/") + name;
}

std::string Scheduler::localNameFor(int n, std::int64_t remoteSize) {
    const Slot& s = slot(n);
    if (auto it = localNames_.find(s.record.url); it != localNames_.end()) return it->second;
    // Still pending from an earlier run (fetched again with get, not resume).
    if (auto it = pending_.localName.find(s.record.url); it != pending_.localName.end())
        return localNames_[s.record.url] = it->second;
    std::string name = s.record.fname;
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::string path = inFolder(name);
    for (int i = 2; nameTaken(n, path, remoteSize) && i < 10000; ++i)
        path = inFolder(stem + " (" + std::to_string(i) + ")" + ext);
    localNames_[s.record.url] = path;
    return path;
}

// What every transfer start does, FTP or HTTP: the bounds, the local name,
// the pending entry. False when the file or its site was given up instead.
bool Scheduler::beginTransfer(int n) {
    Slot& s = slotAt(n);
    // A site whose transfers keep receiving nothing is given up; data resets the count.
    if (s.transferTried) s.fruitless = s.gotData ? 0 : s.fruitless + 1;
    if (s.fruitless >= MaxFruitlessTransfers) {
        abort(n, Outcome::GivenUp,
              "No data in " + std::to_string(MaxFruitlessTransfers) + " transfers in a row");
        return false;
    }
    if (!attempt(n, Attempt::Transfer)) return false;
    s.transferTried = true;
    s.gotData = false;
    s.startMarked = false;
    setStatusBar("Downloading " + s.record.fname);
    memo(ftpstatus_, "Entering State " + std::to_string(stateNumber(s)));
    // The name first, so the pending entry saved below carries it.
    s.localName = localNameFor(n, s.remoteSize());
    addPending(s.record.url);
    auto& dl = pending_.downloading;
    const auto row = static_cast<std::size_t>(std::find(dl.begin(), dl.end(), s.record.url) - dl.begin());
    // (A size not known yet, as an http file's before its reply, leaves the one known before.)
    if (row < pending_.downloadingsize.size() && s.remoteSize() > 0)
        pending_.downloadingsize[row] = std::to_string(s.remoteSize());
    if (s.localName != s.record.fname) pending_.localName[s.record.url] = s.localName;
    memo(abortout_, "Starting download");
    s.resumeAt = 0;
    savecfgAtTick();
    return true;
}

void Scheduler::keepVersion(int n, const FileVersion& v) {
    const Slot& s = slot(n);
    const auto& dl = pending_.downloading;
    const auto row = static_cast<std::size_t>(std::find(dl.begin(), dl.end(), s.record.url) - dl.begin());
    if (row >= dl.size()) return; // no longer pending (stopped)
    if (v.empty())
        pending_.version.erase(s.record.url);
    else
        pending_.version[s.record.url] = v;
    if (row < pending_.downloadingsize.size())
        pending_.downloadingsize[row] = std::to_string(std::max<std::int64_t>(0, v.size));
    savecfgAtTick(); // a run killed now still knows what its partial file is
}

const FileVersion* Scheduler::keptVersion(int n) const {
    const auto v = pending_.version.find(slot(n).record.url);
    return v == pending_.version.end() ? nullptr : &v->second;
}

void Scheduler::finishHandling(int n) {
    Slot& s = slotAt(n);
    // The settings are written once, below, when the file has left the
    // pending list (a write here would hold what the transfer start wrote).
    if (s.fetched && verify_) verifyFetched(n);
    const bool fetched = s.fetched;
    s.lastFetched = fetched;
    if (fetched) credit(n, FinishedMarks);
    memo(ftpstatus_, "Entering State " + std::to_string(stateNumber(s)));
    const std::string why = s.failure.value_or("not fetched");
    const Outcome outcome = fetched ? Outcome::Done : s.outcome;
    if (fetched)
        setStatusBar("Finished download of " + s.record.fname);
    else if (outcome == Outcome::NotFound)
        setStatusBar(s.record.fname + " not found on the site " + s.record.site);
    else
        setStatusBar("Could not fetch " + s.record.fname + ": " + why);
    s.queue.erase(s.queue.begin(),
                  s.queue.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(2, s.queue.size())));
    if (!s.queueUrls.empty()) s.queueUrls.erase(s.queueUrls.begin());
    settleFinished(n, fetched, outcome, why);
    if (s.phase == Phase::Finishing) {
        s.record.dir = s.queue.at(0);
        s.record.fname = s.queue.at(1);
        if (!s.queueUrls.empty()) s.record.url = s.queueUrls.front();
        s.byteCount = 0;
        s.session->nextFile(s.record);
    }
}

// Every byte the server sent is here; whether they are a song is told by the
// file itself. A web page, zeros or another format under the name, or a stream
// that breaks, is no finished download: its site gets the marks of a refusal
// instead of those of a file fetched, and the bytes are kept out of the way of
// music players (rejected/NAME.mp3.rejected), where the message says.
void Scheduler::verifyFetched(int n) {
    Slot& s = slotAt(n);
    const std::string url = s.record.url;
    const media::Verdict v = media::verify(s.localName);
    const std::string line = std::to_string(n) + ": " + platform::printable(s.localName) + ": ";
    switch (v.kind) {
    case media::Kind::Audio:
        log(Memo::Shown, line + media::summary(v));
        hooks.fileVerified(url, s.localName, v);
        return;
    case media::Kind::Unreadable:
        // The check could not read what was just written: the bytes are as
        // the server sent them, so the file stands, unchecked.
        log(Memo::Shown, line + "not checked: " + media::summary(v));
        hooks.fileVerified(url, s.localName, v);
        return;
    case media::Kind::NotAudio:
    case media::Kind::Damaged:
        break;
    }
    std::string error;
    std::string moved = moveToRejected(s.localName, error);
    if (moved.rfind("./", 0) == 0) moved.erase(0, 2); // "rejected/Name.mp3.rejected", beside the file
    std::string why = media::summary(v);
    why += moved.empty() ? "; left as " + s.localName + " (" + error + ")" : "; kept as " + moved;
    log(Memo::Shown, line + why);
    debit(n, RefusalMarks);
    hooks.fileVerified(url, moved.empty() ? s.localName : moved, v);
    s.fetched = false;
    s.outcome = v.kind == media::Kind::NotAudio ? Outcome::NotAudio : Outcome::Damaged;
    s.failure = platform::printable(why);
}

// The finished file leaves the pending list (unless it is kept for a resume),
// the slot ends when its queue ran out, and the listeners hear of it.
void Scheduler::settleFinished(int n, bool fetched, Outcome outcome, const std::string& why) {
    Slot& s = slotAt(n);
    const std::string url = s.record.url;
    const bool keep = !fetched && keptPending(outcome);
    s.fetched = false;
    s.outcome = Outcome::Done;
    s.failure.reset();
    if (keep) s.record.url.clear(); // an abort for an empty queue keeps it pending
    maintainlist(n);
    if (!keep) dropPending(url);
    if (idle())
        savecfg();
    else
        savecfgAtTick();
    if (fetched) finishedAs_[s.localName] = url;
    if (!fetched) hooks.fileFailed(url, {outcome, why});
    hooks.fileDone(url, fetched);
}

} // namespace download
