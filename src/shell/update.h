#pragma once
// The update check: one small text file fetched with a plain HTTP/1.0 GET from
// the update host (directly or through the proxy) and applied line by line:
//
//   --URL            the next two lines become the update host and path
//   --MESSAGE text   a notice shown to the user (at most 254 characters; a
//                    control character in it is shown as "?")
//   --:kill          empties the engine list
//   --:N:Latestbuild#   build N (a word counts as 90); above 28 a newer build exists
//   --:entry         an engine entry, added unless already listed
//
// A line ends at CR LF, at a CR or at an LF. Lines that match no rule (the
// status line and headers among them) are ignored. An address whose host or
// path is empty (or holds a control character) is not taken: the stored one
// stays.

#include "net/wsocket.h"
#include "platform/listview.h"
#include "platform/signal.h"
#include "search/engines.h"
#include "shell/settings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace shell {

class MainWindowStorage;

// A reply larger than this is cut off and nothing of it is applied.
inline constexpr std::size_t MaxUpdateReply = 1024 * 1024;
// The longest notice shown.
inline constexpr std::size_t MaxUpdateNotice = 254;
inline constexpr const char* UpdateCaption = "Cool!";
inline constexpr const char* NewBuildNotice =
    "There is a new version of Wavetrap available at the \r\nNorvane website.";

// Splits received blocks into lines. A line cut by a block boundary is carried
// over to the next block, so the rules always see whole lines.
class UpdateLineSplitter {
public:
    // Appends every line the block completes to lines.
    void feed(const std::string& block, platform::StringList& lines);
    // The end of the reply: an unfinished last line becomes a line of its own.
    void finish(platform::StringList& lines);
    void reset() {
        partial_.clear();
        afterCr_ = false;
    }

private:
    std::string partial_;
    bool afterCr_ = false; // the last character seen was a CR (an LF next ends nothing)
};

// What the rules change.
struct UpdateTarget {
    std::string& updateIP;
    std::string& updatefile;
    search::EngineList& startlinks;
    platform::Signal<const std::string&, const std::string&>& message; // caption, text
};

// The build number before ":Latestbuild#": a decimal number, else 90.
int updateBuildNumber(const std::string& text);
// An engine entry from the update file is taken only when it is not empty and
// holds no control character (it would go into the settings file and every query).
bool acceptableEngineEntry(const std::string& entry);
// The update host and path of "--URL" are taken only when neither is empty nor
// holds a control character: a host that cannot be looked up would fail every
// later check, and nothing in the program lets the user set it.
bool acceptableUpdateAddress(const std::string& host, const std::string& path);
// Applies the rules to every line, from the top; answers the number of lines
// that matched a rule.
int applyUpdateLines(const platform::StringList& lines, UpdateTarget target);

enum class UpdateOutcome {
    Applied,   // a reply arrived and was applied
    NoReply,   // refused, failed or an empty reply: nothing changed
    TooLarge,  // the reply passed MaxUpdateReply: nothing applied
    Cancelled, // cancel() before the reply was complete
};

class UpdateCheck {
public:
    UpdateCheck(MainWindowStorage& main, const ProxySettings& proxy, search::EngineList& startlinks);
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Starts the check. Resolving the host blocks; a name that cannot be
    // resolved, or a check already running, raises net::ESocketException.
    void Checkforupdatestosearchengines1Click();
    // Ends a check under way; nothing of it is applied.
    void cancel();
    bool running() const { return running_; }

    // The received lines (the hidden list "update"), in arrival order.
    platform::StringList update;
    net::TWSocket updatesocket;

    // A notice for the user: caption and text.
    platform::Signal<const std::string&, const std::string&> OnMessage;
    // The check ended.
    platform::Signal<UpdateOutcome> OnFinished;

    // The request of the current or last check, and the error its connection
    // attempt reported (0: connected).
    const std::string& requestSent() const { return request_; }
    int connectError() const { return connectError_; }

    // The update host caption may carry a port ("host:port"); 80 otherwise.
    static void splitHostPort(const std::string& caption, std::string& host, std::string& port);

private:
    void updatesocketSessionConnected(std::uint16_t error);
    void updatesocketDataAvailable(std::uint16_t error);
    void updatesocketSessionClosed(std::uint16_t error);
    void finish(UpdateOutcome outcome);

    MainWindowStorage& main_;
    const ProxySettings& proxy_;
    search::EngineList& startlinks_;
    UpdateLineSplitter splitter_;
    std::size_t received_ = 0;
    bool tooLarge_ = false;
    bool running_ = false;
    bool cancelled_ = false;
    int connectError_ = 0;
    std::string request_;
    platform::Lifetime lifetime_;
};

} // namespace shell
