// The scheduler: placing files on the slots, ending slots, the tick with its
// new connections and visits, and what the sessions ask of it (SlotHost).

#include "download/scheduler.h"
#include "download/fileurl.h"

#include "platform/text.h"

#include <algorithm>
#include <exception>

namespace download {

std::string linkProblem(const url::tlinfo& link) {
    if (link.site.empty()) return "no host name in URL";
    const std::string& p = link.port;
    const bool digits = !p.empty() && p.size() <= 5 &&
                        std::all_of(p.begin(), p.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(p) < 1 || std::stoi(p) > 65535) return "bad port in URL";
    if (link.fname.empty()) return "no file name in URL";
    return localNameProblem(link.fname);
}

std::string localNameProblem(const std::string& fname) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const std::size_t k = fname.size();
    const bool mp3 = k > 4 && fname[k - 4] == '.' && lower(fname[k - 3]) == 'm' &&
                     lower(fname[k - 2]) == 'p' && fname[k - 1] == '3';
    if (!mp3) return "not an .mp3 name";
    if (fname[0] == '.') return "a name beginning with \".\"";
    if (fname.find('/') != std::string::npos || platform::holdsControl(fname))
        return "a control character in the name";
    return {};
}

int stateNumber(const Slot& slot) {
    return slot.session->statusNumber();
}

const char* stateText(const Slot& slot) {
    return slot.session->statusText();
}

Scheduler::Scheduler(url::UrlInfo& urlinfo, results::SiteStats& stats, PendingDownloads& pending)
    : urlinfo_(urlinfo), stats_(stats), pending_(pending) {
    for (int n = 1; n <= SlotCount; ++n)
        takeSession(n, "ftp");
    dfatimer.setInterval(intervalForPace(1));
    dfatimer.OnTimer = [this] { dfatimerTimer(); };
}

Scheduler::~Scheduler() {
    dfatimer.setEnabled(false);
    // The sessions go first; their clients' events must not reach a half-destroyed scheduler.
    for (int n = 1; n <= SlotCount; ++n) {
        slotAt(n).session.reset();
        parked_[static_cast<std::size_t>(n)].reset();
    }
}

void Scheduler::takeSession(int n, const std::string& scheme) {
    Slot& s = slotAt(n);
    if (s.session && s.session->serves(scheme)) return;
    // The other protocol's session waits for the slot's next site of its kind
    // (it may be in the middle of its own call).
    std::swap(s.session, parked_[static_cast<std::size_t>(n)]);
    if (s.session && s.session->serves(scheme)) return;
    if (scheme == "http" || scheme == "https") {
        s.session = std::make_unique<HttpSlotSession>(static_cast<SlotHost&>(*this), httpRoad_, n);
        return;
    }
    auto f = std::make_unique<FtpSlotSession>(static_cast<SlotHost&>(*this), ftpRoad_, n);
    net::TFtpClient& c = f->client();
    c.OnRequestDone.connect([this](net::TFtpClient& sender, net::TFtpRequest rq, std::uint16_t e) {
        ftp11RequestDone(sender, rq, e);
    });
    c.OnDisplay.connect([this](net::TFtpClient& sender, std::string& msg) { ftp1Display(sender, msg); });
    c.OnProgress.connect(
        [this](net::TFtpClient& sender, std::int64_t count, bool& ab) { ftp1Progress(sender, count, ab); });
    s.session = std::move(f);
}

// The clients' events reach the FTP session of their slot.
FtpSlotSession* Scheduler::ftpSession(const net::TFtpClient& sender) {
    const int n = sender.Tag;
    if (n < 1 || n > SlotCount) return nullptr;
    auto* f = dynamic_cast<FtpSlotSession*>(slotAt(n).session.get());
    return f && &f->client() == &sender ? f : nullptr;
}

void Scheduler::ftp11RequestDone(net::TFtpClient& sender, net::TFtpRequest rqType, std::uint16_t error) {
    if (FtpSlotSession* f = ftpSession(sender)) f->requestDone(rqType, error);
}

void Scheduler::ftp1Display(net::TFtpClient& sender, std::string& msg) {
    if (FtpSlotSession* f = ftpSession(sender)) f->display(msg);
}

void Scheduler::ftp1Progress(net::TFtpClient& sender, std::int64_t count, bool& abortFlag) {
    if (FtpSlotSession* f = ftpSession(sender)) f->progress(count, abortFlag);
}

int Scheduler::intervalForPace(int position) {
    return position * 200 - 100;
}

void Scheduler::setPace(int position) {
    dfatimer.setInterval(intervalForPace(position));
}

std::int64_t Scheduler::receivedSoFar() const {
    std::int64_t sum = receivedBytes_;
    for (int n = 1; n <= SlotCount; ++n)
        sum += slot(n).session->receiving();
    return sum;
}

int Scheduler::connectionsFor(const std::string& url) const {
    const auto it = connectsFor_.find(url);
    return it == connectsFor_.end() ? 0 : it->second;
}

void Scheduler::forgetNames() {
    localNames_.clear();
    finishedAs_.clear();
}

void Scheduler::clearMemos() {
    ftpstatus_.clear();
    abortout_.clear();
    errorlog_.clear();
}

bool Scheduler::idle() const {
    if (!launchbuf_.empty()) return false;
    for (int n = 1; n <= SlotCount; ++n)
        if (slot(n).phase != Phase::Idle) return false;
    return true;
}

// Every change of a session's step comes through here.
void Scheduler::stepChanged(int n, const char* from, const char* to, Phase phase) {
    Slot& s = slotAt(n);
    s.phase = phase;
    if (!hooks.trace.empty()) hooks.trace(std::to_string(n) + ": " + from + " -> " + to);
    // A connection to open, or a slot free for a parked URL: at once when allowed.
    if ((s.session && s.session->needsConnection()) || (phase == Phase::Idle && !launchbuf_.empty()))
        openSoon();
    hooks.slotChanged(n);
}

void Scheduler::memo(platform::StringList& m, std::string line) {
    m.push_back(std::move(line));
    // Trim in halves so a long run of data pieces costs little.
    if (m.size() > 2 * MemoLimit)
        m.erase(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(m.size() - MemoLimit));
}

void Scheduler::log(Memo which, const std::string& line) {
    switch (which) {
    case Memo::Shown:
        hooks.statusmemo(line);
        memo(ftpstatus_, line);
        break;
    case Memo::Dot:
        memo(ftpstatus_, line);
        break;
    case Memo::Error:
        memo(errorlog_, line);
        break;
    }
}

void Scheduler::setStatusBar(const std::string& text) {
    statusBar_ = text;
    hooks.statusBar(text);
}

void Scheduler::savecfg() {
    // A settings file that cannot be written must not stop the downloads.
    try {
        hooks.savecfg();
    } catch (const std::exception& e) {
        memo(errorlog_, e.what());
    }
}

void Scheduler::credit(int n, int marks) {
    const std::string& site = slot(n).record.site;
    if (site.empty()) return; // a slot already ended has no site left
    for (int i = 0; i < marks; ++i)
        stats_.addgood(site);
}

void Scheduler::debit(int n, int marks) {
    const std::string& site = slot(n).record.site;
    if (site.empty()) return;
    for (int i = 0; i < marks; ++i)
        stats_.addbad(site);
}

void Scheduler::creditStart(int n) {
    Slot& s = slotAt(n);
    if (s.startMarked) return;
    s.startMarked = true;
    credit(n, 1);
}

void Scheduler::progress(int n, std::int64_t byteCount, std::int64_t resumeAt) {
    Slot& s = slotAt(n);
    s.byteCount = byteCount;
    s.resumeAt = resumeAt;
    s.record.tag = static_cast<std::int32_t>(byteCount);
}

void Scheduler::transferRestarts(int n) {
    slotAt(n).resumeAt = 0;
    slotAt(n).startMarked = false;
}

// ---- Placing files ------------------------------------------------------------

void Scheduler::launchftp(const url::tlinfo& link) {
    // A link no slot could fetch would be retried for ever: refused here,
    // where every file enters the download road (also from the pending list).
    if (const std::string why = linkProblem(link); !why.empty()) {
        memo(errorlog_, "Refused: " + why + ": " + link.url);
        dropPending(link.url);
        hooks.refused(link.url, why);
        return;
    }
    if (admits && !admits(link)) {
        dropPending(link.url);
        return;
    }
    const url::tlinfo l = placed(link);
    const std::string scheme = fileUrlScheme(l.url);

    addPending(l.url);
    if (const int serving = servingSlot(l); serving != 0) {
        Slot& s = slotAt(serving);
        s.queue.push_back(l.dir);
        s.queue.push_back(l.fname);
        s.queueUrls.push_back(l.url);
        return;
    }
    int free = 0;
    for (int n = 1; n <= SlotCount; ++n)
        if (slot(n).phase == Phase::Idle) free = n;
    if (free == 0) {
        launchbuf_.push_back(l.url);
        return;
    }
    Slot& s = slotAt(free);
    s.queue = {l.dir, l.fname};
    s.queueUrls = {l.url};
    takeSession(free, scheme);
    s.record = l;
    s.reset = false;
    s.localName = inFolder(l.fname);
    s.byteCount = 0;
    s.fetched = false;
    s.fruitless = 0;
    s.transferTried = s.gotData = s.startMarked = false;
    s.outcome = Outcome::Done;
    s.failure.reset();
    s.session->begin(l);
}

url::tlinfo Scheduler::placed(const url::tlinfo& link) {
    url::tlinfo l = link;
    if (!l.dir.empty() && l.dir.back() != '/') l.dir += '/';
    l.port = fileUrlPort(l); // ftps:// without a port: 990
    return l;
}

int Scheduler::servingSlot(const url::tlinfo& l) const {
    // One session serves one log-in at one server: a URL waits behind a busy
    // slot only when the scheme, the host, the port and the user all match.
    const std::string scheme = fileUrlScheme(l.url);
    for (int n = 1; n <= SlotCount; ++n) {
        const Slot& s = slot(n);
        if (s.phase != Phase::Idle && s.record.site == l.site && s.record.port == l.port &&
            s.record.user == l.user && s.record.pass == l.pass && fileUrlScheme(s.record.url) == scheme)
            return n;
    }
    return 0;
}

void Scheduler::resume(const url::tlinfo& link, const std::optional<std::string>& localName) {
    if (localName) localNames_[link.url] = *localName;
    resumedUrls_.insert(link.url);
    launchftp(link);
}

void Scheduler::savecfgSoon() {
    if (saveQueued_) return;
    saveQueued_ = true;
    platform::post([this, alive = lifetime_.watch()] {
        if (!alive) return;
        saveQueued_ = false;
        saveAtTick_ = false;
        savecfg();
    });
}

void Scheduler::savecfgAtTick() {
    // While the timer runs, the starts and ends of a tick are written in one
    // go at the next tick (a file each few milliseconds would otherwise
    // rewrite the settings file as often).
    saveAtTick_ = true;
    if (!dfatimer.Enabled()) savecfgSoon();
}

void Scheduler::addPending(const std::string& url) {
    auto& dl = pending_.downloading;
    if (std::find(dl.begin(), dl.end(), url) == dl.end()) {
        dl.push_back(url);
        pending_.downloadingsize.push_back("0");
        savecfgSoon(); // pending from the moment it is accepted, also across a kill
    }
    if (auto it = localNames_.find(url); it != localNames_.end() && it->second != url::splitUrl(url).fname)
        pending_.localName[url] = it->second;
}

void Scheduler::maintainlist(int n) {
    // Nothing failed: the site's queue ran out.
    if (slot(n).queue.size() < 2) abort(n, Outcome::Done, "No files left in download list for site to dl");
}

void Scheduler::dropPending(const std::string& url) {
    auto& dl = pending_.downloading;
    auto& sz = pending_.downloadingsize;
    for (std::size_t i = dl.size(); i-- > 0;) {
        if (i >= dl.size() || dl[i] != url) continue;
        if (i < sz.size()) sz.erase(sz.begin() + static_cast<std::ptrdiff_t>(i));
        dl.erase(dl.begin() + static_cast<std::ptrdiff_t>(i));
    }
    pending_.localName.erase(url);
    pending_.version.erase(url);
}

void Scheduler::abort(int n, const std::string& reason) {
    abort(n, Outcome::GivenUp, reason);
}

void Scheduler::stop(int n) {
    abort(n, Outcome::Stopped, "Stopped");
}

void Scheduler::abort(int n, Outcome why, const std::string& reason) {
    giveUp(n, why, reason, false);
}

void Scheduler::giveUp(int n, Outcome why, const std::string& reason, bool quiet) {
    if (n < 1 || n > SlotCount) return;
    Slot& s = slotAt(n);
    // A cancel of a slot with no work has nothing to say.
    if (why == Outcome::Stopped && s.phase == Phase::Idle && s.record.site.empty()) return;
    if (!quiet) {
        memo(abortout_, std::to_string(n) + " XXX::" + reason);
        memo(abortout_, s.record.site);
    }
    s.session->abort();
    s.reset = true;
    const bool ranOut = why == Outcome::Done;
    // The site's line follows a file fetched whole; after a failure the
    // file's own message stays.
    if (ranOut && s.lastFetched)
        setStatusBar("No more files for this site: " + s.record.site);
    else if (why == Outcome::Stopped)
        setStatusBar("Stopped by you: " + platform::printable(s.record.fname));
    else if (!ranOut)
        setStatusBar("Unrecoverable problems with site, " + s.record.site +
                     " Aborting. Reason: " + platform::printable(reason));
    // The files of the site that were not fetched: dropped when the user
    // stopped them, else kept pending for a later resume, each told why.
    platform::StringList left;
    if (!s.record.url.empty()) left.push_back(s.record.url);
    for (std::size_t k = 1; k < s.queueUrls.size(); ++k)
        left.push_back(s.queueUrls[k]);
    s.queueUrls.clear();
    s.record.site.clear();
    s.record.fname.clear();
    for (const std::string& url : left) {
        if (why == Outcome::Stopped)
            dropPending(url);
        else if (!ranOut)
            hooks.fileFailed(url, {why, "site given up: " + platform::printable(reason)});
    }
    s.session->rest();
    s.reset = true;
}

// ---- The tick -----------------------------------------------------------------

// A tick: the parked URLs go to the free slots, new connections open, and
// the slot under the cursor has its visit (its time-outs and stalls). The
// steps of a session between connections do not wait for ticks: each goes
// on as soon as the reply before it arrived.
void Scheduler::dfatimerTimer() {
    openedThisTick_ = false;
    if (saveAtTick_) {
        saveAtTick_ = false;
        savecfg();
    }
    handOutParked();
    openConnections();

    ++cursor_;
    if (cursor_ > SlotCount || cursor_ < 1) cursor_ = 1;
    visit(cursor_);

    hooks.updatestatus();
}

bool Scheduler::canStep(int n) const {
    return !slot(n).busy && slot(n).session->ready();
}

void Scheduler::step(int n) {
    Slot& s = slotAt(n);
    s.wait = 0;
    s.busy = true;
    const int at = s.session->statusNumber();
    // A file's end is the same whatever brought it.
    const bool finishing = s.phase == Phase::Finishing;
    try {
        if (finishing)
            finishHandling(n);
        else
            s.session->step();
    } catch (const std::exception& e) {
        // The step raised instead of starting its request: the slot goes on
        // as after a failed request of that step, and the error is kept.
        memo(errorlog_, std::to_string(n) + ": error " + e.what() + ": state " + std::to_string(at));
        if (!finishing) s.session->stepFailed();
    }
    s.busy = false;
}

void Scheduler::advance(int n) {
    // Each step either starts a request or moves the slot to a step that
    // waits (for a reply, a tick or a visit); the bound only guards that.
    for (int k = 0; k < 2 * SlotCount; ++k) {
        const Slot& s = slot(n);
        if (s.reset || !canStep(n) || !s.session->stepsAtOnce()) return;
        step(n);
    }
}

void Scheduler::goOnSoon(int n) {
    // After the client's event has returned: a request started from inside
    // its completion would run inside the client's own call.
    platform::post([this, n, alive = lifetime_.watch()] {
        if (alive) advance(n);
    });
}

void Scheduler::handOutParked() {
    auto freeSlot = [this] {
        for (int n = 1; n <= SlotCount; ++n)
            if (slot(n).phase == Phase::Idle && canStep(n)) return true;
        return false;
    };
    // launchftp places each on a free slot or behind the busy slot of its
    // session: one whose site a slot took meanwhile joins that slot's queue
    // (else it would wait for a slot of its own, file by file). The others
    // stay parked in their order.
    platform::StringList parked;
    parked.swap(launchbuf_);
    for (const std::string& url : parked) {
        const url::tlinfo link = urlinfo_.info(url);
        if (freeSlot() || servingSlot(placed(link)) != 0)
            launchftp(link);
        else
            launchbuf_.push_back(url);
    }
}

void Scheduler::openSoon() {
    if (openQueued_) return;
    openQueued_ = true;
    platform::post([this, alive = lifetime_.watch()] {
        if (!alive) return;
        openQueued_ = false;
        // Only while the timer runs: a scheduler stepped by hand opens at its ticks.
        if (!dfatimer.Enabled()) return;
        handOutParked();
        openConnections();
    });
}

bool Scheduler::firstContact(int n) const {
    const Slot& s = slot(n);
    if (!s.session->firstContact()) return false;
    for (int m = 1; m <= SlotCount; ++m) {
        const Slot& o = slot(m);
        // A site is a server: one host's other ports are other sites.
        if (m != n && o.phase != Phase::Idle && o.record.site == s.record.site &&
            o.record.port == s.record.port && !o.session->firstContact())
            return false;
    }
    return true;
}

bool Scheduler::open(int n) {
    step(n);
    const bool opened = slot(n).session->awaiting(); // an FTP Open, or an HTTP request
    advance(n);                                      // a step that opened nothing (the file given up) goes on
    return opened;
}

void Scheduler::openConnections() {
    // Also not from inside an open (an Abort that waits runs other events).
    if (opening_) return;
    opening_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{opening_};
    // The slots in the order of the visits to come, so none waits for ever.
    // A first contact with a site opens at once; reconnects and retries go
    // at the pace, one a tick.
    for (int k = 1; k <= SlotCount; ++k) {
        const int n = (cursor_ + k - 1) % SlotCount + 1;
        const Slot& s = slot(n);
        if (s.reset || !s.session->needsConnection() || !canStep(n)) continue;
        const bool first = firstContact(n);
        if (!first && openedThisTick_) continue;
        if (open(n) && !first) openedThisTick_ = true;
    }
}

void Scheduler::visit(int n) {
    Slot& s = slotAt(n);
    if (s.reset) s.session->rest();
    const bool stepped = canStep(n);
    if (stepped) {
        // Normally nothing is left to do here: a slot moved on by the
        // time-outs or a stall at its last visit goes on now.
        s.wait = 0;
        advance(n);
    } else {
        ++s.wait;
    }
    s.session->visit(stepped);
}

bool Scheduler::unpark(const std::string& url) {
    const auto it = std::find(launchbuf_.begin(), launchbuf_.end(), url);
    if (it == launchbuf_.end()) return false;
    launchbuf_.erase(it);
    return true;
}

} // namespace download
