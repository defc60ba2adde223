// Binding stream sockets that ask for any port: each gets a port of its own
// on the address it asked for, and takes connections there; a port asked
// for by number is that port or a refusal.

#include "platform/socket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <vector>

namespace {

TEST(SocketBind, AnyPortGivesEachListenerItsOwnPortOnItsAddress) {
    for (const char* host : {"127.0.0.1", "127.0.0.2", "::1"}) {
        platform::SockAddr want;
        ASSERT_TRUE(platform::parseAddress(host, want)) << host;
        std::vector<int> fds;
        std::set<std::uint16_t> ports;
        for (int i = 0; i < 40; ++i) {
            const int fd = platform::sockCreate(false, IPPROTO_TCP, want.family());
            ASSERT_GE(fd, 0);
            fds.push_back(fd);
            if (platform::sockBind(fd, want) != 0) {
                ASSERT_TRUE(want.v6()) << host << ": " << platform::lastSocketError();
                break; // a system without IPv6 loopback
            }
            ASSERT_EQ(platform::sockListen(fd, 5), 0);
            platform::SockAddr got;
            ASSERT_EQ(platform::sockName(fd, got), 0);
            EXPECT_TRUE(got.sameHost(want)) << host << " bound as " << platform::addressText(got);
            EXPECT_NE(got.port(), 0);
            ports.insert(got.port());
            // It takes a connection at that port.
            const int c = platform::sockCreate(false, IPPROTO_TCP, want.family());
            ASSERT_GE(c, 0);
            const int r = platform::sockConnect(c, got);
            EXPECT_TRUE(r == 0 || platform::lastSocketError() == 10035 /* would block: started */)
                << platform::lastSocketError();
            pollfd ready{fd, POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 10000), 1) << host;
            platform::SockAddr peer;
            const int a = platform::sockAccept(fd, peer);
            EXPECT_GE(a, 0) << host;
            if (a >= 0) platform::sockClose(a);
            platform::sockClose(c);
        }
        EXPECT_TRUE(ports.size() == fds.size() || ports.empty()) << host;
        // A port asked for by number, while a listener holds it: refused, not moved.
        if (!ports.empty()) {
            platform::SockAddr taken = want;
            taken.setPort(*ports.begin());
            const int fd = platform::sockCreate(false, IPPROTO_TCP, want.family());
            ASSERT_GE(fd, 0);
            EXPECT_NE(platform::sockBind(fd, taken), 0);
            platform::sockClose(fd);
        }
        for (int fd : fds)
            platform::sockClose(fd);
    }
}

} // namespace
