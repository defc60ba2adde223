// Word for the desktop: a queue of real FTP downloads tells a notification
// service of our own on a private session bus when a file failed and when the
// queue ran dry; without a service nothing happens; failures of one moment
// make one notice; and what the close question counts.

#include "program_fixture.h"

#include "peers/ftp_peer.h"
#include "peers/notification_peer.h"
#include "peers/process.h"
#include "platform/eventloop.h"
#include "shell/desktop_notifier.h"
#include "shell/download_notices.h"

#include <QDBusConnection>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testpeers::Notification;
using Notices = shelltest::SettingsDirTest;

std::string hint(const Notification& n, const std::string& name) {
    for (const auto& [k, v] : n.hints)
        if (k == name) return v;
    return "<none>";
}

class Cwd {
public:
    explicit Cwd(const std::string& dir) {
        char* cwd = ::getcwd(nullptr, 0);
        old_ = cwd ? cwd : "/";
        std::free(cwd);
        EXPECT_EQ(::chdir(dir.c_str()), 0);
    }
    ~Cwd() { (void)::chdir(old_.c_str()); }

private:
    std::string old_;
};

TEST_F(Notices, AQueueOfRealDownloadsTellsTheNotificationServiceAndRenewsItsNotices) {
    testpeers::PrivateSessionBus bus;
    ASSERT_TRUE(bus.start()) << bus.output();
    testpeers::NotificationService service;
    ASSERT_TRUE(service.start(bus.address())) << service.output();

    testsupport::TempDir root, work;
    ::mkdir(root.file("pub").c_str(), 0755);
    testsupport::writeFile(root.file("pub/Dawn.mp3"), std::string(40000, 'd'));
    testpeers::FtpPeer ftp;
    testpeers::FtpPeerOptions o;
    o.host = "127.0.0.2";
    o.root = root.path();
    ASSERT_TRUE(ftp.start(o)) << ftp.output();
    auto url = [&](const char* name) {
        return "ftp://127.0.0.2:" + std::to_string(ftp.port()) + "/pub/" + name;
    };

    Cwd cwd(work.path());
    shell::Wavetrap w;
    w.scheduler.setVerify(false); // the site serves patterned bytes, not songs
    shell::DownloadNotices notices(w.scheduler, w.urlinfo);
    // A connection's name holds for the whole process: one of its own per bus.
    const QString name = QString::fromStdString("wt-" + bus.address());
    shell::DesktopNotifier notifier(
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name));
    notices.notice.connect([&](const shell::Notice& n) { notifier.show(n); });
    w.scheduler.dfatimer.setInterval(10);
    w.scheduler.dfatimer.setEnabled(true);

    w.scheduler.launchftp(w.urlinfo.info(url("Dawn.mp3")));
    w.scheduler.launchftp(w.urlinfo.info(url("Gone.mp3")));
    ASSERT_TRUE(platform::runUntil([&] { return service.received().size() >= 2; }, 30000))
        << service.output() << w.scheduler.statusBarText();
    std::vector<Notification> got = service.received();
    EXPECT_EQ(got[0].summary, "A download failed");
    EXPECT_EQ(got[0].body.rfind("Gone.mp3 from 127.0.0.2: ", 0), 0u) << got[0].body;
    EXPECT_EQ(got[1].summary, "Downloads finished");
    EXPECT_EQ(got[1].body, "1 file fetched, 1 failed");
    for (const Notification& n : got) {
        EXPECT_EQ(n.app, "Wavetrap");
        EXPECT_EQ(n.icon, "wavetrap");
        EXPECT_EQ(hint(n, "desktop-entry"), "wavetrap");
        EXPECT_EQ(n.replaces, 0u);
    }
    EXPECT_EQ(testsupport::readFile(work.file("Dawn.mp3")), std::string(40000, 'd'));

    // The next queue renews the notices it showed instead of adding more.
    w.scheduler.launchftp(w.urlinfo.info(url("Gone_too.mp3")));
    ASSERT_TRUE(platform::runUntil([&] { return service.received().size() >= 4; }, 30000))
        << service.output();
    got = service.received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[2].summary, "A download failed");
    EXPECT_EQ(got[2].replaces, got[0].id);
    EXPECT_EQ(got[3].body, "0 files fetched, 1 failed");
    EXPECT_EQ(got[3].replaces, got[1].id);
    EXPECT_TRUE(platform::runUntil([&] { return notifier.waiting() == 0; }, 5000));
    EXPECT_EQ(notifier.delivered(), 4);
    EXPECT_EQ(notifier.dropped(), 0);
}

TEST(DesktopNotifier, WithoutABusOrAServiceANoticeIsDroppedAndNothingElseHappens) {
    testpeers::PrivateSessionBus bus; // a bus on which nobody serves notifications
    ASSERT_TRUE(bus.start()) << bus.output();
    struct Case {
        const char* name;
        QDBusConnection connection;
    };
    const Case cases[] = {
        {"a bus without the service",
         QDBusConnection::connectToBus(QString::fromStdString(bus.address()),
                                       QString::fromStdString("wt-empty-" + bus.address()))},
        {"no bus", QDBusConnection::connectToBus("unix:path=/nonexistent/wavetrap-bus", "wt-no-bus")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell::DesktopNotifier notifier(c.connection);
        notifier.show({shell::Notice::QueueDone, "Downloads finished", "1 file fetched"});
        notifier.show({shell::Notice::FilesFailed, "A download failed", "a.mp3"});
        EXPECT_TRUE(platform::runUntil([&] { return notifier.waiting() == 0; }, 5000));
        EXPECT_EQ(notifier.dropped(), 2);
        EXPECT_EQ(notifier.delivered(), 0);
    }
}

TEST_F(Notices, FailuresOfOneMomentMakeOneNoticeAndTheUsersCancelNone) {
    shell::Wavetrap w;
    w.scheduler.setVerify(false); // the site serves patterned bytes, not songs
    shell::DownloadNotices notices(w.scheduler, w.urlinfo);
    std::vector<shell::Notice> told;
    notices.notice.connect([&](const shell::Notice& n) { told.push_back(n); });
    auto fail = [&](const std::string& name, download::Outcome outcome, const std::string& why) {
        w.scheduler.hooks.fileFailed("ftp://down.test/pub/" + name, {outcome, why});
    };
    fail("a.mp3", download::Outcome::Stopped, "Stopped");
    platform::runUntil([] { return false; }, 50);
    EXPECT_TRUE(told.empty()) << "a cancel by the user is no failure";

    for (int i = 1; i <= 7; ++i)
        fail(std::to_string(i) + ".mp3", download::Outcome::SiteDown, "site given up: no connection");
    EXPECT_TRUE(told.empty()) << "told once the moment is over";
    ASSERT_TRUE(platform::runUntil([&] { return !told.empty(); }, 2000));
    platform::runUntil([] { return false; }, 50);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].kind, shell::Notice::FilesFailed);
    EXPECT_EQ(told[0].summary, "7 downloads failed");
    EXPECT_EQ(told[0].body, "7.mp3 from down.test: site given up: no connection\n"
                            "6.mp3 from down.test: site given up: no connection\n"
                            "5.mp3 from down.test: site given up: no connection\n"
                            "4.mp3 from down.test: site given up: no connection\n"
                            "3.mp3 from down.test: site given up: no connection\n"
                            "and 2 more");
    fail("\x1b]0;x\x07.mp3", download::Outcome::NotFound, "");
    ASSERT_TRUE(platform::runUntil([&] { return told.size() == 2; }, 2000));
    EXPECT_EQ(told[1].summary, "8 downloads failed");
    EXPECT_EQ(told[1].body.substr(0, told[1].body.find('\n')), "?]0;x?.mp3 from down.test: not found");

    // The queue runs dry: one notice with the counts, which start again.
    w.scheduler.hooks.updatestatus();
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2].kind, shell::Notice::QueueDone);
    EXPECT_EQ(told[2].body, "0 files fetched, 8 failed");
    EXPECT_EQ(notices.failed(), 0);
    w.scheduler.hooks.updatestatus();
    EXPECT_EQ(told.size(), 3u) << "an idle queue says nothing more";
}

TEST_F(Notices, TheCloseQuestionCountsEveryFileRunningOrWaiting) {
    shell::Wavetrap w;
    w.scheduler.setVerify(false); // the site serves patterned bytes, not songs
    EXPECT_EQ(shell::closeQuestion(w.scheduler), "");
    const testpeers::ClosedPort closed;
    const std::string site = "ftp://127.0.0.1:" + std::to_string(closed.port()) + "/";
    w.scheduler.launchftp(w.urlinfo.info(site + "a.mp3"));
    EXPECT_EQ(shell::filesUnderWay(w.scheduler), 1);
    EXPECT_EQ(shell::closeQuestion(w.scheduler).rfind("1 file is still being downloaded. Stop and quit?", 0),
              0u);
    w.scheduler.launchftp(w.urlinfo.info(site + "b.mp3")); // behind a.mp3 on its slot
    for (int i = 0; i < download::SlotCount; ++i)          // one slot each, then parked
        w.scheduler.launchftp(w.urlinfo.info("ftp://h" + std::to_string(i) + ".invalid/c.mp3"));
    EXPECT_EQ(w.scheduler.launchbuf().size(), 1u);
    EXPECT_EQ(shell::filesUnderWay(w.scheduler), 16);
    const std::string q = shell::closeQuestion(w.scheduler);
    EXPECT_EQ(q.rfind("16 files are still being downloaded.", 0), 0u) << q;
    EXPECT_NE(q.find("resumes at the next start"), std::string::npos) << q;
}

} // namespace
