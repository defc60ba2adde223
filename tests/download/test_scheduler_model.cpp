// The scheduler and its slots' sessions without a network: the FTP session's
// rules driven through its interface with a host that records what it is
// asked; the scheduler placing, ending and showing files; and the first
// contacts with new sites, which go out without waiting for ticks.

#include "download/ftp_slot_session.h"
#include "download/queue.h"
#include "download/scheduler.h"
#include "download/status.h"
#include "peers/dialogue_server.h"
#include "shell/wavetrap.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using download::FtpSlotStep;
using download::Outcome;
using download::Phase;
using download::Scheduler;
using download::SlotCount;

namespace {

// A host that keeps one slot and records what its session asks; giving up
// and failing end the session as the scheduler does.
class RecordingHost : public download::SlotHost {
public:
    download::Slot slot;
    download::SlotSession* session = nullptr;
    std::vector<std::string> steps;  // "from -> to"
    std::vector<std::string> errors; // the error memo
    std::vector<std::string> shown;  // lines shown ("." for a data piece)
    std::vector<std::string> gaveUp; // "reason" (with " (quiet)")
    std::vector<Outcome> outcomes;   // of giveUp and failFile
    std::vector<std::string> retryWhy;
    int debits = 0, credits = 0, fetches = 0;
    bool attemptsLeft = true;

    void stepChanged(int, const char* from, const char* to, Phase phase) override {
        steps.push_back(std::string(from) + " -> " + to);
        slot.phase = phase;
    }
    void failFile(int, Outcome outcome, const std::string& why) override {
        outcomes.push_back(outcome);
        retryWhy.push_back(why);
        session->fileEnded();
    }
    void fetched(int) override { ++fetches; }
    void retryReason(int, const std::string& why) override { retryWhy.push_back(why); }
    void giveUp(int, Outcome outcome, const std::string& reason, bool quiet) override {
        outcomes.push_back(outcome);
        gaveUp.push_back(reason + (quiet ? " (quiet)" : ""));
        session->abort();
        slot.reset = true;
    }
    void maintainlist(int) override {}
    bool attempt(int, download::Attempt) override { return attemptsLeft; }
    bool beginTransfer(int) override { return true; }
    void transferRestarts(int) override {}
    void transferSent(int) override {}
    void progress(int, std::int64_t byteCount, std::int64_t resumeAt) override {
        slot.byteCount = byteCount;
        slot.resumeAt = resumeAt;
    }
    void gotData(int) override { slot.gotData = true; }
    void received(std::int64_t) override {}
    void credit(int, int marks) override { credits += marks; }
    void debit(int, int marks) override { debits += marks; }
    void creditStart(int) override { ++credits; }
    void log(download::Memo memo, const std::string& line) override {
        (memo == download::Memo::Error ? errors : shown).push_back(line);
    }
    void goOnSoon(int) override {}
    void keepVersion(int, const download::FileVersion&) override {}
    const download::FileVersion* keptVersion(int) const override { return nullptr; }
    const download::Slot& slotOf(int) const override { return slot; }
};

// One FTP session of slot 14 on the host, at a given step.
struct FtpOnHost {
    RecordingHost host;
    download::FtpRoad road;
    download::FtpSlotSession ftp{host, road, 14};

    explicit FtpOnHost(const std::string& file = "x.mp3") {
        host.session = &ftp;
        host.slot.record.site = "site.invalid";
        host.slot.record.port = "21";
        host.slot.record.dir = "/pub/";
        host.slot.record.fname = file;
        host.slot.record.url = "ftp://site.invalid/pub/" + file;
        ftp.begin(host.slot.record);
    }
    // Successful completions from Connecting on, until the step is reached;
    // TransferAnswered after the transfer start timed out, FileFinished after
    // the file failed.
    void reach(FtpSlotStep target) {
        using enum FtpSlotStep;
        const FtpSlotStep road[] = {Connecting, Connected, UserSent, LoggedIn, TypeSent, SizeAnswered};
        const bool viaTransfer = target == TransferAnswered || target == FileFinished;
        for (FtpSlotStep at : road) {
            if (ftp.currentStep() == (viaTransfer ? StartTransfer : target)) break;
            ASSERT_EQ(ftp.currentStep(), at);
            ftp.requestDone(net::ftpNone, 0);
        }
        if (target == TransferAnswered) timeOut();
        if (target == FileFinished) host.failFile(14, Outcome::Refused, "x");
        host.steps.clear();
        host.errors.clear();
        host.outcomes.clear();
        host.retryWhy.clear();
        host.debits = host.credits = 0;
        ASSERT_EQ(ftp.currentStep(), target);
    }
    // The visit after TimeoutVisits visits with a busy client.
    void timeOut() {
        host.slot.wait = download::TimeoutVisits + 1;
        ftp.visit(false);
        host.slot.wait = 0;
    }
};

std::string nameOf(FtpSlotStep s) {
    return download::stepName(s);
}

TEST(FtpSlotSession, CompletionsMoveTheSessionByTheStepTheyArriveIn) {
    using enum FtpSlotStep;
    const struct {
        FtpSlotStep at;
        int error;
        FtpSlotStep next;
        bool errorLine; // "14: error E: state S"
        int debits;
        const char* gaveUp = nullptr;
    } cases[] = {
        {Connecting, 0, Connected, false, 0},
        {Connecting, 421, Connected, false, 1},
        {Connecting, 550, Connected, false, 1},
        {Connecting, 500, Connected, true, 1},
        {Connecting, 11001, Idle, false, 2, "Site Down"},
        {Connecting, 10061, Idle, false, 2, "Site Down"},
        {Connected, 0, UserSent, false, 0},
        {Connected, 530, UserSent, false, 1},
        {Connected, 11002, Idle, false, 1, "Site Down"},
        {UserSent, 0, LoggedIn, false, 0},
        {UserSent, 530, Connecting, true, 1},
        {UserSent, 421, Connecting, false, 1},
        // TYPE I, then SIZE.
        {LoggedIn, 0, TypeSent, false, 0},
        {LoggedIn, 500, Connecting, true, 1},
        {TypeSent, 0, SizeAnswered, false, 0},
        {SizeAnswered, 0, StartTransfer, false, 0},
        {SizeAnswered, 550, StartTransfer, true, 1}, // RETR tells whether the file is there
        // A data connection that failed: tried again (on a new connection, this one is down).
        {StartTransfer, 425, Connecting, true, 1},
        // The transfer was answered and still failed: the site is given up.
        {TransferAnswered, 426, Idle, true, 1, "the transfer failed (reply or error 426)"},
        {FileFinished, 500, FileFinished, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(nameOf(c.at) + " error " + std::to_string(c.error));
        FtpOnHost f;
        f.reach(c.at);
        f.ftp.requestDone(net::ftpOpenAsync, static_cast<std::uint16_t>(c.error));
        EXPECT_EQ(nameOf(f.ftp.currentStep()), nameOf(c.next));
        if (c.errorLine)
            EXPECT_EQ(f.host.errors,
                      (std::vector<std::string>{"14: error " + std::to_string(c.error) + ": state " +
                                                std::to_string(static_cast<int>(c.at))}));
        else
            EXPECT_TRUE(f.host.errors.empty()) << f.host.errors.front();
        EXPECT_EQ(f.host.debits, c.debits);
        EXPECT_EQ(f.host.gaveUp, c.gaveUp ? std::vector<std::string>{c.gaveUp} : std::vector<std::string>{});
    }
}

TEST(FtpSlotSession, TransferCompletionWithoutConfirmationConnectsAgain) {
    // A completion with 0 whose last reply is no 226 means the control
    // connection went down in the middle: the slot reconnects and resumes.
    for (FtpSlotStep at : {FtpSlotStep::StartTransfer, FtpSlotStep::TransferAnswered}) {
        FtpOnHost f;
        f.reach(at);
        f.ftp.requestDone(net::ftpRestGetAsync, 0);
        EXPECT_EQ(f.ftp.currentStep(), FtpSlotStep::Connecting);
        EXPECT_EQ(f.host.retryWhy, (std::vector<std::string>{"transfer broken off"}));
        EXPECT_EQ(f.host.errors, (std::vector<std::string>{"14: transfer broken off: state " +
                                                           std::to_string(static_cast<int>(at))}));
        EXPECT_EQ(f.host.fetches, 0);
    }
}

TEST(FtpSlotSession, ShownLinesAreJudgedByCodeAndCommandNotByTheirText) {
    using enum FtpSlotStep;
    const struct {
        FtpSlotStep at;
        const char* line;
        FtpSlotStep next;
        const char* gaveUp; // null: the site goes on
        int credits = 0;
        const char* file = "x.mp3";
    } cases[] = {
        {UserSent, "< 530 Login incorrect.", Connecting, nullptr},
        {LoggedIn, "< 530 Login incorrect.", LoggedIn, nullptr},
        // A 530 elsewhere in a reply is no 530.
        {StartTransfer, "< 226 Transfer complete, 530 bytes", StartTransfer, nullptr},
        // The client's commands, its notes and the file's name hold no replies.
        {StartTransfer, "> RETR /pub/track550.mp3", StartTransfer, nullptr, 0, "track550.mp3"},
        {UserSent, "> SIZE /pub/track530.mp3", UserSent, nullptr, 0, "track530.mp3"},
        {StartTransfer, "< 150 Opening BINARY mode data connection for Lion den.mp3", StartTransfer, nullptr,
         1, "Lion den.mp3"},
        {StartTransfer, "< 550 Opening for Lion denied.mp3", StartTransfer, nullptr, 0, "Lion denied.mp3"},
        {TransferAnswered, "! Data: x530 550 Permission denied", TransferAnswered, nullptr},
        {StartTransfer, "! 1550 bytes received/sent in 0 seconds (25530 Bytes/sec)", StartTransfer, nullptr},
        // A positive reply refuses nothing, whatever it says.
        {Connected, "< 331 Password required for Permission denied", Connected, nullptr},
        // Refusals of the site.
        {Connected, "< 550 Permission denied.", Idle, "< 550 Permission denied."},
        {UserSent, "< 530 Password incorrect", Idle, "< 530 Password incorrect"},
        {Connecting, "< 421 Can't connect to host", Idle, "< 421 Can't connect to host (quiet)"},
        {Connecting, "< 421 user limit exeeded", Idle, "< 421 user limit exeeded"},
        {Connecting, "< 421 Too many users, try later", Connecting, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        FtpOnHost f(c.file);
        f.reach(c.at);
        std::string msg = c.line;
        f.ftp.display(msg);
        EXPECT_EQ(nameOf(f.ftp.currentStep()), nameOf(c.next));
        EXPECT_EQ(f.host.gaveUp, c.gaveUp ? std::vector<std::string>{c.gaveUp} : std::vector<std::string>{});
        EXPECT_EQ(f.host.debits, c.gaveUp ? download::RefusalMarks : 0);
        if (c.gaveUp) {
            EXPECT_EQ(f.host.outcomes, (std::vector<Outcome>{Outcome::Refused}));
        }
        EXPECT_EQ(f.host.credits, c.credits);
        const bool piece = std::string(c.line).rfind("! Data", 0) == 0;
        EXPECT_EQ(f.host.shown.back(), piece ? "14." : "14: " + std::string(c.line));
    }
}

TEST(FtpSlotSession, EachStepFallsBackByItsTimeOut) {
    using enum FtpSlotStep;
    const struct {
        FtpSlotStep at;
        net::TFtpState client; // busy
        FtpSlotStep next;
        bool siteDown; // given up: "Could not connect to site. Site down"
    } cases[] = {
        {UserSent, net::ftpWaitingResponse, Connected, false}, // ready at once, then 3 -> 1 -> 2
        {LoggedIn, net::ftpWaitingResponse, Connected, true},
        {Connecting, net::ftpWaitingBanner, Connected, true},
        {Connected, net::ftpWaitingResponse, Connecting, false}, // no answer to the log-in
        {StartTransfer, net::ftpWaitingResponse, TransferAnswered, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(nameOf(c.at));
        FtpOnHost f;
        f.reach(c.at);
        f.ftp.client().SetState(c.client);
        f.host.slot.wait = download::TimeoutVisits; // not yet
        f.ftp.visit(false);
        EXPECT_EQ(f.ftp.currentStep(), c.at);
        f.host.slot.wait = download::TimeoutVisits + 1;
        f.ftp.visit(false);
        EXPECT_EQ(nameOf(f.ftp.currentStep()), nameOf(c.next));
        EXPECT_EQ(f.host.gaveUp, c.siteDown ? std::vector<std::string>{"Could not connect to site. Site down"}
                                            : std::vector<std::string>{});
        if (c.siteDown || c.at == Connected) { // the client waiting for ever was freed for the next try
            EXPECT_EQ(f.ftp.client().State(), net::ftpReady);
        }
        if (c.at == Connected) {
            EXPECT_EQ(f.host.retryWhy, (std::vector<std::string>{"no answer to the log-in"}));
        }
        f.ftp.client().SetState(net::ftpReady);
    }
}

TEST(FtpSlotSession, StallBreaksOffAStuckTransferAndFreesAFinishedOne) {
    for (FtpSlotStep at : {FtpSlotStep::TransferAnswered, FtpSlotStep::FileFinished}) {
        SCOPED_TRACE(nameOf(at));
        FtpOnHost f;
        f.reach(at);
        f.ftp.client().SetState(net::ftpWaitingResponse);
        // (The visit whose time-out reached TransferAnswered counted as one without progress.)
        const int before = at == FtpSlotStep::TransferAnswered ? 1 : 0;
        for (int v = before; v < download::StallVisits; ++v)
            f.ftp.visit(false);
        EXPECT_EQ(f.ftp.client().State(), net::ftpWaitingResponse);
        f.ftp.visit(false); // the visit past StallVisits without progress aborts the client
        EXPECT_EQ(f.ftp.client().State(), net::ftpReady);
        if (at == FtpSlotStep::TransferAnswered) {
            EXPECT_EQ(f.ftp.currentStep(), FtpSlotStep::Connecting); // resumed on a new connection
            EXPECT_EQ(f.host.errors, (std::vector<std::string>{"14: transfer stalled: state 5"}));
        } else {
            EXPECT_EQ(f.ftp.currentStep(), FtpSlotStep::FileFinished); // the finish runs next
        }
    }
}

TEST(FtpSlotSession, EndedSlotStopsItsTransferAndFreesABusyClient) {
    FtpOnHost f;
    f.reach(FtpSlotStep::TransferAnswered);
    bool stop = true;
    f.ftp.progress(4096, stop);
    EXPECT_FALSE(stop);
    EXPECT_EQ(f.host.slot.byteCount, 4096);
    f.host.slot.reset = true; // the site was given up
    f.ftp.progress(8192, stop);
    EXPECT_TRUE(stop); // stopped at its next read
    // A server that sends nothing never reaches a next read: the visit frees the client.
    f.ftp.client().SetState(net::ftpWaitingResponse);
    f.ftp.visit(true);
    EXPECT_EQ(f.ftp.client().State(), net::ftpWaitingResponse); // the slot could step: nothing to free
    f.ftp.visit(false);
    EXPECT_EQ(f.ftp.client().State(), net::ftpReady);
    EXPECT_FALSE(f.ftp.awaiting());
}

// A request the time-outs gave up on may still complete after the session
// has started its next one: that completion ends nothing.
TEST(FtpSlotSession, LateCompletionOfAnEarlierRequestIsIgnored) {
    FtpOnHost f;
    f.ftp.client().HostName = "127.0.0.1"; // no name to look up; nothing here runs the event loop
    f.ftp.client().Port = "1";
    f.ftp.step(); // Open
    ASSERT_TRUE(f.ftp.awaiting());
    f.ftp.requestDone(net::ftpTypeSetAsync, 150);
    EXPECT_TRUE(f.ftp.awaiting());
    EXPECT_EQ(f.ftp.currentStep(), FtpSlotStep::Connecting);
    EXPECT_EQ(f.host.errors,
              (std::vector<std::string>{"14: late completion ignored: request 36, error 150, state 1"}));
    f.ftp.requestDone(net::ftpOpenAsync, 10061); // its own completion is applied
    EXPECT_FALSE(f.ftp.awaiting());
    EXPECT_EQ(f.host.gaveUp, (std::vector<std::string>{"Site Down"}));
}

TEST(FtpSlotSession, AStepThatRaisesGoesOnAsAFailedRequestOfItsStep) {
    FtpOnHost f;
    f.host.slot.record.site.clear();
    f.ftp.client().HostName.clear();
    EXPECT_THROW(f.ftp.step(), std::exception); // an Open without a host name
    f.ftp.stepFailed();
    EXPECT_EQ(f.host.gaveUp, (std::vector<std::string>{"Site Down"}));
    EXPECT_EQ(f.ftp.currentStep(), FtpSlotStep::Idle);
}

std::string url(int site, const std::string& file = "a.mp3", const std::string& dir = "/pub") {
    return "ftp://site" + std::to_string(site) + ".invalid" + dir + "/" + file;
}

class SchedulerModel : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    testsupport::ScopedEnv config{"WAVETRAP_CONFIG_DIR", dir.path()};
    shell::Wavetrap w;
    Scheduler& s = w.scheduler;

    void launch(const std::string& u) { s.launchftp(w.urlinfo.info(u)); }
    net::TFtpClient& client(int n) {
        return dynamic_cast<download::FtpSlotSession&>(*s.slot(n).session).client();
    }
};

TEST_F(SchedulerModel, FilesOfOneSiteShareTheHighestFreeSlot) {
    for (const char* f : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
        launch(url(1, f));
    const download::Slot& slot = s.slot(14);
    EXPECT_EQ(slot.phase, Phase::Connecting);
    EXPECT_EQ(download::stateText(slot), std::string("Connecting"));
    EXPECT_EQ(slot.record.dir, "/pub/"); // a directory gets its trailing "/"
    EXPECT_EQ(slot.queue,
              (platform::StringList{"/pub/", "a.mp3", "/pub/", "b.mp3", "/pub/", "c.mp3", "/pub/", "d.mp3"}));
    EXPECT_EQ(slot.queueUrls.size(), 4u);
    EXPECT_EQ(client(14).HostName, "site1.invalid");
    EXPECT_EQ(client(14).Port, "21");
    EXPECT_EQ(client(14).UserName, "anonymous");
    for (int n = 1; n < 14; ++n)
        EXPECT_EQ(s.slot(n).phase, Phase::Idle) << n;
}

TEST_F(SchedulerModel, FifteenthSiteWaitsInLaunchbufUntilASlotFrees) {
    for (int i = 1; i <= 15; ++i)
        launch(url(i));
    for (int i = 1; i <= 14; ++i)
        EXPECT_EQ(s.slot(15 - i).record.site, "site" + std::to_string(i) + ".invalid");
    ASSERT_EQ(s.launchbuf(), (platform::StringList{url(15)}));

    s.stop(6);
    s.dfatimerTimer(); // the free slot takes the parked URL at the next tick
    EXPECT_TRUE(s.launchbuf().empty());
    EXPECT_EQ(s.slot(6).record.site, "site15.invalid");
    EXPECT_EQ(s.slot(6).phase, Phase::Connecting);
    EXPECT_FALSE(s.slot(6).reset);
}

TEST_F(SchedulerModel, ParkedFilesOfASiteFollowItsFirstOntoTheSlotThatFrees) {
    for (int i = 1; i <= 14; ++i)
        launch(url(i));
    for (const char* f : {"a.mp3", "b.mp3", "c.mp3"})
        launch(url(15, f));
    launch(url(16));
    ASSERT_EQ(s.launchbuf().size(), 4u);

    s.stop(6);
    s.dfatimerTimer();
    // One slot, one connection for the three; the other site waits in its place.
    EXPECT_EQ(s.launchbuf(), (platform::StringList{url(16)}));
    EXPECT_EQ(s.slot(6).queueUrls,
              (platform::StringList{url(15, "a.mp3"), url(15, "b.mp3"), url(15, "c.mp3")}));
}

TEST_F(SchedulerModel, NewFileForAnAbortedSiteGetsAFreshSlot) {
    launch(url(1, "a.mp3"));
    launch(url(1, "b.mp3"));
    s.stop(14);
    EXPECT_EQ(s.slot(14).phase, Phase::Idle);
    EXPECT_TRUE(s.slot(14).reset);
    launch(url(1, "c.mp3"));
    EXPECT_EQ(s.slot(14).phase, Phase::Connecting);
    EXPECT_FALSE(s.slot(14).reset);
    EXPECT_EQ(s.slot(14).queue, (platform::StringList{"/pub/", "c.mp3"})); // the old queue is dropped
}

TEST_F(SchedulerModel, AbortTellsWhyAndKeepsOrDropsTheFilesOfTheSite) {
    std::vector<std::pair<std::string, Outcome>> failed;
    const platform::ScopedConnection c =
        s.hooks.fileFailed.connect([&](const std::string& u, const download::TransferResult& why) {
            failed.emplace_back(u, why.outcome);
        });
    launch(url(1));
    w.pending.downloading = {url(1), url(2), url(1)};
    w.pending.downloadingsize = {"10", "20", "30"};
    s.stop(14); // stopped by the user: its files leave the pending list
    EXPECT_EQ(s.statusBarText(), "Stopped by you: a.mp3");
    EXPECT_EQ(s.slot(14).record.site, "");
    EXPECT_EQ(w.pending.downloading, (platform::StringList{url(2)}));
    EXPECT_EQ(w.pending.downloadingsize, (platform::StringList{"20"}));
    EXPECT_TRUE(failed.empty());

    launch(url(3, "a.mp3"));
    launch(url(3, "b.mp3"));
    s.abort(14, Outcome::SiteDown, "Site Down"); // given up: both stay pending, each told why
    EXPECT_EQ(failed, (std::vector<std::pair<std::string, Outcome>>{{url(3, "a.mp3"), Outcome::SiteDown},
                                                                    {url(3, "b.mp3"), Outcome::SiteDown}}));
    EXPECT_EQ(w.pending.downloading, (platform::StringList{url(2), url(3, "a.mp3"), url(3, "b.mp3")}));
    s.abort(0, "x");
    s.abort(15, "x"); // outside the slots: nothing
    EXPECT_EQ(failed.size(), 2u);
}

TEST_F(SchedulerModel, PaceGivesTheTickInterval) {
    EXPECT_EQ(Scheduler::intervalForPace(1), 100);
    EXPECT_EQ(Scheduler::intervalForPace(10), 1900);
    s.setPace(10);
    EXPECT_EQ(s.dfatimer.Interval(), 1900);
}

TEST_F(SchedulerModel, LinksNoSlotCouldFetchAreRefusedWhereverTheyComeFrom) {
    std::vector<std::string> refused;
    const platform::ScopedConnection c = s.hooks.refused.connect(
        [&](const std::string& u, const std::string& why) { refused.push_back(why + " " + u); });
    w.pending.downloading = {"ftp://a.invalid:abc/x.mp3", "ftp://b.invalid:99999/y.mp3", "ftp://c.invalid/"};
    w.pending.downloadingsize = {"1", "2", "3"};
    w.resumePendingDownloads();
    launch("ftp://d.invalid:0/z.mp3");
    launch("ftp:///pub/x.mp3");
    EXPECT_TRUE(s.idle());
    EXPECT_TRUE(w.pending.downloading.empty());
    EXPECT_EQ(refused, (std::vector<std::string>{"bad port in URL ftp://a.invalid:abc/x.mp3",
                                                 "bad port in URL ftp://b.invalid:99999/y.mp3",
                                                 "no file name in URL ftp://c.invalid/",
                                                 "bad port in URL ftp://d.invalid:0/z.mp3",
                                                 "no host name in URL ftp:///pub/x.mp3"}));
}

TEST(StatusProgress, TextFollowsTheSizeRule) {
    struct {
        Phase phase;
        std::int64_t count, size;
        const char* text;
    } cases[] = {
        {Phase::Transferring, 0, 3000000, ""},          {Phase::Idle, 5000, 3000000, ""},
        {Phase::Transferring, 1500000, 3000000, "50%"}, {Phase::Transferring, 46080, 90000, "45KB done"},
        {Phase::Transferring, 2047, 0, "1KB done"},     {Phase::Transferring, 100000, 100000, "97KB done"},
        {Phase::Transferring, 25, 200000, "0%"},        {Phase::Transferring, 1001, 200000, "1%"},
        {Phase::Transferring, 5000, 200000, "2%"}, // 2.5 -> 2
        {Phase::Transferring, 7000, 200000, "4%"}, // 3.5 -> 4: halves to even
    };
    for (const auto& c : cases)
        EXPECT_EQ(download::progressText(c.phase, c.count, c.size), c.text) << c.count << "/" << c.size;
}

TEST_F(SchedulerModel, StatusViewShowsFourteenRowsAndCancelsTheSelected) {
    download::StatusView& v = w.status;
    int mode = 5;
    v.viewMode = [&] { return mode; };
    launch(url(1, "song.mp3"));
    launch(url(2));
    launch(url(3));
    bool stop = false;
    s.ftp1Progress(client(14), 2048, stop);
    v.updatestatus();
    ASSERT_EQ(v.liststatus.Count(), 14);
    EXPECT_TRUE(v.liststatus.Visible());
    EXPECT_TRUE(v.liststatustimer.Enabled());
    EXPECT_EQ(v.liststatus.Item(13).cells,
              (std::vector<std::string>{"14", "site1.invalid", "1", "Connecting", "2KB done", "song.mp3"}));
    EXPECT_EQ(v.liststatus.Item(0).cells, (std::vector<std::string>{"1", "", "0", "Not connected", "", ""}));

    v.liststatus.SetSelected(12, true); // slot 13
    v.liststatus.SetSelected(11, true); // slot 12
    v.CancelDownload1Click();
    EXPECT_EQ(s.slot(13).phase, Phase::Idle);
    EXPECT_EQ(s.slot(12).phase, Phase::Idle);
    EXPECT_EQ(s.slot(14).phase, Phase::Connecting);
    EXPECT_EQ(s.statusBarText(), "Stopped by you: a.mp3");
    v.updatestatus();
    EXPECT_EQ(v.liststatus.Item(12).cells,
              (std::vector<std::string>{"13", "", "0", "Not connected", "", ""}));

    mode = 2;
    v.updatestatus();
    EXPECT_FALSE(v.liststatustimer.Enabled());
    EXPECT_STREQ(download::stepText(FtpSlotStep::ResumeRefused), "Restarting, site does not support REST");
}

TEST_F(SchedulerModel, BuiltInRouteTakesTheSelectionOrEveryRow) {
    for (int i = 1; i <= 3; ++i)
        w.table.List.Add({"a.mp3", "250", "site" + std::to_string(i) + ".invalid", url(i)});
    download::getfileslocalClick(w.table.List, nullptr, 2, w.urlinfo, s);
    EXPECT_EQ(w.table.List.SelCount(), 3);
    EXPECT_EQ(s.slot(14).record.url, url(1));
    EXPECT_EQ(s.slot(13).record.url, url(2));
    EXPECT_EQ(s.slot(12).record.url, url(3));

    shell::Wavetrap w2;
    for (int i = 1; i <= 3; ++i)
        w2.table.List.Add({"a.mp3", "250", "x", url(i)});
    w2.table.List.SetSelected(1, true);
    platform::ListView site;
    site.Add({"b.mp3", "250", url(7, "b.mp3")});
    site.Add({"c.mp3", "250", url(8, "c.mp3")});
    site.SetSelected(1, true);
    download::getfileslocalClick(w2.table.List, &site, 1, w2.urlinfo, w2.scheduler);
    EXPECT_EQ(w2.scheduler.slot(14).record.url, url(2));
    EXPECT_EQ(w2.scheduler.slot(13).record.url, url(8, "c.mp3"));
    EXPECT_EQ(w2.scheduler.slot(12).phase, Phase::Idle);
}

TEST_F(SchedulerModel, StartUpHandsThePendingDownloadsBackInOrder) {
    w.pending.downloading = {url(1, "a.mp3"), url(2), url(1, "b.mp3")};
    w.pending.downloadingsize = {"1", "2", "3"};
    download::resumePending(w.pending, w.urlinfo, s);
    // Still pending, each once, until fetched.
    EXPECT_EQ(w.pending.downloading, (platform::StringList{url(1, "a.mp3"), url(2), url(1, "b.mp3")}));
    EXPECT_EQ(w.pending.downloadingsize, (platform::StringList{"0", "0", "0"}));
    EXPECT_EQ(s.slot(14).queueUrls, (platform::StringList{url(1, "a.mp3"), url(1, "b.mp3")}));
    EXPECT_EQ(s.slot(13).record.url, url(2));
}

// The first connection to each new site goes out at once, whatever the
// pace; only connecting again waits for the ticks.
// The sites on hosts of their own, or all on one host, each on its own port
// (servers of their own all the same).
class FirstContacts : public SchedulerModel, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(SchedulerModel, FirstContacts, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "OneHost" : "HostEach"; });

TEST_P(FirstContacts, WithNewSitesOpenWithoutWaitingForTicks) {
    std::vector<std::unique_ptr<testpeers::DialogueServer>> servers;
    for (int i = 0; i < SlotCount; ++i) {
        servers.push_back(std::make_unique<testpeers::DialogueServer>());
        // Each site closes its first connection: the slot must connect again.
        ASSERT_TRUE(servers.back()->start(
            testpeers::Dialogue::fromText("S: 220 ready\nCLOSE\nACCEPT\nS: 220 ready\n"),
            GetParam() ? "127.0.0.1" : "127.0.0." + std::to_string(2 + i)));
    }
    s.dfatimer.setInterval(600000); // no tick comes within the test
    s.dfatimer.setEnabled(true);
    for (const auto& srv : servers)
        launch("ftp://" + srv->host() + ":" + std::to_string(srv->port()) + "/pub/x.mp3");
    auto connected = [&](int atLeast) {
        return std::all_of(servers.begin(), servers.end(),
                           [&](const auto& p) { return p->connections() >= atLeast; });
    };
    ASSERT_TRUE(platform::runUntil([&] { return connected(1); }, 10000));
    EXPECT_EQ(s.cursor(), 0); // no tick ran
    // The connections closed: connecting again goes at the pace, one
    // connection a tick (the first at once, as no tick has opened one yet).
    auto reconnected = [&] {
        int k = 0;
        for (const auto& p : servers)
            k += p->connections() - 1;
        return k;
    };
    auto waiting = [&] {
        int k = 0;
        for (int n = 1; n <= SlotCount; ++n)
            k += s.slot(n).session->needsConnection() ? 1 : 0;
        return k;
    };
    ASSERT_TRUE(platform::runUntil([&] { return reconnected() == 1 && waiting() == SlotCount - 1; }, 10000))
        << reconnected() << " reconnected, " << waiting() << " waiting";
    s.dfatimerTimer();
    ASSERT_TRUE(platform::runUntil([&] { return reconnected() == 2 && waiting() == SlotCount - 2; }, 10000))
        << reconnected() << " reconnected, " << waiting() << " waiting";
    EXPECT_EQ(s.cursor(), 1);
    s.dfatimer.setEnabled(false);
}

} // namespace
