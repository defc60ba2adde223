#pragma once
// The HTTP(S) session of a slot (http:// and https:// sites): an HttpSession
// that fetches the site's files one after another, with the slot's steps
// around it and the typed outcome of each file.

#include "download/slot.h"
#include "download/transfer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace download {

// What the HTTP sessions of a run share: the proxy and the User-Agent.
struct HttpRoad {
    // The proxy as the settings have it when a transfer starts: host
    // (optionally ":port") and the port used when the host names none; an
    // empty host (or no function): direct.
    std::function<std::pair<std::string, std::string>()> proxy;
    std::string agent = "Wavetrap/" WAVETRAP_VERSION;
};

// The steps of an HTTP(S) session; the numbers and the names of the -v lines
// are those of the FTP steps they stand beside.
enum class HttpSlotStep : int {
    Idle = 0,       // no work
    Connecting = 1, // next: the request of the site's first file (or one tried again): paced
    NextFile = 3,   // next: the request of the site's next file, at once
    Requested = 5,  // the request went out; its end moves the session on
    Finished = 6,   // the file ended: the scheduler's finish runs next
};

class HttpSlotSession final : public SlotSession {
public:
    HttpSlotSession(SlotHost& host, const HttpRoad& road, int n);

    bool serves(const std::string& scheme) const override { return scheme == "http" || scheme == "https"; }
    void begin(const url::tlinfo& record) override;
    void nextFile(const url::tlinfo&) override { setStep(HttpSlotStep::NextFile); }
    void fileEnded() override { setStep(HttpSlotStep::Finished); }
    void abort() override;
    void rest() override { setStep(HttpSlotStep::Idle); }
    bool needsConnection() const override { return step_ == HttpSlotStep::Connecting; }
    bool firstContact() const override { return firstContact_; }
    bool stepsAtOnce() const override;
    bool ready() const override { return !awaiting_; }
    bool awaiting() const override { return awaiting_; }
    void step() override;
    void stepFailed() override;
    void visit(bool stepped) override;
    std::int64_t size() const override { return current_ ? http_.size() : -1; }
    std::int64_t receiving() const override { return awaiting_ ? http_.received() : 0; }
    std::string lastReply() const override { return lastReply_; }
    int statusNumber() const override { return static_cast<int>(step_); }
    const char* statusText() const override;

    HttpSlotStep currentStep() const { return step_; }

private:
    void setStep(HttpSlotStep step);
    void transferStart();
    void finished(const TransferResult& r);
    void retryLater(const TransferResult& r, const std::string& detail);
    void progress(std::int64_t count);
    // The server asked to wait before the next try (GetTickCount() of its end).
    bool waiting() const;
    const Slot& slot() const { return host_.slotOf(n_); }

    SlotHost& host_;
    const HttpRoad& road_;
    const int n_;
    HttpSession http_;
    HttpSlotStep step_ = HttpSlotStep::Idle;
    HttpSlotStep at_ = HttpSlotStep::Idle; // the step the running step() began in
    bool awaiting_ = false;                // a request went out and has not ended
    bool firstContact_ = false;
    bool current_ = false; // http_ serves the slot's current file (its size is that file's)
    bool wait_ = false;
    std::uint32_t waitUntil_ = 0;
    std::string lastReply_; // how the last transfer ended, for people
};

} // namespace download
