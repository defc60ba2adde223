// The scheduler's rules without a network: placing files on slots, ending
// slots, the clients' answers, the time-outs and the status rows.

#include "download/queue.h"
#include "download/scheduler.h"
#include "download/status.h"
#include "scheduler_access.h"
#include "shell/wavetrap.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using download::Scheduler;
using download::SlotCount;

namespace {

struct Counts {
    int good = -1, bad = -1;
};

Counts countsOf(const results::SiteStats& st, const std::string& site) {
    for (std::size_t k = 0; k < st.stats_ip.size(); ++k)
        if (st.stats_ip[k] == site) return {std::stoi(st.stats_good[k]), std::stoi(st.stats_bad[k])};
    return {};
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
    download::Slot& edit(int n) { return download::SchedulerAccess::slot(s, n); }
    // Visits slots until slot n has been visited count times; the other slots
    // are marked busy so that they take no step.
    void visit(int n, int count) {
        for (int k = 1; k <= SlotCount; ++k)
            edit(k).busy = k != n;
        for (int i = 0; i < count;) {
            s.dfatimerTimer();
            if (s.cursor() == n) ++i;
        }
        for (int k = 1; k <= SlotCount; ++k)
            edit(k).busy = false;
    }
};

TEST_F(SchedulerModel, FilesOfOneSiteShareTheHighestFreeSlot) {
    for (const char* f : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
        launch(url(1, f));
    const download::Slot& slot = s.slot(14);
    EXPECT_EQ(slot.state, download::Connecting);
    EXPECT_EQ(slot.record.dir, "/pub/"); // a directory gets its trailing "/"
    EXPECT_EQ(slot.queue,
              (platform::StringList{"/pub/", "a.mp3", "/pub/", "b.mp3", "/pub/", "c.mp3", "/pub/", "d.mp3"}));
    EXPECT_EQ(slot.queueUrls.size(), 4u);
    EXPECT_EQ(slot.client->HostName, "site1.invalid");
    EXPECT_EQ(slot.client->Port, "21");
    EXPECT_EQ(slot.client->UserName, "anonymous");
    EXPECT_EQ(slot.client->LocalFileName, "a.mp3");
    for (int n = 1; n < 14; ++n)
        EXPECT_EQ(s.slot(n).state, download::Idle) << n;
}

TEST_F(SchedulerModel, FifteenthSiteWaitsInLaunchbufUntilASlotFrees) {
    for (int i = 1; i <= 15; ++i)
        launch(url(i));
    for (int i = 1; i <= 14; ++i)
        EXPECT_EQ(s.slot(15 - i).record.site, "site" + std::to_string(i) + ".invalid");
    ASSERT_EQ(s.launchbuf, (platform::StringList{url(15)}));

    s.stop(6);
    visit(6, 1); // the idle slot takes the parked URL at its visit
    EXPECT_TRUE(s.launchbuf.empty());
    EXPECT_EQ(s.slot(6).record.site, "site15.invalid");
    EXPECT_EQ(s.slot(6).state, download::Connecting);
    EXPECT_FALSE(s.slot(6).reset);
}

TEST_F(SchedulerModel, NewFileForAnAbortedSiteGetsAFreshSlot) {
    launch(url(1, "a.mp3"));
    launch(url(1, "b.mp3"));
    s.stop(14);
    EXPECT_EQ(s.slot(14).state, download::Idle);
    EXPECT_TRUE(s.slot(14).reset);
    launch(url(1, "c.mp3"));
    EXPECT_EQ(s.slot(14).state, download::Connecting);
    EXPECT_FALSE(s.slot(14).reset);
    EXPECT_EQ(s.slot(14).queue, (platform::StringList{"/pub/", "c.mp3"})); // the old queue is dropped
}

TEST_F(SchedulerModel, AbortWritesItsTextsAndDropsThePendingRowsOfTheURL) {
    launch(url(1));
    w.pending.downloading = {url(1), url(2), url(1)};
    w.pending.downloadingsize = {"10", "20", "30"};
    s.stop(14);
    EXPECT_EQ(s.abortout, (platform::StringList{"14 XXX::Stopped", "site1.invalid"}));
    EXPECT_EQ(s.StatusBar1, "Unrecoverable problems with site, site1.invalid Aborting. Reason: Stopped");
    EXPECT_EQ(s.slot(14).record.site, "");
    EXPECT_EQ(s.slot(14).record.fname, "");
    EXPECT_EQ(w.pending.downloading, (platform::StringList{url(2)}));
    EXPECT_EQ(w.pending.downloadingsize, (platform::StringList{"20"}));

    launch(url(3));
    s.abort(14, "< 421 Can't connect to host"); // "ect to ho": no abortout lines
    EXPECT_EQ(s.abortout.size(), 2u);
    s.abort(0, "x");
    s.abort(15, "x"); // outside the slots: nothing
    EXPECT_EQ(s.abortout.size(), 2u);
}

TEST_F(SchedulerModel, PaceGivesTheTickInterval) {
    EXPECT_EQ(Scheduler::intervalForPace(1), 100);
    EXPECT_EQ(Scheduler::intervalForPace(4), 700);
    EXPECT_EQ(Scheduler::intervalForPace(10), 1900);
    s.setPace(10);
    EXPECT_EQ(s.dfatimer.Interval(), 1900);
}

TEST_F(SchedulerModel, ClientPropertiesOfTheSlots) {
    for (int n = 1; n <= SlotCount; ++n) {
        const net::TFtpClient& c = *s.slot(n).client;
        const bool quiet = n == 7 || n == 14;
        EXPECT_EQ(c.Tag, n);
        EXPECT_EQ(c.Timeout, quiet ? 25 : 30) << n;
        EXPECT_EQ(c.DisplayFlag, !quiet) << n;
        EXPECT_TRUE(c.Binary);
    }
}

// One completion per row: the slot's state at arrival, the error, and what follows.
struct RowCase {
    int state;
    int error;
    int next;                 // the slot state afterwards
    bool errorlog;            // a line "14: error E: state S"
    int bad;                  // failure marks given to the site
    const char* abortWith;    // reason of an abort, or null
    const char* command = ""; // the last command the client showed
};

TEST_F(SchedulerModel, RequestDoneFollowsTheRowOfTheSlotState) {
    const RowCase cases[] = {
        {1, 0, 2, false, 0, nullptr},          {1, 421, 2, false, 1, nullptr},
        {1, 550, 2, false, 1, nullptr},        {1, 500, 2, true, 1, nullptr},
        {1, 11001, 0, false, 2, "Site Down"},  {1, 10061, 0, false, 2, "Site Down"},
        {2, 0, 9, false, 0, nullptr},          {2, 530, 9, false, 1, nullptr},
        {2, 11002, 0, false, 1, "Site Down"},  {9, 0, 3, false, 0, nullptr},
        {9, 530, 1, true, 1, nullptr},         {9, 421, 1, false, 1, nullptr},
        {3, 0, 7, false, 0, nullptr},          {3, 500, 7, true, 1, nullptr},
        {7, 0, 8, false, 0, nullptr},          {7, 550, 1, true, 1, nullptr},
        {7, 500, 1, true, 1, nullptr},         {8, 0, 4, false, 0, nullptr},
        {8, 500, 1, true, 1, nullptr},         {4, 502, 11, true, 1, nullptr, "REST"},
        {4, 425, 1, true, 1, nullptr, "PORT"}, {5, 426, 0, true, 1, "5"},
        {10, 426, 0, true, 1, "10"},           {11, 550, 6, false, 1, nullptr, "RETR"},
        {0, 500, 0, true, 1, nullptr},         {6, 500, 6, true, 1, nullptr},
        {6, 0, 6, false, 0, nullptr},
    };
    int i = 0;
    for (const RowCase& c : cases) {
        const std::string site = "row" + std::to_string(i++) + ".invalid";
        s.errorlog.clear();
        s.abortout.clear();
        launch("ftp://" + site + "/pub/x.mp3");
        download::Slot& slot = edit(14);
        slot.state = static_cast<download::SlotState>(c.state);
        slot.lastCommand = c.command;
        s.ftp11RequestDone(*slot.client, net::ftpOpenAsync, static_cast<std::uint16_t>(c.error));
        SCOPED_TRACE("state " + std::to_string(c.state) + " error " + std::to_string(c.error));
        EXPECT_EQ(number(slot.state), c.next);
        if (c.errorlog) {
            EXPECT_EQ(s.errorlog, (platform::StringList{"14: error " + std::to_string(c.error) + ": state " +
                                                        std::to_string(c.state)}));
        } else {
            EXPECT_TRUE(s.errorlog.empty());
        }
        EXPECT_EQ(countsOf(w.stats, site).bad, c.bad == 0 ? -1 : 5 + c.bad);
        if (c.abortWith) {
            EXPECT_EQ(s.StatusBar1,
                      "Unrecoverable problems with site, " + site + " Aborting. Reason: " + c.abortWith);
        }
        if (slot.state == download::Idle) continue;
        s.abort(14, "next");
    }
}

TEST_F(SchedulerModel, TransferCompletionWithoutConfirmationConnectsAgain) {
    // A completion with 0 whose last reply is no 226 means the control
    // connection went down in the middle: the slot reconnects and resumes.
    for (int st : {4, 5, 10, 11}) {
        launch("ftp://t.invalid/x.mp3");
        download::Slot& slot = edit(14);
        slot.state = static_cast<download::SlotState>(st);
        s.errorlog.clear();
        s.ftp11RequestDone(*slot.client, net::ftpRestGetAsync, 0);
        EXPECT_EQ(slot.state, download::Connecting) << st;
        EXPECT_EQ(s.errorlog, (platform::StringList{"14: transfer broken off: state " + std::to_string(st)}));
        s.abort(14, "next");
    }
}

TEST_F(SchedulerModel, LinksNoSlotCouldFetchAreRefusedWhereverTheyComeFrom) {
    std::vector<std::string> refused;
    const platform::ScopedConnection c = s.hooks.refused.connect(
        [&](const std::string& u, const std::string& why) { refused.push_back(why + " " + u); });
    w.pending.downloading = {"ftp://a.invalid:abc/x.mp3", "ftp://b.invalid:99999/y.mp3", "ftp://c.invalid/"};
    w.pending.downloadingsize = {"1", "2", "3"};
    w.resumePendingDownloads();
    s.launchbuf.push_back("ftp://d.invalid:0/z.mp3");
    for (int i = 0; i < 14; ++i)
        s.dfatimerTimer();
    EXPECT_TRUE(s.idle());
    EXPECT_TRUE(w.pending.downloading.empty());
    EXPECT_EQ(refused, (std::vector<std::string>{"bad port in URL ftp://a.invalid:abc/x.mp3",
                                                 "bad port in URL ftp://b.invalid:99999/y.mp3",
                                                 "no file name in URL ftp://c.invalid/",
                                                 "bad port in URL ftp://d.invalid:0/z.mp3"}));
    EXPECT_EQ(s.errorlog.front(), "Refused: bad port in URL: ftp://a.invalid:abc/x.mp3");
}

struct DisplayCase {
    int state;
    const char* line;
    int next;
    const char* ftpstatus; // the line added to ftpstatus
    bool refusal;
    const char* file = "x.mp3"; // the slot's file
};

TEST_F(SchedulerModel, DisplayRulesWatchTheShownLines) {
    const DisplayCase cases[] = {
        {9, "< 530 Login incorrect.", 1, "14: < 530 Login incorrect.", false},
        {3, "< 530 Login incorrect.", 3, "14: < 530 Login incorrect.", false},
        // The client's commands and the file's name in a reply are no replies of the server.
        {4, "> RETR /pub/track550.mp3", 4, "14: > RETR /pub/track550.mp3", false, "track550.mp3"},
        {9, "> SIZE /pub/track530.mp3", 9, "14: > SIZE /pub/track530.mp3", false, "track530.mp3"},
        {4, "< 150 Opening BINARY mode data connection for Lion den.mp3", 4,
         "14: < 150 Opening BINARY mode data connection for Lion den.mp3", false, "Lion den.mp3"},
        {5, "< 150 Opening connection for track550.mp3 (5 bytes)", 5,
         "14: < 150 Opening connection for track550.mp3 (5 bytes)", false, "track550.mp3"},
        // A 550 is judged by the completion of the request it answers.
        {1, "< 550 No such file.", 1, "14: < 550 No such file.", false},
        {5, "! Data: abc", 5, "14.", false},
        // File content and the client's notes hold no replies.
        {5, "! Data: x530 550 Permission denied", 5, "14.", false},
        {4, "! 1550 bytes received/sent in 0 seconds (25530 Bytes/sec)", 4,
         "14: ! 1550 bytes received/sent in 0 seconds (25530 Bytes/sec)", false},
        // Before TYPE I a 550 to SIZE may only refuse SIZE in ASCII mode.
        {3, "< 550 SIZE not allowed in ASCII mode.", 3, "14: < 550 SIZE not allowed in ASCII mode.", false},
        {2, "< 331 Password required for Permission denied", 0, nullptr, true},
        {9, "< 530 Password incorrect", 0, nullptr, true},
        {2, "< 421 Can't connect to host", 0, nullptr, true},
        {2, "< 421 user limit exeeded", 0, nullptr, true},
    };
    int i = 0;
    for (const DisplayCase& c : cases) {
        const std::string site = "show" + std::to_string(i++) + ".invalid";
        launch("ftp://" + site + "/pub/" + c.file);
        download::Slot& slot = edit(14);
        slot.state = static_cast<download::SlotState>(c.state);
        s.ftpstatus.clear();
        s.abortout.clear();
        std::string msg = c.line;
        s.ftp1Display(*slot.client, msg);
        SCOPED_TRACE(c.line);
        EXPECT_EQ(number(slot.state), c.next);
        EXPECT_EQ(s.ftpstatus.front(), c.ftpstatus ? c.ftpstatus : "14: " + std::string(c.line));
        if (c.refusal) {
            EXPECT_EQ(countsOf(w.stats, site).bad, 5 + 9);
            EXPECT_EQ(s.StatusBar1,
                      "Unrecoverable problems with site, " + site + " Aborting. Reason: " + msg);
            // "ect to hos" lines end the slot without an abortout entry.
            EXPECT_EQ(s.abortout.empty(), std::string(c.line).find("ect to hos") != std::string::npos);
        } else {
            EXPECT_LE(countsOf(w.stats, site).bad, 5); // no failure mark
            s.abort(14, "next");
        }
    }
}

TEST_F(SchedulerModel, SizeRefusedAfterTypeIGoesOnWithoutASize) {
    launch(url(1));
    download::Slot& slot = edit(14);
    slot.state = download::TypeSent;
    s.ftp11RequestDone(*slot.client, net::ftpTypeSetAsync, 0); // TYPE I accepted
    EXPECT_EQ(slot.state, download::StartTransfer);
    slot.state = download::LoggedIn;
    std::string msg = "< 550 No such file or directory.";
    s.ftp1Display(*slot.client, msg);
    s.ftp11RequestDone(*slot.client, net::ftpSizeAsync, 550);
    EXPECT_EQ(slot.state, download::SizeAnswered); // RETR tells whether the file is there
}

// Between the steps of REST and RETR the client changes state; only the
// transfer's completion ends the file, on every slot.
TEST_F(SchedulerModel, AClientStateChangeMidTransferEndsNoSlot) {
    launch(url(1));
    launch(url(2));
    edit(13).state = download::TransferAnswered;
    edit(1).state = download::TransferAnswered;
    s.slot(1).client->SetState(net::ftpInternalReady);
    s.slot(13).client->SetState(net::ftpInternalReady);
    EXPECT_EQ(s.slot(1).state, download::TransferAnswered);
    EXPECT_EQ(s.slot(13).state, download::TransferAnswered);
}

// A request the time-outs gave up on may still complete after the slot has
// started its next one: that completion ends nothing.
TEST_F(SchedulerModel, LateCompletionOfAnEarlierRequestLeavesTheTransferUnderWay) {
    launch(url(1));
    download::Slot& slot = edit(14);
    slot.state = download::StartTransfer;
    slot.awaiting = true;
    slot.request = net::ftpRestGetAsync;
    s.ftp11RequestDone(*slot.client, net::ftpTypeSetAsync, 150);
    EXPECT_EQ(slot.state, download::StartTransfer);
    EXPECT_TRUE(slot.awaiting);
    EXPECT_EQ(s.errorlog,
              (platform::StringList{"14: late completion ignored: request 36, error 150, state 4"}));
    s.ftp11RequestDone(*slot.client, net::ftpRestGetAsync, 0); // its own completion is applied
    EXPECT_FALSE(slot.awaiting);
    EXPECT_EQ(slot.request, net::ftpNone);
}

TEST_F(SchedulerModel, ProgressKeepsTheCountAndStopsAnEndedSlot) {
    launch(url(1));
    download::Slot& slot = edit(14);
    bool stop = true;
    s.ftp1Progress(*slot.client, 4096, stop);
    EXPECT_FALSE(stop);
    EXPECT_EQ(slot.byteCount, 4096);
    s.stop(14);
    s.ftp1Progress(*slot.client, 8192, stop);
    EXPECT_TRUE(stop); // the transfer of an ended slot is stopped at its next read
}

struct TimeoutCase {
    int state;
    net::TFtpState client; // a busy client state
    int next;
};

TEST_F(SchedulerModel, BusyClientRunsTheTimeOutCascadeAtTheThirtyFirstVisit) {
    const TimeoutCase cases[] = {
        {9, net::ftpWaitingResponse, 2}, // the client is set ready, then 3 -> 1 -> 2
        {3, net::ftpWaitingResponse, 2}, // 3 -> 1 -> (busy) abort, 2
        {1, net::ftpWaitingBanner, 2},   // abort, 2; held at 0 from the next visit
        {4, net::ftpWaitingResponse, 5}, // a long transfer: the tick's finish rule applies
        {11, net::ftpWaitingResponse, 5},
    };
    for (const TimeoutCase& c : cases) {
        SCOPED_TRACE(c.state);
        launch(url(1));
        download::Slot& slot = edit(14);
        slot.state = static_cast<download::SlotState>(c.state);
        slot.client->SetState(c.client);
        // No stall in these cases: the byte count is taken as moving.
        for (int v = 0; v < 30; ++v) {
            slot.stall = 0;
            visit(14, 1);
        }
        EXPECT_EQ(number(slot.state), c.state);
        EXPECT_EQ(slot.wait, 30);
        visit(14, 1);
        EXPECT_EQ(number(slot.state), c.next);
        if (c.state == 1 || c.state == 3) {
            EXPECT_EQ(s.StatusBar1,
                      "Unrecoverable problems with site, site1.invalid Aborting. Reason: Could not "
                      "connect to site. Site down");
            EXPECT_TRUE(slot.reset);
            EXPECT_EQ(slot.client->State(), net::ftpReady); // freed for the next site
            visit(14, 1);
            EXPECT_EQ(slot.state, download::Idle);
        }
        slot.client->SetState(net::ftpReady);
        s.abort(14, "next");
        slot.wait = 0;
    }
}

TEST_F(SchedulerModel, StallBreaksOffAFinishedOrStuckTransfer) {
    for (int st : {6, 4}) {
        SCOPED_TRACE(st);
        launch(url(1));
        download::Slot& slot = edit(14);
        slot.state = static_cast<download::SlotState>(st);
        slot.lastByteCount = 0;
        slot.client->SetState(net::ftpWaitingResponse);
        visit(14, 20);
        EXPECT_EQ(slot.client->State(), net::ftpWaitingResponse);
        visit(14, 1); // the 21st visit without progress aborts the client
        EXPECT_EQ(slot.client->State(), net::ftpReady);
        // After a finish the finishing runs next; a stuck transfer connects again.
        EXPECT_EQ(slot.state, st == 6 ? download::FileFinished : download::Connecting);
        s.abort(14, "next");
        slot.wait = 0;
        slot.stall = 0;
    }

    // A slow transfer that pauses on every other visit is not stalled: only
    // visits in a row without progress count.
    launch(url(1));
    download::Slot& slot = edit(14);
    slot.state = download::TransferAnswered;
    slot.client->SetState(net::ftpWaitingResponse);
    s.errorlog.clear();
    for (int v = 0; v < 60; ++v) {
        if (v % 2 == 0) slot.lastByteCount = 1; // the count moved since the last visit
        visit(14, 1);
    }
    EXPECT_EQ(slot.state, download::TransferAnswered);
    EXPECT_EQ(slot.client->State(), net::ftpWaitingResponse);
    EXPECT_TRUE(s.errorlog.empty());
    slot.client->SetState(net::ftpReady);
}

TEST_F(SchedulerModel, StoppedSlotFreesAClientThatStaysBusy) {
    // A transfer cancelled while its server sends nothing: no data read comes
    // to stop it, so the slot's visit frees the client for the next site.
    launch(url(1));
    download::Slot& slot = edit(14);
    slot.state = download::TransferAnswered;
    slot.awaiting = true;
    slot.client->SetState(net::ftpWaitingResponse);
    s.stop(14);
    EXPECT_EQ(slot.client->State(), net::ftpWaitingResponse); // abort leaves a busy client alone
    visit(14, 1);
    EXPECT_EQ(slot.state, download::Idle);
    EXPECT_EQ(slot.client->State(), net::ftpReady);
    EXPECT_FALSE(slot.awaiting);
    visit(14, 1); // an idle visit now runs its step
    EXPECT_EQ(slot.wait, 0);
}

TEST_F(SchedulerModel, LinkWithoutHostIsRefusedBeforeAnyStep) {
    launch("ftp:///pub/x.mp3");
    EXPECT_EQ(s.slot(14).state, download::Idle);
    visit(14, 3); // no attempts
    EXPECT_EQ(s.errorlog, (platform::StringList{"Refused: no host name in URL: ftp:///pub/x.mp3"}));
}

TEST(StatusProgress, TextFollowsTheSizeRule) {
    struct {
        int state;
        std::int64_t count, size;
        const char* text;
    } cases[] = {
        {5, 0, 3000000, ""},          {0, 5000, 3000000, ""},
        {5, 1500000, 3000000, "50%"}, {5, 46080, 90000, "45KB done"},
        {5, 2047, 0, "1KB done"},     {5, 100000, 100000, "97KB done"},
        {5, 25, 200000, "0%"},        {5, 1000, 200000, "0%"},
        {5, 1001, 200000, "1%"},      {5, 5000, 200000, "2%"},
        {5, 7000, 200000, "4%"}, // 2.5 -> 2, 3.5 -> 4: halves to even
    };
    for (const auto& c : cases)
        EXPECT_EQ(download::progressText(static_cast<download::SlotState>(c.state), c.count, c.size), c.text)
            << c.count << "/" << c.size;
}

TEST_F(SchedulerModel, StatusViewShowsFourteenRowsAndCancelsTheSelected) {
    download::StatusView& v = w.status;
    int mode = 5;
    v.viewMode = [&] { return mode; };
    launch(url(1, "song.mp3"));
    launch(url(2));
    launch(url(3));
    edit(14).byteCount = 2048;
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
    EXPECT_EQ(s.slot(13).state, download::Idle);
    EXPECT_EQ(s.slot(12).state, download::Idle);
    EXPECT_EQ(s.slot(14).state, download::Connecting);
    EXPECT_EQ(s.StatusBar1, "Unrecoverable problems with site, site2.invalid Aborting. Reason: Stopped");
    v.updatestatus();
    EXPECT_EQ(v.liststatus.Item(12).cells,
              (std::vector<std::string>{"13", "", "0", "Not connected", "", ""}));

    mode = 2;
    v.updatestatus();
    EXPECT_FALSE(v.liststatustimer.Enabled());
    for (int st = 0; st <= 11; ++st)
        EXPECT_STRNE(download::stateText(static_cast<download::SlotState>(st)), "");
    EXPECT_STREQ(download::stateText(download::ResumeRefused), "Restarting, site does not support REST");
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
    EXPECT_EQ(w2.scheduler.slot(12).state, download::Idle);
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

} // namespace
