// The test peers themselves: the child-process launcher and the pyftpdlib
// server it starts (other suites rely on both behaving).
#include "peers/ftp_peer.h"
#include "peers/process.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace testpeers;

TEST(TestProcess, FreePortIsBindableOnAnyLoopbackAddress) {
    for (const char* host : {"127.0.0.1", "127.0.0.7"}) {
        const int port = freePort(host);
        ASSERT_GT(port, 0) << host;
        EXPECT_FALSE(portAccepts(host, port)) << host;
    }
}

TEST(TestProcess, ChildThatNeverListensEndsTheWaitWhenItExits) {
    ChildProcess child;
    ASSERT_TRUE(child.start("/bin/sh", {"-c", "echo gone; exit 3"}));
    EXPECT_FALSE(child.waitForPort("127.0.0.1", freePort(), 10000));
    EXPECT_FALSE(child.running());
    EXPECT_EQ(child.exitCode(), 3);
    EXPECT_EQ(child.output(), "gone\n");
}

TEST(TestProcess, KillAndTerminateReapTheChild) {
    ChildProcess a, b;
    ASSERT_TRUE(a.start("/bin/sleep", {"60"}));
    ASSERT_TRUE(b.start("/bin/sleep", {"60"}));
    EXPECT_TRUE(a.running());
    a.kill();
    EXPECT_FALSE(a.running());
    b.terminate(3000);
    EXPECT_FALSE(b.running());
}

TEST(TestFtpPeer, ServesOnChosenLoopbackAddressAndRestartsOnTheSamePort) {
    testsupport::TempDir dir;
    FtpPeer peer;
    FtpPeerOptions opt;
    opt.host = "127.0.0.3";
    opt.root = dir.path();
    ASSERT_TRUE(peer.start(opt)) << peer.output();
    const int port = peer.port();
    EXPECT_TRUE(portAccepts("127.0.0.3", port));
    peer.kill();
    EXPECT_FALSE(peer.running());
    EXPECT_FALSE(portAccepts("127.0.0.3", port));
    ASSERT_TRUE(peer.restart()) << peer.output();
    EXPECT_EQ(peer.port(), port);
    EXPECT_TRUE(portAccepts("127.0.0.3", port));
}
