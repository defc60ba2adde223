#pragma once
// The two sessions a slot can own: FTP (the client of the slot, stepped by
// its replies through the scheduler's handlers ftp11RequestDone, ftp1Display
// and ftp1Progress) and HTTP(S) (an HttpSession, one GET a file).

#include "download/scheduler.h"
#include "download/transfer.h"

namespace download {

class FtpSlotSession final : public SlotSession {
public:
    FtpSlotSession(Scheduler& scheduler, int n) : sc_(scheduler), n_(n) {}
    void step() override;
    void stepFailed(SlotState state) override;
    void visit() override;
    void abort() override;
    std::int64_t size() const override;
    std::int64_t receiving() const override;

    // The client's events, from the scheduler's handlers.
    void requestDone(net::TFtpRequest rqType, std::uint16_t error);
    void display(std::string& msg);
    void progress(std::int64_t count, bool& abortFlag);

private:
    void applyRow(int n, SlotState at, std::uint16_t error, bool& handled);
    void transferEnded(int n, SlotState at, std::uint16_t error, bool& handled);
    // More bytes came than the SIZE: REST ignored (fetched again from the start) or a lie.
    void overran(int n, bool connected);
    // A retry of the transfer: on this connection when it is up, else a new one.
    void retryTransfer(int n);
    void transferStart(int n);
    void timeouts(int n);
    // The TLS of the connection about to open; false when the site was given up.
    bool chooseTls(int n);

    Scheduler& sc_;
    const int n_;
    // The certificate remembered for the site under ftptls=offered (empty: none).
    std::string remembered_;
    // The running transfer refused a data connection from another address
    // than the server's.
    bool strangerData_ = false;
};

class HttpSlotSession final : public SlotSession {
public:
    HttpSlotSession(Scheduler& scheduler, int n);
    void step() override;
    void stepFailed(SlotState) override {}
    void visit() override;
    void abort() override;
    std::int64_t size() const override { return current_ ? http_.size() : -1; }
    std::int64_t receiving() const override;

private:
    void transferStart(int n);
    void finished(int n, const TransferResult& r);
    // The version of the file begun, kept with its pending entry.
    void keepVersion(const FileVersion& v);
    // The server asked to wait before the next try (GetTickCount() of its end).
    bool waiting() const;

    Scheduler& sc_;
    const int n_;
    HttpSession http_;
    bool current_ = false; // http_ serves the slot's current file (its size is that file's)
    bool wait_ = false;
    std::uint32_t waitUntil_ = 0;
};

} // namespace download
