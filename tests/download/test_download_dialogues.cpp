// Exact cases of the download road against the scripted server: welcome
// refusals, REST answers, refusal texts, silent servers, stalls and files
// whose size never matches.

#include "road_support.h"

#include "peers/dialogue_server.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>

using namespace roadtest;
using testpeers::Dialogue;
using testpeers::DialogueServer;
using testpeers::fillBytes;

namespace {

// The client's log-in and the set-up of a transfer of /pub/x.mp3.
std::string login(const std::string& size = "213 1000") {
    return "S: 220 Scripted server ready\n"
           "C: USER anonymous\n"
           "S: 331 Send your password\n"
           "C: PASS wavetrap@example.com\n"
           "S: 230 Logged in\n"
           "C: TYPE I\n"
           "S: 200 Type set to I\n"
           "C: SIZE /pub/x.mp3\n"
           "S: " +
           size +
           "\n"
           "CP: PORT \n"
           "S: 200 PORT command successful\n";
}

std::string retr(std::int64_t from, std::int64_t count) {
    return "C: RETR /pub/x.mp3\n"
           "S: 150 Opening data connection\n"
           "DATACONNECT\n"
           "DATAFILL " +
           std::to_string(from) + " " + std::to_string(count) +
           "\n"
           "DATACLOSE\n"
           "S: 226 Transfer complete\n";
}

class Dialogues : public Road {
protected:
    DialogueServer server;
    std::string site = "127.0.0.1";

    void play(const std::string& text) {
        ASSERT_TRUE(server.start(Dialogue::fromText(text), site));
        launch(url());
    }
    std::string url() const { return "ftp://" + site + ":" + std::to_string(server.port()) + "/pub/x.mp3"; }
    void expectPlayed() {
        EXPECT_TRUE(waitFor([&] { return server.finished(); }, 5000)) << server.where();
        EXPECT_TRUE(server.errors().empty()) << (server.errors().empty() ? "" : server.errors().front());
    }
};

TEST_F(Dialogues, WholeFileWithResumeAndTheOutcomesCounted) {
    testsupport::writeFile(dir.file("x.mp3"), fillBytes(0, 400));
    platform::StringList bar; // every text the status bar showed
    s.hooks.statusBar.connect([&](const std::string& text) { bar.push_back(text); });
    play(login() + "C: REST 400\nS: 350 Restarting at 400\n" + retr(400, 600) + "WAITCLOSE\n");
    EXPECT_EQ(w.pending.downloading, (platform::StringList{url()})); // pending from the start
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).startMarked; }));
    // The transfer start: one success mark once the server accepted it, the pending lists and the log.
    EXPECT_EQ(countsOf(w.stats, site), (Counts{26, 5}));
    EXPECT_EQ(w.pending.downloading, (platform::StringList{url()}));
    EXPECT_EQ(w.pending.downloadingsize, (platform::StringList{"1000"}));
    EXPECT_EQ(w.downloadLog.entries(), (platform::StringList{url()}));
    EXPECT_EQ(s.statusBarText(), "Downloading x.mp3");
    EXPECT_TRUE(hasLine(s.ftpstatus(), "Entering State 4"));
    EXPECT_TRUE(hasLine(s.abortout(), "Starting download"));

    ASSERT_TRUE(runToEnd()) << dump();
    expectPlayed();
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 1000)) << dump();
    EXPECT_EQ(countsOf(w.stats, site), (Counts{101, 5})); // +25 at the start, +75 at the finish
    EXPECT_TRUE(w.pending.downloading.empty());
    EXPECT_TRUE(w.pending.downloadingsize.empty());
    EXPECT_TRUE(hasLine(s.ftpstatus(), "Entering State 6"));
    EXPECT_TRUE(s.errorlog().empty()) << s.errorlog().front();
    EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{url(), true}}));
    EXPECT_EQ(s.abortout().back(), site);
    EXPECT_EQ(bar, (platform::StringList{"Downloading x.mp3", "Finished download of x.mp3",
                                         "No more files for this site: " + site}));
}

// A file's own message stays on the status bar (the site's line follows
// success only), and a cancel says who stopped what; a cancel of a slot with
// no work says nothing.
TEST_F(Dialogues, AFilesOwnMessageStaysAndACancelSaysWhoStoppedIt) {
    platform::StringList bar;
    s.hooks.statusBar.connect([&](const std::string& text) { bar.push_back(text); });
    s.stop(3); // idle
    EXPECT_TRUE(bar.empty()) << bar.front();
    EXPECT_TRUE(s.abortout().empty());
    play(login() + "C: RETR /pub/x.mp3\nS: 550 No such file\nWAITCLOSE\n");
    ASSERT_TRUE(runToEnd()) << dump();
    expectPlayed();
    ASSERT_FALSE(bar.empty());
    EXPECT_EQ(bar.back(), "x.mp3 not found on the site " + site);

    launch(url());
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).phase != download::Phase::Idle; }));
    s.stop(14);
    EXPECT_EQ(s.statusBarText(), "Stopped by you: x.mp3");
}

// With a download folder, a file is known by its whole path: one begun in
// another folder (before the folder was changed) is continued there, and the
// pending entry keeps the path.
TEST_F(Dialogues, AFileBegunInAnotherFolderIsContinuedThere) {
    testsupport::TempDir before, now;
    testsupport::writeFile(before.file("x.mp3"), fillBytes(0, 400));
    ASSERT_TRUE(server.start(Dialogue::fromText(login() + "C: REST 400\nS: 350 Restarting at 400\n" +
                                                retr(400, 600) + "WAITCLOSE\n"),
                             site));
    w.pending.downloading = {url()};
    w.pending.downloadingsize = {"1000"};
    w.pending.localName[url()] = before.file("x.mp3");
    s.setDownloadFolder(now.path());
    s.resume(w.urlinfo.info(url()), before.file("x.mp3"));
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).startMarked; }));
    EXPECT_EQ(w.pending.localName.at(url()), before.file("x.mp3"));
    ASSERT_TRUE(runToEnd()) << dump();
    expectPlayed();
    EXPECT_TRUE(testsupport::readFile(before.file("x.mp3")) == fillBytes(0, 1000));
    EXPECT_TRUE(std::filesystem::is_empty(now.path()));
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.mp3"))) << "nothing in the working directory";
}

TEST_F(Dialogues, RestRefusedWith502FetchesTheWholeFileAgain) {
    testsupport::writeFile(dir.file("x.mp3"), fillBytes(0, 400));
    play(login() + "C: REST 400\nS: 502 REST not implemented\nCP: PORT \nS: 200 PORT command successful\n" +
         retr(0, 1000) + "WAITCLOSE\n");
    ASSERT_TRUE(stepUntil([&] { return ftpStep(14) == download::FtpSlotStep::ResumeRefused; }));
    EXPECT_EQ(s.errorlog(), (platform::StringList{"14: error 502: state 4"}));
    ASSERT_TRUE(runToEnd()) << dump();
    expectPlayed();
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 1000)) << dump();
    EXPECT_EQ(countsOf(w.stats, site), (Counts{101, 6}));
}

TEST_F(Dialogues, RestAnswered200FetchesFromTheStartIntoAnEmptiedFile) {
    testsupport::writeFile(dir.file("x.mp3"), std::string(400, 'z'));
    play(login() + "C: REST 400\nS: 200 Whatever\n" + retr(0, 1000) + "WAITCLOSE\n");
    ASSERT_TRUE(runToEnd()) << dump();
    expectPlayed();
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 1000)) << dump();
    EXPECT_TRUE(s.errorlog().empty());
}

// Files whose received byte count never meets the size rule still finish
// once the server confirmed the transfer.
TEST_F(Dialogues, ConfirmedTransferFinishesWhateverTheSize) {
    struct {
        const char* name;
        std::string sizeReply;
        std::int64_t sent;
        const char* errorlog;
    } cases[] = {
        {"100 bytes", "213 100", 100, nullptr},
        {"unknown size", "500 SIZE not understood", 3000, "14: error 500: state 7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogueServer one;
        ASSERT_TRUE(
            one.start(Dialogue::fromText(login(c.sizeReply) + retr(0, c.sent) + "WAITCLOSE\n"), site));
        const std::string u = "ftp://" + site + ":" + std::to_string(one.port()) + "/pub/x.mp3";
        ::unlink("x.mp3");
        s.forgetNames(); // each case as a run of its own
        s.clearMemos();
        done.clear();
        launch(u);
        ASSERT_TRUE(runToEnd()) << dump();
        EXPECT_TRUE(waitFor([&] { return one.finished(); }, 5000)) << one.where();
        EXPECT_TRUE(file("x.mp3") == fillBytes(0, c.sent)) << dump();
        EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{u, true}}));
        if (c.errorlog) {
            EXPECT_EQ(s.errorlog(), (platform::StringList{c.errorlog}));
        } else {
            std::string all;
            for (const auto& l : s.ftpstatus())
                all += l + "\n";
            EXPECT_TRUE(s.errorlog().empty()) << s.errorlog().front() << "\n" << all;
        }
        EXPECT_TRUE(w.pending.downloading.empty());
    }
}

TEST_F(Dialogues, ShortConfirmedTransferIsResumedAndNeverCountsAsFinished) {
    const std::string resume = "CP: PORT \nS: 200 PORT command successful\nC: REST 3000\nS: 350 Restarting\n";
    struct {
        const char* name;
        std::string after; // after the first, short transfer of 3000 of 5000 bytes
        std::int64_t have;
        bool fetched;
    } cases[] = {
        {"whole on resume", resume + retr(3000, 2000), 5000, true},
        {"still short", resume + retr(3000, 1000), 4000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogueServer one;
        ASSERT_TRUE(
            one.start(Dialogue::fromText(login("213 5000") + retr(0, 3000) + c.after + "WAITCLOSE\n"), site));
        const std::string u = "ftp://" + site + ":" + std::to_string(one.port()) + "/pub/x.mp3";
        ::unlink("x.mp3");
        s.forgetNames(); // each case as a run of its own
        done.clear();
        launch(u);
        ASSERT_TRUE(runToEnd()) << dump();
        EXPECT_TRUE(waitFor([&] { return one.finished(); }, 5000)) << one.where();
        EXPECT_TRUE(file("x.mp3") == fillBytes(0, c.have)) << dump();
        if (c.fetched) {
            EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{u, true}}));
        }
        // A failed file stays pending (and partial) for resume.
        EXPECT_EQ(w.pending.downloading, c.fetched ? platform::StringList{} : platform::StringList{u});
        w.pending.downloading.clear();
        w.pending.downloadingsize.clear();
    }
}

TEST_F(Dialogues, FileOfTheSameNameNeverOverwritesAnother) {
    // A local x.mp3 larger than the remote one, then x.mp3 from two sites:
    // each goes to a free name, and every file keeps its own bytes.
    testsupport::writeFile(dir.file("x.mp3"), std::string(2000, 'u'));
    for (int i = 0; i < 2; ++i) {
        DialogueServer one;
        const std::string host = "127.0.0." + std::to_string(2 + i);
        const int size = 1000 + 200 * i;
        ASSERT_TRUE(one.start(
            Dialogue::fromText(login("213 " + std::to_string(size)) + retr(0, size) + "WAITCLOSE\n"), host));
        launch("ftp://" + host + ":" + std::to_string(one.port()) + "/pub/x.mp3");
        ASSERT_TRUE(runToEnd()) << dump();
        EXPECT_TRUE(waitFor([&] { return one.finished(); }, 5000)) << one.where();
    }
    EXPECT_EQ(file("x.mp3"), std::string(2000, 'u'));
    EXPECT_TRUE(file("x (2).mp3") == fillBytes(0, 1000));
    EXPECT_TRUE(file("x (3).mp3") == fillBytes(0, 1200));
}

TEST_F(Dialogues, SiteThatRefusesEveryLogInIsGivenUp) {
    std::string d;
    for (int i = 0; i < download::MaxRefusals; ++i)
        d += std::string(i ? "ACCEPT\n" : "") + "S: 421 Too many users, try later\nWAITCLOSE\n";
    play(d);
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).reset; }));
    expectPlayed();
    EXPECT_EQ(server.connections(), download::MaxRefusals);
    EXPECT_EQ(s.statusBarText(),
              "Unrecoverable problems with site, " + site +
                  " Aborting. Reason: Log-in refused 5 times in a row (421 Too many users, try later)");
    EXPECT_EQ(countsOf(w.stats, site).bad, 5 + download::MaxRefusals); // the marks stay
    EXPECT_TRUE(s.errorlog().empty());
    EXPECT_EQ(w.pending.downloading, platform::StringList{url()}); // for a later resume
}

TEST_F(Dialogues, SiteWhoseTransfersNeverReceiveDataIsGivenUp) {
    const std::string stall =
        "C: RETR /pub/x.mp3\nS: 150 Opening data connection\nDATACONNECT\nWAITCLOSE\nACCEPT\n";
    std::string d;
    for (int i = 0; i < download::MaxFruitlessTransfers; ++i)
        d += login() + stall;
    d += "S: 220 ready\nC: USER anonymous\nS: 331 pw\nC: PASS wavetrap@example.com\nS: 230 ok\n"
         "C: TYPE I\nS: 200 ok\nC: SIZE /pub/x.mp3\nS: 213 1000\nWAITCLOSE\n";
    play(d);
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).reset; }, 120000)) << dump();
    expectPlayed();
    EXPECT_EQ(s.statusBarText(), "Unrecoverable problems with site, " + site +
                                     " Aborting. Reason: No data in 5 transfers in a row");
    EXPECT_TRUE(file("x.mp3").empty());
}

TEST_F(Dialogues, ProgressStartsTheCountOfFruitlessTransfersAgain) {
    // Four stalls, one that brings 100 bytes, four more stalls: never five
    // fruitless transfers in a row, so the site is not given up.
    auto stall = [](int from, int bytes) {
        return login() + (from ? "C: REST " + std::to_string(from) + "\nS: 350 ok\n" : "") +
               "C: RETR /pub/x.mp3\nS: 150 ok\nDATACONNECT\n" +
               (bytes ? "DATAFILL " + std::to_string(from) + " " + std::to_string(bytes) + "\n" : "") +
               "WAITCLOSE\nACCEPT\n";
    };
    std::string d;
    for (int i = 0; i < 9; ++i)
        d += i < 4 ? stall(0, 0) : i == 4 ? stall(0, 100) : stall(100, 0);
    play(d + login() + "C: REST 100\nS: 350 ok\n" + retr(100, 900) + "WAITCLOSE\n");
    ASSERT_TRUE(runToEnd(120000)) << dump();
    expectPlayed();
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 1000)) << dump();
    EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{url(), true}}));
}

TEST_F(Dialogues, Reply530ToThePasswordLogsInAgain) {
    play("S: 220 ready\nC: USER anonymous\nS: 331 Password\nC: PASS wavetrap@example.com\n"
         "S: 530 Login incorrect.\n");
    ASSERT_TRUE(stepUntil([&] { return !s.errorlog().empty(); }));
    // The shown 530 sent the slot back to connecting before the completion came.
    EXPECT_EQ(s.errorlog(), (platform::StringList{"14: error 530: state 1"}));
    EXPECT_EQ(ftpStep(14), download::FtpSlotStep::Connected);
    EXPECT_EQ(countsOf(w.stats, site), (Counts{1, 6}));
    s.stop(14);
}

TEST_F(Dialogues, RefusalTextsEndTheSlotWithNineFailureMarks) {
    struct {
        std::string dialogue;
        std::string reason;
        bool abortout;
    } cases[] = {
        {"S: 220 ready\nC: USER anonymous\nS: 530 Permission denied.\n", "< 530 Permission denied.", true},
        {"S: 220 ready\nC: USER anonymous\nS: 331 Password\nC: PASS wavetrap@example.com\n"
         "S: 530 Password incorrect\n",
         "< 530 Password incorrect", true},
        {"S: 421 Can't connect to host\n", "< 421 Can't connect to host", false},
    };
    int i = 2;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string host = "127.0.0." + std::to_string(i++);
        DialogueServer one;
        ASSERT_TRUE(one.start(Dialogue::fromText(c.dialogue), host));
        s.clearMemos();
        launch("ftp://" + host + ":" + std::to_string(one.port()) + "/pub/x.mp3");
        ASSERT_TRUE(stepUntil([&] { return s.slot(14).phase == download::Phase::Idle; }));
        EXPECT_EQ(s.statusBarText(),
                  "Unrecoverable problems with site, " + host + " Aborting. Reason: " + c.reason);
        EXPECT_EQ(countsOf(w.stats, host), (Counts{1, 14}));
        if (c.abortout) {
            EXPECT_EQ(s.abortout(), (platform::StringList{"14 XXX::" + c.reason, host}));
        } else {
            EXPECT_TRUE(s.abortout().empty());
        }
        // The refused request still completes; the ended slot blames nobody.
        ASSERT_TRUE(waitFor([&] { return !s.errorlog().empty(); }));
        EXPECT_EQ(s.errorlog().back().substr(0, 11), "14: error " + c.reason.substr(2, 1));
        EXPECT_EQ(countsOf(w.stats, host), (Counts{1, 14}));
        s.clearMemos();
    }
}

TEST_F(Dialogues, SilentServerRunsTheTimeOutCascade) {
    play("WAITCLOSE\n");
    ASSERT_TRUE(stepUntil([&] { return client(14).State() == net::ftpWaitingBanner; }));
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).reset; }));
    EXPECT_EQ(s.slot(14).wait, 31); // the 31st visit that found the client busy
    EXPECT_EQ(
        s.statusBarText(),
        "Unrecoverable problems with site, 127.0.0.1 Aborting. Reason: Could not connect to site. Site down");
    // The client waiting for the welcome was freed, and the server saw it go.
    EXPECT_EQ(client(14).State(), net::ftpReady);
    ASSERT_TRUE(waitFor([&] { return server.finished(); }));
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).phase == download::Phase::Idle; }));
}

// A server that welcomes and then never answers USER: the slot connects
// again after its time-out instead of waiting for ever, and the log-ins
// without success in a row are bounded.
TEST_F(Dialogues, ServerThatNeverAnswersTheLogInIsConnectedAgainThenGivenUp) {
    std::string d;
    for (int i = 0; i < download::MaxRefusals; ++i)
        d +=
            std::string(i ? "ACCEPT\n" : "") + "S: 220 Scripted server ready\nC: USER anonymous\nWAITCLOSE\n";
    play(d);
    ASSERT_TRUE(stepUntil([&] { return s.slot(14).reset; }, 60000)) << dump();
    expectPlayed();
    EXPECT_EQ(server.connections(), download::MaxRefusals);
    EXPECT_EQ(w.pending.downloading, platform::StringList{url()});
}

TEST_F(Dialogues, StalledTransferIsResumedOnANewConnection) {
    play(login("213 5000") +
         "C: RETR /pub/x.mp3\nS: 150 Opening data connection\nDATACONNECT\nDATAFILL 0 1000\nWAITCLOSE\n"
         "ACCEPT\n" +
         login("213 5000") + "C: REST 1000\nS: 350 Restarting at 1000\n" + retr(1000, 4000) + "WAITCLOSE\n");
    ASSERT_TRUE(runToEnd(60000));
    expectPlayed();
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 5000)) << dump();
    EXPECT_TRUE(hasLine(s.errorlog(), "14: transfer stalled: state 4"));
    EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{url(), true}}));
}

TEST_F(Dialogues, StalledTransferThatReachedItsSizeIsFinished) {
    play(login("213 1000") +
         "C: RETR /pub/x.mp3\nS: 150 Opening data connection\nDATACONNECT\nDATAFILL 0 1000\nWAITCLOSE\n");
    ASSERT_TRUE(runToEnd(60000));
    expectPlayed();
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 1000)) << dump();
    EXPECT_EQ(done, (std::vector<std::pair<std::string, bool>>{{url(), true}}));
    EXPECT_TRUE(hasLine(s.errorlog(), "14: error 426: state 6"));
}

TEST_F(Dialogues, StepThatRaisesIsLoggedAndTheSlotGoesOn) {
    // No user name: User raises; the slot goes on as after a failed step.
    ASSERT_TRUE(server.start(Dialogue::fromText("S: 220 ready\nC: PASS pw\nS: 230 Logged in\n"
                                                "C: TYPE I\nS: 200 ok\nC: SIZE /pub/x.mp3\nS: 213 1000\n"
                                                "CP: PORT \nS: 200 ok\n" +
                                                retr(0, 1000) + "WAITCLOSE\n"),
                             site));
    launch("ftp://:pw@" + site + ":" + std::to_string(server.port()) + "/pub/x.mp3");
    ASSERT_EQ(client(14).UserName, "");
    ASSERT_TRUE(runToEnd()) << dump();
    expectPlayed();
    ASSERT_FALSE(s.errorlog().empty());
    EXPECT_EQ(s.errorlog().front().rfind("14: error ", 0), 0u);
    EXPECT_NE(s.errorlog().front().find(": state 2"), std::string::npos);
    EXPECT_FALSE(s.slot(14).busy);
    EXPECT_TRUE(file("x.mp3") == fillBytes(0, 1000)) << dump();
}

// The tick paces new connections, one a tick; every later step of a session
// goes on as soon as its reply came: two sites need two ticks in all.
TEST_F(Dialogues, FirstContactsOpenAtOneTickAndTheRepliesCarryEachSessionToItsEnd) {
    DialogueServer a, b;
    std::vector<std::string> urls;
    for (DialogueServer* one : {&a, &b}) {
        const std::string name = one == &a ? "a.mp3" : "b.mp3";
        std::string d = login() + retr(0, 1000) + "WAITCLOSE\n";
        for (std::size_t p; (p = d.find("x.mp3")) != std::string::npos;)
            d.replace(p, 5, name);
        ASSERT_TRUE(one->start(Dialogue::fromText(d), one == &a ? "127.0.0.2" : "127.0.0.3"));
        urls.push_back("ftp://" + one->host() + ":" + std::to_string(one->port()) + "/pub/" + name);
        launch(urls.back());
    }
    s.dfatimerTimer();
    auto fetched = [&](std::size_t k) {
        return std::find(done.begin(), done.end(), std::make_pair(urls[k], true)) != done.end();
    };
    // Both sites are new to the run: their first connections open at the
    // same tick, and no further tick is needed to the end.
    ASSERT_TRUE(waitFor([&] { return fetched(0) && fetched(1) && s.idle(); }, 5000)) << dump();
    EXPECT_EQ(a.connections(), 1);
    EXPECT_EQ(b.connections(), 1);
    EXPECT_TRUE(waitFor([&] { return a.finished() && b.finished(); }, 5000)) << a.where() << b.where();
    EXPECT_TRUE(file("a.mp3") == fillBytes(0, 1000) && file("b.mp3") == fillBytes(0, 1000)) << dump();
    EXPECT_TRUE(s.errorlog().empty()) << s.errorlog().front();
}

TEST_F(Dialogues, FifteenSitesShareFourteenSlots) {
    std::vector<std::unique_ptr<DialogueServer>> servers;
    std::vector<std::string> urls;
    for (int i = 0; i < 15; ++i) {
        const std::string host = "127.0.0." + std::to_string(2 + i);
        const std::string name = "f" + std::to_string(i) + ".mp3";
        std::string d = login("213 " + std::to_string(1000 + i)) + retr(0, 1000 + i) + "WAITCLOSE\n";
        for (std::size_t p; (p = d.find("x.mp3")) != std::string::npos;)
            d.replace(p, 5, name);
        servers.push_back(std::make_unique<DialogueServer>());
        ASSERT_TRUE(servers.back()->start(Dialogue::fromText(d), host));
        urls.push_back("ftp://" + host + ":" + std::to_string(servers.back()->port()) + "/pub/" + name);
    }
    for (const auto& u : urls)
        launch(u);
    for (int n = 1; n <= 14; ++n)
        EXPECT_EQ(s.slot(n).record.url, urls[static_cast<std::size_t>(14 - n)]);
    EXPECT_EQ(s.launchbuf(), (platform::StringList{urls[14]}));
    ASSERT_TRUE(runToEnd(60000));
    for (int i = 0; i < 15; ++i) {
        EXPECT_TRUE(waitFor([&] { return servers[static_cast<std::size_t>(i)]->finished(); }, 5000)) << i;
        EXPECT_EQ(file("f" + std::to_string(i) + ".mp3"), fillBytes(0, 1000 + i)) << i;
    }
    EXPECT_EQ(done.size(), 15u);
    EXPECT_TRUE(s.errorlog().empty()) << s.errorlog().front();
}

} // namespace
