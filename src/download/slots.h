#pragma once
// The fourteen download slots: each drives one session to one site (FTP, or
// HTTP(S) for http:// and https:// files), the files of that site in turn, a
// step as soon as the reply before it came.

#include "download/transfer.h"
#include "net/ftpcli.h"
#include "platform/listview.h"
#include "url/urlinfo.h"

#include <cstdint>
#include <memory>
#include <string>

namespace download {

// Slots are numbered 1 to SlotCount.
inline constexpr int SlotCount = 14;

// The step of a slot's session. The numbers are shown in the status view and
// written to the diagnostic memos, so they are fixed; they say nothing about
// the order of the steps, so states are never compared by < or >.
enum class SlotState : int {
    Idle = 0,               // no work; takes the next parked URL at its visit
    Connecting = 1,         // next visit: abort the client, then Open
    Connected = 2,          // Open answered; next visit: User
    LoggedIn = 3,           // Pass answered (or next file); next visit: Size
    StartTransfer = 4,      // next visit: the transfer start (RestGet)
    TransferAnswered = 5,   // the transfer request completed (or timed out)
    FileFinished = 6,       // next visit: the finish handling
    SizeAnswered = 7,       // next visit: TypeSet
    TypeSent = 8,           // next visit: on to the transfer start
    UserSent = 9,           // User answered; next visit: Pass
    TransferConfirmed = 10, // the transfer request answered a second time
    ResumeRefused = 11,     // the resuming transfer failed; next visit: Get without resume
};
using enum SlotState;
bool operator<(SlotState, SlotState) = delete;
bool operator>(SlotState, SlotState) = delete;
bool operator<=(SlotState, SlotState) = delete;
bool operator>=(SlotState, SlotState) = delete;

// The number of a state, as the status view and the memos show it.
inline int number(SlotState state) {
    return static_cast<int>(state);
}

// The states numbered above LoggedIn: the steps from SIZE to the end of a
// file, and UserSent. The rules that watch transfers apply in these.
bool numberedAboveLoggedIn(SlotState state);

// What a busy slot's session does for the scheduler: the FTP session of an
// ftp://, ftpes:// or ftps:// site, the HTTP(S) session of an http:// or
// https:// one. The scheduler keeps the slots, the parking, the pace and the
// statistics; the session steps the slot through a file and tells how it
// ended (an Outcome).
class SlotSession {
public:
    virtual ~SlotSession() = default;
    // The step of the slot's state: a connection to open, a file to start,
    // the next request (a file's end is the scheduler's).
    virtual void step() = 0;
    // The step raised instead of starting its request.
    virtual void stepFailed(SlotState state) = 0;
    // One visit of the tick: the time-outs and stalls, counted in visits.
    virtual void visit() = 0;
    // The site is given up: what runs ends now.
    virtual void abort() = 0;
    // The file's size as the server announced it (0 or less: unknown).
    virtual std::int64_t size() const = 0;
    // Bytes received by the transfer under way (0 when none runs).
    virtual std::int64_t receiving() const = 0;
};

struct Slot {
    SlotState state = Idle;
    // The file being fetched: port, user, password, site, directory, file name, URL.
    url::tlinfo record;
    // The byte count last reported by the client's progress (whole file,
    // resume position included).
    std::int64_t byteCount = 0;
    // The files still to fetch from this slot's site, as pairs of lines:
    // directory, then file name; the first pair is the current file.
    platform::StringList queue;
    // The URL of each pair of the queue (one line per pair), so every file is
    // recorded under its own URL.
    platform::StringList queueUrls;
    bool reset = false; // ended by abort: held at Idle until new work comes
    bool busy = false;  // a step of this slot is running
    // A request of the slot's client has not completed yet. Completions are
    // posted, so a visit may come between a request's end and its completion;
    // such a visit runs no step.
    bool awaiting = false;
    // The request the slot's last step started, until its completion. A
    // completion of another request is late: the time-outs gave up waiting
    // for it and the slot has started the next one since.
    net::TFtpRequest request = net::ftpNone;
    // TYPE I was accepted on the current connection. Before it, some servers
    // refuse SIZE with 550 ("not allowed in ASCII mode") for files they have.
    bool binarySet = false;
    int wait = 0;                   // visits in a row on which it could not step (a step: 0)
    std::int64_t lastByteCount = 0; // the client's ByteCount at the previous visit
    int stall = 0;                  // visits in a row on which ByteCount did not move
    bool fetched = false;           // the current file arrived whole (its finish is no skip)
    std::int64_t resumeAt = 0;      // where the running transfer resumed the local file
    // Runs that never end: connections in a row that reached no log-in, and
    // transfers in a row of this site that received nothing; past the limits
    // the site is given up.
    int refusals = 0;
    int fruitless = 0;
    bool transferTried = false; // a transfer of this site started since the slot got its work
    bool gotData = false;       // ... and the latest one received data
    bool shortRetried = false;  // the current file came short once and was resumed
    // How the current file ended when it failed (Done: it did not), and why,
    // for people (also the last reason while it is tried again).
    Outcome outcome = Outcome::Done;
    std::string failure;
    bool startMarked = false; // the server accepted the current transfer: the site got its mark
    // The word of the last command the client sent ("RETR", "PORT"): a reply
    // is judged by the command it answers.
    std::string lastCommand;
    int loginRefusals = 0; // 530 answers to USER or PASS in a row
    // The FTP client of the slot (idle while an HTTP session serves it).
    std::unique_ptr<net::TFtpClient> client;
    // The session of the slot's site.
    std::unique_ptr<SlotSession> session;
    // The whole file's size as the server announced it, else 0 or less.
    std::int64_t remoteSize() const { return session->size(); }
};

// The state texts of the status view.
const char* stateText(SlotState state);
// The state's name in the -v lines ("Connecting", "TransferAnswered").
const char* stateName(SlotState state);

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
// than TimeoutVisits visits in a row runs the time-out cascade, and a
// transfer whose byte count did not move for more than StallVisits visits
// in a row is broken off.
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
