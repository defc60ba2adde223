#pragma once
// The download scheduler: places files on the fourteen slots (launchftp),
// opens their connections and runs their visits at the pace of its tick
// (dfatimerTimer), finishes each file, and keeps the pending downloads, the
// diagnostic memos and the status bar text. The protocols are the slots'
// sessions (ftp_slot_session.h, http_slot_session.h); they reach the
// scheduler only through SlotHost.

#include "download/ftp_slot_session.h"
#include "download/http_slot_session.h"
#include "download/known_certs.h"
#include "download/pending.h"
#include "download/slot.h"
#include "media/verdict.h"
#include "platform/eventloop.h"
#include "platform/listview.h"
#include "platform/signal.h"
#include "results/site_stats.h"
#include "url/urlinfo.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace download {

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
    platform::Signal<int /*n*/> slotChanged; // the step of slot n changed
    // A file that ends unfetched in this run, and why ("not found on the site
    // (550 No such file)", "No space left on device", ...). It stays pending
    // unless the site does not have it or sent something else.
    platform::Signal<const std::string& /*url*/, const TransferResult& /*why*/> fileFailed;
    // A URL launchftp refused (why: "bad port in URL", ...); nothing was started.
    platform::Signal<const std::string& /*url*/, const std::string& /*why*/> refused;
    // Each change of a slot's step: "3: Connecting -> Connected" (for -v).
    platform::Signal<const std::string& /*line*/> trace;
    // A file that arrived whole was checked (setVerify): what it is, and where
    // its bytes are now (its local name for audio, the rejected/ folder for a
    // file that is no song or a damaged one, which then fails; a file that
    // could not be read stays and counts as fetched). Before fileDone/fileFailed.
    platform::Signal<const std::string& /*url*/, const std::string& /*path*/, const media::Verdict&>
        fileVerified;
};

class Scheduler : private SlotHost {
public:
    Scheduler(url::UrlInfo& urlinfo, results::SiteStats& stats, PendingDownloads& pending);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    SchedulerHooks hooks;

    // ---- Placing files ------------------------------------------------------
    // Asked by launchftp before a URL enters the road: false passes it over
    // (it leaves the pending list; whoever answers tells why). None: every URL enters.
    std::function<bool(const url::tlinfo&)> admits;
    // The slot serving the link's site, else the highest free slot, else launchbuf.
    void launchftp(const url::tlinfo& link);
    // A URL handed back from the pending list of an earlier run: a local file
    // of its name (or of localName, when it was written under another) is its
    // own to resume.
    void resume(const url::tlinfo& link, const std::optional<std::string>& localName);
    // Ends slot n's work on its site; its files stay pending, each told why.
    void abort(int n, Outcome why, const std::string& reason);
    void abort(int n, const std::string& reason); // why: GivenUp
    // The user stopped slot n: its files leave the pending list.
    void stop(int n);
    // Ends slot n when its site queue holds fewer than two lines.
    void maintainlist(int n) override;

    // ---- The timer ----------------------------------------------------------
    // One tick: parked URLs go to free slots, every first contact with a site
    // and at most one other new connection (a reconnect, a retry) open, and
    // the slot under the cursor has its visit: the cursor moves one slot a
    // tick, so each slot's time-outs and stalls are counted once every
    // SlotCount ticks. While the timer runs, a slot that needs a connection
    // between two ticks gets it at once if it is a first contact or this
    // tick has not opened one yet, and a slot that goes idle takes parked
    // URLs at once.
    void dfatimerTimer();
    // Interval of the track bar position (1..10): position x 200 - 100 ms.
    static int intervalForPace(int position);
    void setPace(int position);
    platform::TTimer dfatimer;

    // ---- The FTP clients' events (one handler each, shared by the fourteen) --
    void ftp11RequestDone(net::TFtpClient& sender, net::TFtpRequest rqType, std::uint16_t error);
    void ftp1Display(net::TFtpClient& sender, std::string& msg);
    void ftp1Progress(net::TFtpClient& sender, std::int64_t count, bool& abortFlag);

    // ---- State ---------------------------------------------------------------
    // Slot n, to read: its fields change only through the scheduler.
    const Slot& slot(int n) const { return slots_.at(static_cast<std::size_t>(n)); }
    int cursor() const { return cursor_; }
    // No slot has work and nothing is parked.
    bool idle() const;

    const platform::StringList& launchbuf() const { return launchbuf_; } // URLs that found no free slot
    const platform::StringList& ftpstatus() const { return ftpstatus_; } // lines the clients showed
    const platform::StringList& abortout() const { return abortout_; }   // aborts and transfer starts
    const platform::StringList& errorlog() const { return errorlog_; }   // request errors no rule handled
    void clearMemos();
    const std::string& statusBarText() const { return statusBar_; }
    // Bytes received by all transfers of this run that ended, and by those under way.
    std::int64_t receivedSoFar() const;
    // Connections opened for the URL in this run.
    int connectionsFor(const std::string& url) const;
    // The local names given and finished in this run are forgotten (a new run).
    void forgetNames();
    // The folder new files are written in (empty: the current directory).
    // Files are then known by their whole path, in the pending list too, so
    // a file begun in another folder is continued there.
    void setDownloadFolder(const std::string& folder) { downloadFolder_ = folder; }
    const std::string& downloadFolder() const { return downloadFolder_; }
    // The local name each URL was given in this run.
    const std::map<std::string, std::string>& localNames() const { return localNames_; }
    // The URL was handed back from the pending list: a local file of its name is its own.
    bool resumes(const std::string& url) const { return resumedUrls_.count(url) > 0; }
    // Takes a URL out of the parking (launchbuf); false when it is not parked.
    bool unpark(const std::string& url);

    // The TLS of ftp:// links (the setting "ftptls"): Off, Offered (trust on
    // first use) or Explicit ("required"); ftpes:// and ftps:// keep theirs.
    void setFtpTls(net::FtpTls mode) { ftpRoad_.tls = mode; }
    net::FtpTls ftpTls() const { return ftpRoad_.tls; }
    // The certificates taken on first contact under Offered.
    KnownCertificates& knownCertificates() { return ftpRoad_.knownCertificates; }
    // Sites ("host:port") whose data connections went passive in this run.
    const std::set<std::string>& passiveSites() const { return ftpRoad_.passiveSites; }
    // The proxy of http:// and https:// files as the settings have it when a
    // transfer starts (see HttpRoad).
    void setHttpProxy(std::function<std::pair<std::string, std::string>()> proxy) {
        httpRoad_.proxy = std::move(proxy);
    }
    // Whether each file that arrives whole is checked as MP3 audio (on unless
    // turned off): one that is no song or a damaged one is moved to the
    // rejected/ folder beside it and fails (Outcome::NotAudio, Outcome::Damaged).
    void setVerify(bool on) { verify_ = on; }
    bool verifies() const { return verify_; }

    // The memos keep at most this many lines (the oldest go first).
    static constexpr std::size_t MemoLimit = 2000;

private:
    // ---- SlotHost: what the sessions ask of the scheduler --------------------
    void stepChanged(int n, const char* from, const char* to, Phase phase) override;
    void failFile(int n, Outcome outcome, const std::string& why) override;
    void fetched(int n) override { slotAt(n).fetched = true; }
    void retryReason(int n, const std::string& why) override { slotAt(n).failure = why; }
    void giveUp(int n, Outcome outcome, const std::string& reason, bool quiet) override;
    bool attempt(int n, Attempt what) override;
    bool beginTransfer(int n) override;
    void transferRestarts(int n) override;
    void transferSent(int n) override { hooks.addToLog(slot(n).record.url); }
    void progress(int n, std::int64_t byteCount, std::int64_t resumeAt) override;
    void gotData(int n) override { slotAt(n).gotData = true; }
    void received(std::int64_t bytes) override { receivedBytes_ += bytes; }
    void credit(int n, int marks) override;
    void debit(int n, int marks) override;
    void creditStart(int n) override;
    void log(Memo memo, const std::string& line) override;
    void goOnSoon(int n) override;
    void keepVersion(int n, const FileVersion& version) override;
    const FileVersion* keptVersion(int n) const override;
    const Slot& slotOf(int n) const override { return slot(n); }

    Slot& slotAt(int n) { return slots_.at(static_cast<std::size_t>(n)); }
    // The session of the scheme on slot n (a slot keeps its FTP session, and
    // its client, from one FTP site to the next).
    void takeSession(int n, const std::string& scheme);
    // The FTP session of the client's slot (none while the slot serves HTTP).
    FtpSlotSession* ftpSession(const net::TFtpClient& sender);
    // Not busy, and the session could take a step.
    bool canStep(int n) const;
    // Runs the step of slot n (busy while it runs).
    void step(int n);
    // Runs slot n's steps while they may go on at once.
    void advance(int n);
    // The parked URLs go to the free slots and behind the busy slots of their sites.
    void handOutParked();
    // The link as the slots hold it (a directory ends in "/", the port is set).
    static url::tlinfo placed(const url::tlinfo& link);
    // The busy slot whose session serves the placed link's site and log-in (0: none).
    int servingSlot(const url::tlinfo& placedLink) const;
    // Opens the connections of the slots waiting for one: every first
    // contact with a site, and the first other one (in the order of the
    // visits to come) unless this tick has opened one.
    void openConnections();
    // openConnections once the calls of this moment are done, while the timer runs.
    void openSoon();
    // Slot n's next connection is its first to a site (a host and port) no other slot is connected to.
    bool firstContact(int n) const;
    // Opens slot n's connection; true when a request went out.
    bool open(int n);
    bool openedThisTick_ = false;
    bool opening_ = false;
    bool openQueued_ = false;
    void visit(int n);
    std::string localNameFor(int n, std::int64_t remoteSize);
    // Whether another slot writes, or another URL owns, a local file of that name.
    bool nameTaken(int n, const std::string& name, std::int64_t remoteSize) const;
    // A local file of the URL's remote name is the URL's own partial file.
    bool ownsPartialFile(const std::string& url) const;
    void finishHandling(int n);
    // The check of a file that arrived whole: a file that is no song or a
    // damaged one is moved aside and fails the slot's file.
    void verifyFetched(int n);
    bool verify_ = true;
    void settleFinished(int n, bool fetched, Outcome outcome, const std::string& why);
    void dropPending(const std::string& url);
    void setStatusBar(const std::string& text);
    void memo(platform::StringList& m, std::string line);
    void addPending(const std::string& url);
    // savecfg once the calls of this moment are done (many URLs accepted at once
    // are written in one go).
    void savecfgSoon();
    bool saveQueued_ = false;
    // savecfg at the next tick (at once when the timer does not run).
    void savecfgAtTick();
    bool saveAtTick_ = false;
    platform::Lifetime lifetime_;
    void savecfg();

    url::UrlInfo& urlinfo_;
    results::SiteStats& stats_;
    PendingDownloads& pending_;
    FtpRoad ftpRoad_;
    HttpRoad httpRoad_;
    std::array<Slot, SlotCount + 1> slots_; // [0] unused
    // The session of the other protocol of each slot (an FTP session keeps its client).
    std::array<std::unique_ptr<SlotSession>, SlotCount + 1> parked_;
    int cursor_ = 0;

    platform::StringList launchbuf_, ftpstatus_, abortout_, errorlog_;
    std::string statusBar_ = "Status";
    // The local name each URL was given in this run, and the URL each name
    // was finished under: a second file of the same name goes to a free name.
    std::map<std::string, std::string> localNames_, finishedAs_;
    std::string downloadFolder_;
    // A file name in the download folder (the name alone without one).
    std::string inFolder(const std::string& name) const;
    // URLs handed back from the pending list of an earlier run.
    std::set<std::string> resumedUrls_;
    // Connections opened and transfers started for each URL in this run.
    std::map<std::string, int> connectsFor_, transfersFor_;
    // Bytes received by all transfers of this run that ended.
    std::int64_t receivedBytes_ = 0;
};

} // namespace download
