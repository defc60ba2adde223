#pragma once
// The fourteen download slots. A slot knows its file, its local name, the
// rest of its site's queue and how far it got (its Phase); the protocol that
// fetches the file is a session behind SlotSession (FTP for ftp://, ftpes://
// and ftps:// sites, HTTP(S) for http:// and https:// ones), which reaches the
// scheduler only through SlotHost.

#include "download/pending.h"
#include "download/transfer.h"
#include "platform/listview.h"
#include "url/urlinfo.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace download {

// Slots are numbered 1 to SlotCount.
inline constexpr int SlotCount = 14;

// How far a slot got with its current file, whatever the protocol.
enum class Phase {
    Idle,         // no work; takes the next parked URL at its visit
    Connecting,   // on the way to a transfer: a connection, a log-in, the file's size
    Transferring, // a transfer of the file was asked for or runs: its local file is being written
    Finishing,    // the file ended (fetched or failed): the scheduler's finish runs next
};

// A busy slot's session: it steps the slot through a file in the steps of its
// protocol and tells the scheduler how the file ended (through SlotHost).
class SlotSession {
public:
    virtual ~SlotSession() = default;
    // Whether the session fetches URLs of this scheme ("ftp", "https", ...).
    virtual bool serves(const std::string& scheme) const = 0;
    // The slot got a site: its first file is record (a first contact).
    virtual void begin(const url::tlinfo& record) = 0;
    // The site's next file, after the scheduler finished the one before.
    virtual void nextFile(const url::tlinfo& record) = 0;
    // The scheduler ended the current file (fetched or failed): Finishing.
    virtual void fileEnded() = 0;
    // The site is given up: what runs ends now, the session goes idle.
    virtual void abort() = 0;
    // The session goes idle without touching a connection.
    virtual void rest() = 0;

    // The next step opens a connection (or sends a first request): at most
    // one a tick, unless it is a first contact.
    virtual bool needsConnection() const = 0;
    // The session has not contacted its site since begin.
    virtual bool firstContact() const = 0;
    // The next step runs as soon as the slot may step (no wait for a tick,
    // a visit or a reply).
    virtual bool stepsAtOnce() const = 0;
    // No request awaits its answer and the client could take one.
    virtual bool ready() const = 0;
    // A request went out and its answer has not come.
    virtual bool awaiting() const = 0;
    // The next step (its request, or the move to the step after).
    virtual void step() = 0;
    // The step raised instead of starting its request.
    virtual void stepFailed() = 0;
    // One visit of the tick (every SlotCount ticks): the time-outs and
    // stalls; stepped tells whether the slot could step at this visit.
    virtual void visit(bool stepped) = 0;

    // The file's size as the server announced it (0 or less: unknown).
    virtual std::int64_t size() const = 0;
    // Bytes received by the transfer under way (0 when none runs).
    virtual std::int64_t receiving() const = 0;
    // The last words of the server, for a file given up without a reason.
    virtual std::string lastReply() const = 0;
    // The step as the status view and the -v lines show it.
    virtual int statusNumber() const = 0;
    virtual const char* statusText() const = 0;
};

// The tries of one URL in a run that are bounded (MaxAttempts each).
enum class Attempt { Connection, Transfer };

// Which memo a line goes to: the lines the clients showed (also to the
// details window), request errors no rule handled.
enum class Memo { Shown, Dot, Error };

struct Slot;

// What a session may ask of the scheduler that owns its slot.
class SlotHost {
public:
    // The session's step changed: the slot's phase, the -v line
    // "n: from -> to", a connection to open.
    virtual void stepChanged(int n, const char* from, const char* to, Phase phase) = 0;
    // Ends the current file unfetched (Finishing); it stays pending when the outcome says so.
    virtual void failFile(int n, Outcome outcome, const std::string& why) = 0;
    // Every byte of the current file is here (the session then finishes it).
    virtual void fetched(int n) = 0;
    // Why the current file is being tried again (the last reason, for people).
    virtual void retryReason(int n, const std::string& why) = 0;
    // Gives the site up: its files stay pending unless the user stopped them.
    // quiet: no line in the abort memo.
    virtual void giveUp(int n, Outcome outcome, const std::string& reason, bool quiet = false) = 0;
    // Ends the slot when its queue ran out.
    virtual void maintainlist(int n) = 0;
    // One more try of the current file; false (and the file failed) past the limit.
    virtual bool attempt(int n, Attempt what) = 0;
    // The bounds, the local name (Slot::localName), the pending entry of a
    // transfer about to start; false when the file or its site was given up.
    virtual bool beginTransfer(int n) = 0;
    // The transfer starts again from the file's first byte.
    virtual void transferRestarts(int n) = 0;
    // The transfer asked for went out: the download log.
    virtual void transferSent(int n) = 0;
    // The byte count of the local file, of which resumeAt came before this transfer.
    virtual void progress(int n, std::int64_t byteCount, std::int64_t resumeAt) = 0;
    // The transfer received data; bytes that ended count for the run.
    virtual void gotData(int n) = 0;
    virtual void received(std::int64_t bytes) = 0;
    // Marks for the site's statistics (credit: success, debit: failure); the
    // start mark is given once per transfer.
    virtual void credit(int n, int marks) = 0;
    virtual void debit(int n, int marks) = 0;
    virtual void creditStart(int n) = 0;
    // A line for a memo (Shown also goes to the details window).
    virtual void log(Memo memo, const std::string& line) = 0;
    // The next step goes on once the calls of this moment are done.
    virtual void goOnSoon(int n) = 0;
    // The version of the file a reply began (kept with the pending entry),
    // and the one kept for the URL, if any.
    virtual void keepVersion(int n, const FileVersion& version) = 0;
    virtual const FileVersion* keptVersion(int n) const = 0;
    // The slot, to read.
    virtual const Slot& slotOf(int n) const = 0;

protected:
    ~SlotHost() = default;
};

struct Slot {
    Phase phase = Phase::Idle;
    // The file being fetched: port, user, password, site, directory, file name, URL.
    url::tlinfo record;
    // The local file the current transfer writes (the remote name, or a free one).
    std::string localName;
    // The byte count last reported (whole file, resume position included),
    // and where the running transfer resumed the local file.
    std::int64_t byteCount = 0;
    std::int64_t resumeAt = 0;
    // The files still to fetch from this slot's site, as pairs of lines:
    // directory, then file name; the first pair is the current file.
    platform::StringList queue;
    // The URL of each pair of the queue (one line per pair), so every file is
    // recorded under its own URL.
    platform::StringList queueUrls;
    bool reset = false; // ended by abort: held at Idle until new work comes
    bool busy = false;  // a step of this slot is running
    int wait = 0;       // visits in a row on which it could not step (a step: 0)
    // Transfers in a row of this site that received nothing; past the limit
    // the site is given up.
    int fruitless = 0;
    bool transferTried = false; // a transfer of this site started since the slot got its work
    bool gotData = false;       // ... and the latest one received data
    bool startMarked = false;   // the server accepted the current transfer: the site got its mark
    bool fetched = false;       // the current file arrived whole (its finish is no skip)
    bool lastFetched = false;   // the file finished last on this slot arrived whole
    // How the current file ended when it failed (Done: it did not), and why,
    // for people (also the last reason while it is tried again; none: no
    // reason was given).
    Outcome outcome = Outcome::Done;
    std::optional<std::string> failure;
    // The session of the slot's site.
    std::unique_ptr<SlotSession> session;
    // The whole file's size as the server announced it, else 0 or less.
    std::int64_t remoteSize() const { return session->size(); }
};

// The status view's number and text of a slot, as its session tells them.
int stateNumber(const Slot& slot);
const char* stateText(const Slot& slot);

// Connections in a row refused before a log-in, and transfers in a row
// without data, after which a slot gives its site up.
inline constexpr int MaxRefusals = 5;
inline constexpr int MaxFruitlessTransfers = 5;
// Connections opened, and transfers started, for one URL in a run before it
// is given up (it stays pending for a later resume).
inline constexpr int MaxAttempts = 10;
// The longest wait a web server may ask for (Retry-After) before the next try
// within the run; one that asks for longer has its files left for a resume.
inline constexpr int MaxRetryWaitSeconds = 60;

// The rules of the visits, counted in visits of the slot (one every
// SlotCount ticks of the pace): a slot whose client stayed busy for more
// than TimeoutVisits visits in a row runs its time-outs, and a transfer
// whose byte count did not move for more than StallVisits visits in a row
// is broken off.
inline constexpr int TimeoutVisits = 30;
inline constexpr int StallVisits = 20;

// Marks given to a site's statistics: success marks for a file fetched
// whole (besides the one of its transfer start), failure marks for a
// refusal line that ends the site.
inline constexpr int FinishedMarks = 3;
inline constexpr int RefusalMarks = 9;

// Why a parsed link names no file a slot could fetch (empty: it does): no
// host, a port that is not a number from 1 to 65535, no file name.
std::string linkProblem(const url::tlinfo& link);

// Why a file name may not be written in the download directory (empty: it
// may): it must end in ".mp3" (any case), must not begin with "." and holds
// no control character, so a result page cannot write ".bashrc".
std::string localNameProblem(const std::string& fname);

} // namespace download
