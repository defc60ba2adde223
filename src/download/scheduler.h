#pragma once
// The download scheduler: places files on the fourteen slots (launchftp),
// opens their connections and watches their time-outs and stalls at the pace
// of its tick (dfatimerTimer), moves each session on from step to step as the
// clients answer (session.cpp) and keeps the pending downloads, the
// diagnostic memos and the status bar text.

#include "download/known_certs.h"
#include "download/pending.h"
#include "download/slots.h"
#include "platform/eventloop.h"
#include "platform/listview.h"
#include "platform/signal.h"
#include "results/site_stats.h"
#include "url/urlinfo.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace download {

class FtpSlotSession;
class HttpSlotSession;

// What the scheduler announces to the rest of the program; each may have
// several listeners (the program, a window, the command line's progress).
struct SchedulerHooks {
    platform::Signal<> savecfg;                               // the pending downloads changed: write them
    platform::Signal<const std::string& /*url*/> addToLog;    // a transfer started: the download log's list
    platform::Signal<const std::string& /*text*/> statusBar;  // the status bar changed
    platform::Signal<const std::string& /*line*/> statusmemo; // a line for the details window
    platform::Signal<> updatestatus;                          // a visit ended: the status view refreshes
    // A file left its slot: fetched whole, or given up as done (a 550 skip).
    platform::Signal<const std::string& /*url*/, bool /*fetched*/> fileDone;
    platform::Signal<int /*n*/> slotChanged; // the state of slot n changed
    // A file that ends unfetched in this run, and why ("not found on the site
    // (550 No such file)", "No space left on device", ...). It stays pending
    // unless the site does not have it or sent something else.
    platform::Signal<const std::string& /*url*/, const TransferResult& /*why*/> fileFailed;
    // A URL launchftp refused (why: "bad port in URL", ...); nothing was started.
    platform::Signal<const std::string& /*url*/, const std::string& /*why*/> refused;
    // Each change of a slot's state: "3: Connecting -> Connected" (for -v).
    platform::Signal<const std::string& /*line*/> trace;
};

class Scheduler {
public:
    Scheduler(url::UrlInfo& urlinfo, results::SiteStats& stats, PendingDownloads& pending);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    SchedulerHooks hooks;

    // ---- Placing files ------------------------------------------------------
    // The slot serving the link's site, else the highest free slot, else launchbuf.
    void launchftp(const url::tlinfo& link);
    // Ends slot n's work on its site; its files stay pending, each told why.
    void abort(int n, Outcome why, const std::string& reason);
    void abort(int n, const std::string& reason); // why: GivenUp
    // The user stopped slot n: its files leave the pending list.
    void stop(int n);
    // Ends slot n when its site queue holds fewer than two lines.
    void maintainlist(int n);

    // ---- The timer ----------------------------------------------------------
    // One tick: parked URLs go to free slots, at most one new connection
    // opens, and the slot under the cursor has its visit: the cursor moves
    // one slot a tick, so each slot's time-outs and stalls are counted once
    // every SlotCount ticks. While the timer runs, a slot that needs a
    // connection between two ticks gets it at once if this tick has not
    // opened one yet.
    void dfatimerTimer();
    // Interval of the track bar position (1..10): position x 200 - 100 ms.
    static int intervalForPace(int position);
    void setPace(int position);
    platform::TTimer dfatimer;

    // ---- The clients' events (one handler each, shared by the fourteen) -----
    void ftp11RequestDone(net::TFtpClient& sender, net::TFtpRequest rqType, std::uint16_t error);
    void ftp1Display(net::TFtpClient& sender, std::string& msg);
    void ftp1Progress(net::TFtpClient& sender, std::int64_t count, bool& abortFlag);

    // ---- State ---------------------------------------------------------------
    // Slot n, to read: its fields change only through the scheduler.
    const Slot& slot(int n) const { return slots_.at(static_cast<std::size_t>(n)); }
    int cursor() const { return cursor_; }
    // No slot has work and nothing is parked.
    bool idle() const;

    platform::StringList launchbuf; // URLs that found no free slot
    platform::StringList ftpstatus; // lines the clients showed
    platform::StringList abortout;  // aborts and transfer starts
    platform::StringList errorlog;  // request errors no rule handled
    // The local name each URL was given in this run, and the URL each name
    // was finished under: a second file of the same name goes to a free name.
    std::map<std::string, std::string> localNames, finishedAs;
    // Sites ("host:port") whose data connections went passive in this run (PORT refused,
    // 425, or no connection in time): every later visit starts passive.
    std::set<std::string> passiveSites;
    // Sites ("host:port") that sent a whole file after accepting REST: their
    // files are fetched from the start in this run.
    std::set<std::string> noRestSites;
    // URLs handed back from the pending list of an earlier run: a local file
    // of their name is theirs to resume.
    std::set<std::string> resumedUrls;
    // Connections opened and transfers started for each URL in this run.
    std::map<std::string, int> connectsFor, transfersFor;
    // Bytes received by all transfers of this run that ended.
    std::int64_t receivedBytes = 0;
    // ... and by the transfers under way (a run interrupted in the middle).
    std::int64_t receivedSoFar() const;
    std::string StatusBar1 = "Status";
    // The TLS of ftp:// links (the setting "ftptls"): Off, Offered (trust on
    // first use) or Explicit ("required"); ftpes:// and ftps:// keep theirs.
    net::FtpTls ftpTls = net::FtpTls::Off;
    // The certificates taken on first contact under Offered.
    KnownCertificates knownCertificates;
    // The proxy of http:// and https:// files as the settings have it when a
    // transfer starts: host (optionally ":port") and the port used when the
    // host names none; an empty host (or no function): direct.
    std::function<std::pair<std::string, std::string>()> httpProxy;
    std::string httpAgent = "Wavetrap/" WAVETRAP_VERSION; // their User-Agent

    // The memos keep at most this many lines (the oldest go first).
    static constexpr std::size_t MemoLimit = 2000;

private:
    friend struct SchedulerAccess; // lets the tests put a slot in a given state
    // The sessions step their slot through the scheduler's rules.
    friend class FtpSlotSession;
    friend class HttpSlotSession;
    Slot& slotAt(int n) { return slots_.at(static_cast<std::size_t>(n)); }
    void setState(int n, SlotState state);
    // The states whose step runs as soon as the slot may step (not a new
    // connection, not a wait for a reply).
    static bool stepsAtOnce(SlotState state);
    // No step of slot n is running, none awaits its completion, the client is ready.
    bool canStep(int n) const;
    // Runs the step of slot n's state (busy while it runs).
    void step(int n);
    // Runs slot n's steps while they may go on at once.
    void advance(int n);
    // advance(n) once the calls of this moment are done.
    void advanceSoon(int n);
    void handOutParked();
    // Opens the connection of the first slot (in the order of the visits to
    // come) waiting for one, unless this tick has opened one.
    void openOne();
    // openOne once the calls of this moment are done, while the timer runs.
    void openSoon();
    bool openedThisTick_ = false;
    bool opening_ = false;
    bool openQueued_ = false;
    void visit(int n);
    std::string localNameFor(int n, std::int64_t remoteSize);
    // A local file of the URL's remote name is the URL's own partial file.
    bool ownsPartialFile(const std::string& url) const;
    void finishHandling(int n);
    void dropPending(const std::string& url);
    void setStatusBar(const std::string& text);
    void memo(platform::StringList& m, std::string line);
    void stepFailed(int n, SlotState state, const std::string& what);
    // Ends the current file unfetched; it stays pending when the outcome says so.
    void failFile(int n, Outcome outcome, const std::string& why);
    // What every transfer start does, FTP or HTTP: the bounds, the local
    // name, the pending entry. False when the file or its site was given up.
    bool beginTransfer(int n);
    // The FTP session of the client's slot (none while the slot serves HTTP).
    FtpSlotSession* ftpSession(const net::TFtpClient& sender);
    // Counts one more connection (or transfer) for the current file; false
    // (and the file failed) past the limit.
    bool attempt(int n, std::map<std::string, int>& tries, const char* what);
    void addPending(const std::string& url);
    // savecfg once the calls of this moment are done (many URLs accepted at once
    // are written in one go).
    void savecfgSoon();
    bool saveQueued_ = false;
    // savecfg at the next tick (at once when the timer does not run).
    void savecfgAtTick();
    bool saveAtTick_ = false;
    platform::Lifetime lifetime_;
    static bool ready(const net::TFtpClient& c);
    void savecfg();

    url::UrlInfo& urlinfo_;
    results::SiteStats& stats_;
    PendingDownloads& pending_;
    std::array<Slot, SlotCount + 1> slots_; // [0] unused
    int cursor_ = 0;
};

} // namespace download
