#include "download/scheduler.h"
#include "download/fileurl.h"
#include "download/slot_sessions.h"

#include "platform/text.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <sys/stat.h>

namespace download {

using platform::contains;

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

const char* stateText(SlotState state) {
    static const char* const texts[] = {"Not connected",         "Connecting",
                                        "Sending Username",      "Sending Password",
                                        "Setting up connection", "Downloading",
                                        "Finishing download",    "Setting up connection",
                                        "Transfering Data",      "Transfering Data",
                                        "Downloading",           "Restarting, site does not support REST"};
    const int k = number(state);
    if (k < 0 || k > 11) return "";
    return texts[k];
}

bool numberedAboveLoggedIn(SlotState state) {
    switch (state) {
    case Idle:
    case Connecting:
    case Connected:
    case LoggedIn:
        return false;
    case StartTransfer:
    case TransferAnswered:
    case FileFinished:
    case SizeAnswered:
    case TypeSent:
    case UserSent:
    case TransferConfirmed:
    case ResumeRefused:
        return true;
    }
    return false;
}

Scheduler::Scheduler(url::UrlInfo& urlinfo, results::SiteStats& stats, PendingDownloads& pending)
    : urlinfo_(urlinfo), stats_(stats), pending_(pending) {
    for (int n = 1; n <= SlotCount; ++n) {
        auto c = std::make_unique<net::TFtpClient>();
        const bool quiet = n == 7 || n == 14; // these two show no data pieces
        c->Tag = n;
        c->Port = "ftp";
        c->Binary = true;
        c->MultiThreaded = false;
        c->Timeout = quiet ? 25 : 30;
        c->DisplayFlag = !quiet;
        if (quiet) c->LocalFileName = "testfile.mp3";
        c->OnRequestDone.connect(
            [this](net::TFtpClient& s, net::TFtpRequest rq, std::uint16_t e) { ftp11RequestDone(s, rq, e); });
        c->OnDisplay.connect([this](net::TFtpClient& s, std::string& msg) { ftp1Display(s, msg); });
        c->OnProgress.connect(
            [this](net::TFtpClient& s, std::int64_t count, bool& ab) { ftp1Progress(s, count, ab); });
        c->OnTlsUnverified.connect([this](net::TFtpClient& s, std::string& refusal) {
            std::string note;
            refusal = knownCertificates.judge(s.HostName, s.Port, s.TlsFingerprint(), note);
            if (note.empty()) return;
            std::string line = std::to_string(s.Tag) + ": ! " + note;
            hooks.statusmemo(line);
            memo(ftpstatus, std::move(line));
        });
        slots_[static_cast<std::size_t>(n)].client = std::move(c);
        slots_[static_cast<std::size_t>(n)].session = std::make_unique<FtpSlotSession>(*this, n);
    }
    dfatimer.setInterval(intervalForPace(1));
    dfatimer.OnTimer = [this] { dfatimerTimer(); };
}

Scheduler::~Scheduler() {
    dfatimer.setEnabled(false);
    // The clients go first; their events must not reach a half-destroyed scheduler.
    for (auto& s : slots_) {
        if (!s.client) continue;
        s.client->OnRequestDone.disconnectAll();
        s.client->OnDisplay.disconnectAll();
        s.client->OnProgress.disconnectAll();
        s.client->OnStateChange.disconnectAll();
        s.client->OnTlsUnverified.disconnectAll();
        s.client.reset();
    }
}

int Scheduler::intervalForPace(int position) {
    return position * 200 - 100;
}

void Scheduler::setPace(int position) {
    dfatimer.setInterval(intervalForPace(position));
}

bool Scheduler::ready(const net::TFtpClient& c) {
    return c.State() == net::ftpReady || c.State() == net::ftpInternalReady;
}

std::int64_t Scheduler::receivedSoFar() const {
    std::int64_t sum = receivedBytes;
    for (int n = 1; n <= SlotCount; ++n)
        sum += slot(n).session->receiving();
    return sum;
}

bool Scheduler::idle() const {
    if (!launchbuf.empty()) return false;
    for (int n = 1; n <= SlotCount; ++n)
        if (slot(n).state != Idle) return false;
    return true;
}

const char* stateName(SlotState state) {
    static const char* const names[] = {
        "Idle",         "Connecting",   "Connected", "LoggedIn", "StartTransfer",     "TransferAnswered",
        "FileFinished", "SizeAnswered", "TypeSent",  "UserSent", "TransferConfirmed", "ResumeRefused"};
    const int k = number(state);
    if (k < 0 || k > 11) return "";
    return names[k];
}

// Every change of a slot's state comes through here.
void Scheduler::setState(int n, SlotState state) {
    const SlotState old = slotAt(n).state;
    if (old == state) return;
    slotAt(n).state = state;
    if (!hooks.trace.empty())
        hooks.trace(std::to_string(n) + ": " + stateName(old) + " -> " + stateName(state));
    // A connection to open: at once when this tick has not opened one yet.
    if (state == Connecting) openSoon();
    hooks.slotChanged(n);
}

void Scheduler::memo(platform::StringList& m, std::string line) {
    m.push_back(std::move(line));
    // Trim in halves so a long run of data pieces costs little.
    if (m.size() > 2 * MemoLimit)
        m.erase(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(m.size() - MemoLimit));
}

void Scheduler::setStatusBar(const std::string& text) {
    StatusBar1 = text;
    hooks.statusBar(text);
}

void Scheduler::savecfg() {
    // A settings file that cannot be written must not stop the downloads.
    try {
        hooks.savecfg();
    } catch (const std::exception& e) {
        memo(errorlog, e.what());
    }
}

// ---- Placing files ------------------------------------------------------------

void Scheduler::launchftp(const url::tlinfo& link) {
    // A link no slot could fetch would be retried for ever: refused here,
    // where every file enters the download road (also from the pending list).
    if (const std::string why = linkProblem(link); !why.empty()) {
        memo(errorlog, "Refused: " + why + ": " + link.url);
        dropPending(link.url);
        hooks.refused(link.url, why);
        return;
    }
    url::tlinfo l = link;
    if (!l.dir.empty() && l.dir.back() != '/') l.dir += '/';
    l.port = fileUrlPort(l); // ftps:// without a port: 990
    const std::string scheme = fileUrlScheme(l.url);

    addPending(l.url);
    // One session serves one log-in at one server: a URL waits behind a busy
    // slot only when the scheme, the host, the port and the user all match.
    for (int n = 1; n <= SlotCount; ++n) {
        Slot& s = slotAt(n);
        if (s.state != Idle && s.record.site == l.site && s.record.port == l.port &&
            s.record.user == l.user && s.record.pass == l.pass && fileUrlScheme(s.record.url) == scheme) {
            s.queue.push_back(l.dir);
            s.queue.push_back(l.fname);
            s.queueUrls.push_back(l.url);
            return;
        }
    }
    int free = 0;
    for (int n = 1; n <= SlotCount; ++n)
        if (slotAt(n).state == Idle) free = n;
    if (free == 0) {
        launchbuf.push_back(l.url);
        return;
    }
    Slot& s = slotAt(free);
    s.queue = {l.dir, l.fname};
    s.queueUrls = {l.url};
    // The session of the link's scheme (a slot keeps its FTP session from one site to the next).
    if (scheme == "http" || scheme == "https")
        s.session = std::make_unique<HttpSlotSession>(*this, free);
    else if (!dynamic_cast<FtpSlotSession*>(s.session.get()))
        s.session = std::make_unique<FtpSlotSession>(*this, free);
    setState(free, Connecting);
    net::TFtpClient& c = *s.client;
    c.Port = l.port;
    c.Tls = fileUrlTls(l.url);
    if (scheme == "ftp") c.Tls = ftpTls;
    c.TlsVerify = c.Tls != net::FtpTls::Offered; // offered: trust on first use
    s.record = l;
    s.reset = false;
    c.HostName = l.site;
    c.HostDirName = l.dir;
    c.Passive = passiveSites.count(l.site + ":" + l.port) > 0; // PORT first, unless the site wanted passive
    c.HostFileName = l.fname;
    c.PassWord = l.pass;
    c.UserName = l.user;
    c.LocalFileName = l.fname;
    s.byteCount = 0;
    s.fetched = false;
    s.refusals = s.fruitless = 0;
    s.transferTried = s.gotData = s.shortRetried = s.startMarked = false;
    s.outcome = Outcome::Done;
    s.failure.clear();
    s.loginRefusals = 0;
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
    if (auto it = localNames.find(url); it != localNames.end() && it->second != url::splitUrl(url).fname)
        pending_.localName[url] = it->second;
}

namespace {
const char* const NoFilesLeft = "No files left in download list for site to dl";
}

void Scheduler::maintainlist(int n) {
    // Nothing failed: the site's queue ran out.
    if (slotAt(n).queue.size() < 2) abort(n, Outcome::Done, NoFilesLeft);
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
    if (n < 1 || n > SlotCount) return;
    Slot& s = slotAt(n);
    if (!contains(reason, "ect to ho")) {
        memo(abortout, std::to_string(n) + " XXX::" + reason);
        memo(abortout, s.record.site);
    }
    s.session->abort();
    setState(n, Idle);
    s.reset = true;
    const bool ranOut = why == Outcome::Done;
    if (ranOut)
        setStatusBar("No more files for this site: " + s.record.site);
    else
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
    setState(n, Idle);
    s.reset = true;
}

// ---- The visits ---------------------------------------------------------------

// A tick: the parked URLs go to the free slots, at most one new connection
// opens, and the slot under the cursor has its visit (its time-outs and
// stalls). The steps of a session between connections do not wait for ticks:
// each goes on as soon as the reply before it arrived (ftp11RequestDone).
void Scheduler::dfatimerTimer() {
    openedThisTick_ = false;
    if (saveAtTick_) {
        saveAtTick_ = false;
        savecfg();
    }
    handOutParked();
    openOne();

    ++cursor_;
    if (cursor_ > SlotCount || cursor_ < 1) cursor_ = 1;
    visit(cursor_);

    hooks.updatestatus();
}

bool Scheduler::stepsAtOnce(SlotState state) {
    switch (state) {
    case Idle:              // takes parked URLs at a tick
    case Connecting:        // a new connection: at most one per tick
    case TransferAnswered:  // the transfer's completion moves it on
    case TransferConfirmed: // likewise
        return false;
    case Connected:
    case UserSent:
    case LoggedIn:
    case SizeAnswered:
    case TypeSent:
    case StartTransfer:
    case ResumeRefused:
    case FileFinished:
        return true;
    }
    return false;
}

bool Scheduler::canStep(int n) const {
    const Slot& s = slot(n);
    return !s.busy && !s.awaiting && ready(*s.client);
}

void Scheduler::step(int n) {
    Slot& s = slotAt(n);
    s.wait = 0;
    s.busy = true;
    const SlotState at = s.state;
    try {
        // A file's end is the same whatever brought it.
        if (s.state == FileFinished)
            finishHandling(n);
        else
            s.session->step();
    } catch (const std::exception& e) {
        stepFailed(n, at, e.what());
    }
    if (s.awaiting) s.request = s.client->RequestType();
    s.busy = false;
}

void Scheduler::advance(int n) {
    // Each step either starts a request or moves the slot to a state that
    // waits (for a reply, a tick or a visit); the bound only guards that.
    for (int k = 0; k < 2 * SlotCount; ++k) {
        const Slot& s = slot(n);
        if (s.reset || !canStep(n) || !stepsAtOnce(s.state)) return;
        step(n);
    }
}

void Scheduler::advanceSoon(int n) {
    // After the client's event has returned: a request started from inside
    // its completion would run inside the client's own call.
    platform::post([this, n, alive = lifetime_.watch()] {
        if (alive) advance(n);
    });
}

void Scheduler::handOutParked() {
    auto freeSlot = [this] {
        for (int n = 1; n <= SlotCount; ++n)
            if (slot(n).state == Idle && canStep(n)) return true;
        return false;
    };
    // launchftp places each on a free slot (or behind the busy slot of its
    // session), so none goes back to the list while a slot is free.
    while (!launchbuf.empty() && freeSlot()) {
        const std::string url = launchbuf.front();
        launchbuf.erase(launchbuf.begin());
        launchftp(urlinfo_.info(url));
    }
}

void Scheduler::openSoon() {
    if (openedThisTick_ || openQueued_) return;
    openQueued_ = true;
    platform::post([this, alive = lifetime_.watch()] {
        if (!alive) return;
        openQueued_ = false;
        // Only while the timer runs: a scheduler stepped by hand opens at its ticks.
        if (dfatimer.Enabled()) openOne();
    });
}

void Scheduler::openOne() {
    // Also not from inside an open (an Abort that waits runs other events).
    if (openedThisTick_ || opening_) return;
    opening_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{opening_};
    // The slots in the order of the visits to come, so none waits for ever.
    for (int k = 1; k <= SlotCount; ++k) {
        const int n = (cursor_ + k - 1) % SlotCount + 1;
        const Slot& s = slot(n);
        if (s.state != Connecting || s.reset || !canStep(n)) continue;
        step(n);
        const bool opened = s.awaiting; // an FTP Open, or an HTTP request
        advance(n);                     // a step that opened nothing (the file given up) goes on
        if (opened) {
            openedThisTick_ = true;
            return;
        }
    }
}

void Scheduler::visit(int n) {
    Slot& s = slotAt(n);
    if (s.reset) setState(n, Idle);
    s.session->visit();
}

void Scheduler::stepFailed(int n, SlotState state, const std::string& what) {
    // The step raised instead of starting its request: the slot goes on as
    // after a failed step of that state, and the error is kept.
    memo(errorlog, std::to_string(n) + ": error " + what + ": state " + std::to_string(number(state)));
    if (state == Connecting) {
        // An Open that cannot even start (no host name) never connects: the
        // slot ends as after a failed name lookup instead of trying for ever.
        abort(n, Outcome::SiteDown, "Site Down");
        return;
    }
    slotAt(n).session->stepFailed(state);
}

void Scheduler::failFile(int n, Outcome outcome, const std::string& why) {
    Slot& s = slotAt(n);
    s.failure = why;
    s.fetched = false;
    s.outcome = outcome;
    setState(n, FileFinished);
}

bool Scheduler::attempt(int n, std::map<std::string, int>& tries, const char* what) {
    Slot& s = slotAt(n);
    if (++tries[s.record.url] <= MaxAttempts) return true;
    const std::string last = s.failure.empty() ? platform::printable(s.client->LastReply()) : s.failure;
    failFile(n, Outcome::GivenUp,
             "given up after " + std::to_string(MaxAttempts) + " " + what + " (last: " + last + ")");
    return false;
}

bool Scheduler::ownsPartialFile(const std::string& url) const {
    // Handed back by resume, or begun in an earlier run whose reply told the
    // file's version (a pending http:// or https:// entry fetched again by get).
    return resumedUrls.count(url) > 0 || pending_.version.count(url) > 0;
}

// The file name a transfer writes: the remote name, unless that local file
// is being written by another slot, was finished under another URL in this
// run, is the partial file of another pending URL, or is larger than the
// remote file; then "name (2).mp3", "name (3).mp3"... A URL keeps the name it
// was first given (a resume writes the same file, also after a restart: the
// pending list keeps the names that are not the remote one).
std::string Scheduler::localNameFor(int n, std::int64_t remoteSize) {
    const Slot& s = slotAt(n);
    if (auto it = localNames.find(s.record.url); it != localNames.end()) return it->second;
    // Still pending from an earlier run (fetched again with get, not resume).
    if (auto it = pending_.localName.find(s.record.url); it != pending_.localName.end())
        return localNames[s.record.url] = it->second;
    auto taken = [&](const std::string& name) {
        for (int m = 1; m <= SlotCount; ++m) {
            const Slot& o = slotAt(m);
            // FileFinished: written whole, not yet counted among the finished.
            const bool writing = o.state == StartTransfer || o.state == TransferAnswered ||
                                 o.state == TransferConfirmed || o.state == ResumeRefused ||
                                 o.state == FileFinished;
            if (m != n && writing && o.client->LocalFileName == name) return true;
        }
        if (auto f = finishedAs.find(name); f != finishedAs.end() && f->second != s.record.url) return true;
        // The partial file of another pending URL that has started (in this
        // run, or in an earlier one); a URL still waiting owns no file yet.
        for (const std::string& url : pending_.downloading) {
            if (url == s.record.url) continue;
            if (const auto own = pending_.localName.find(url); own != pending_.localName.end()) {
                if (own->second == name) return true;
            } else if (const auto here = localNames.find(url); here != localNames.end()) {
                if (here->second == name) return true;
            } else if (ownsPartialFile(url) && url::splitUrl(url).fname == name) {
                return true;
            }
        }
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0) return false;
        // A file of unknown size can be told from a local file of the name by
        // nothing: one this URL did not start is never resumed or truncated.
        if (remoteSize <= 0) return !ownsPartialFile(s.record.url);
        return st.st_size > remoteSize;
    };
    std::string name = s.record.fname;
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int i = 2; taken(name) && i < 10000; ++i)
        name = stem + " (" + std::to_string(i) + ")" + ext;
    localNames[s.record.url] = name;
    return name;
}

// What every transfer start does, FTP or HTTP: the bounds, the local name,
// the pending entry. False when the file or its site was given up instead.
bool Scheduler::beginTransfer(int n) {
    Slot& s = slotAt(n);
    net::TFtpClient& c = *s.client;
    // A site whose transfers keep receiving nothing is given up; data resets the count.
    if (s.transferTried) s.fruitless = s.gotData ? 0 : s.fruitless + 1;
    if (s.fruitless >= MaxFruitlessTransfers) {
        abort(n, Outcome::GivenUp,
              "No data in " + std::to_string(MaxFruitlessTransfers) + " transfers in a row");
        return false;
    }
    if (!attempt(n, transfersFor, "transfers")) return false;
    s.transferTried = true;
    s.gotData = false;
    s.startMarked = false;
    setStatusBar("Downloading " + s.record.fname);
    memo(ftpstatus, "Entering State " + std::to_string(number(s.state)));
    // The name first, so the pending entry saved below carries it. (An
    // HTTP slot keeps its local name in the client's field too, where the
    // other slots look for names being written.)
    c.LocalFileName = localNameFor(n, s.remoteSize());
    addPending(s.record.url);
    auto& dl = pending_.downloading;
    const auto row = static_cast<std::size_t>(std::find(dl.begin(), dl.end(), s.record.url) - dl.begin());
    // (A size not known yet, as an http file's before its reply, leaves the one known before.)
    if (row < pending_.downloadingsize.size() && s.remoteSize() > 0)
        pending_.downloadingsize[row] = std::to_string(s.remoteSize());
    if (c.LocalFileName != s.record.fname) pending_.localName[s.record.url] = c.LocalFileName;
    memo(abortout, "Starting download");
    s.resumeAt = 0;
    savecfgAtTick();
    return true;
}

void Scheduler::finishHandling(int n) {
    Slot& s = slotAt(n);
    net::TFtpClient& c = *s.client;
    // The settings are written once, below, when the file has left the
    // pending list (a write here would hold what the transfer start wrote).
    const bool fetched = s.fetched;
    if (fetched)
        for (int i = 0; i < FinishedMarks; ++i)
            stats_.addgood(c.HostName);
    memo(ftpstatus, "Entering State " + std::to_string(number(s.state)));
    const std::string why = s.failure.empty() ? std::string("not fetched") : s.failure;
    const Outcome outcome = fetched ? Outcome::Done : s.outcome;
    if (fetched)
        setStatusBar("Finished download of " + s.record.fname);
    else if (outcome == Outcome::NotFound)
        setStatusBar(s.record.fname + " not found on the site " + s.record.site);
    else
        setStatusBar("Could not fetch " + s.record.fname + ": " + why);
    if (s.queue.size() >= 2) {
        s.queue.erase(s.queue.begin(), s.queue.begin() + 2);
    } else if (s.queue.size() == 1) {
        s.queue.erase(s.queue.begin());
    }
    if (!s.queueUrls.empty()) s.queueUrls.erase(s.queueUrls.begin());
    const std::string url = s.record.url;
    const bool keep = !fetched && keptPending(outcome);
    s.fetched = s.shortRetried = false;
    s.outcome = Outcome::Done;
    s.failure.clear();
    if (keep) s.record.url.clear(); // an abort for an empty queue keeps it pending
    maintainlist(n);
    if (!keep) dropPending(url);
    if (idle())
        savecfg();
    else
        savecfgAtTick();
    if (fetched) finishedAs[c.LocalFileName] = url;
    if (!fetched) hooks.fileFailed(url, {outcome, why});
    hooks.fileDone(url, fetched);
    if (s.state == FileFinished) {
        setState(n, LoggedIn);
        c.HostDirName = s.queue.at(0);
        c.HostFileName = s.queue.at(1);
        s.record.dir = s.queue.at(0);
        s.record.fname = s.queue.at(1);
        if (!s.queueUrls.empty()) s.record.url = s.queueUrls.front();
        s.byteCount = 0;
    }
}

} // namespace download
