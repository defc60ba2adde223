// The socket layer's numbers: errno and resolver results turned into the
// socket-layer codes the clients compare against, and their descriptions.
#include "net/wsocket.h"
#include "platform/resolver.h"
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <netdb.h>

TEST(SocketCodes, FromErrno) {
    const std::vector<std::pair<int, int>> rows = {
        {0, 0},
        {EWOULDBLOCK, 10035},
        {EINPROGRESS, 10036},
        {ENOTSOCK, 10038},
        {EADDRINUSE, 10048},
        {ENETUNREACH, 10051},
        {ECONNABORTED, 10053},
        {ECONNRESET, 10054},
        {EPIPE, 10054},
        {ENOTCONN, 10057},
        {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},
        {EHOSTUNREACH, 10065},
        {EINVAL, 10022},
        {EBADF, 10009},
    };
    for (const auto& [err, code] : rows)
        EXPECT_EQ(platform::socketCodeFromErrno(err), code) << err;
    // An errno outside the table never lands on a code of the table.
    EXPECT_EQ(net::WSocketErrorDesc(platform::socketCodeFromErrno(EXDEV)), "Not a WinSock error");
}

TEST(SocketCodes, FromResolver) {
    EXPECT_EQ(platform::resolverCode(0, 0), 0);
    EXPECT_EQ(platform::resolverCode(EAI_NONAME, 0), 11001);
    EXPECT_EQ(platform::resolverCode(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(platform::resolverCode(EAI_FAIL, 0), 11003);
    EXPECT_EQ(platform::resolverCode(EAI_NODATA, 0), 11004);
    EXPECT_EQ(platform::resolverCode(EAI_SYSTEM, ECONNREFUSED), 10061);
    std::vector<std::string> addrs;
    EXPECT_EQ(platform::resolveHost("nonexistent.invalid", addrs), 11001);
    EXPECT_EQ(platform::resolveHost("INVALID.", addrs), 11001);
    EXPECT_EQ(platform::resolveHost("localhost", addrs), 0);
    ASSERT_FALSE(addrs.empty());
    EXPECT_EQ(addrs.front(), "127.0.0.1");
}

TEST(SocketCodes, Descriptions) {
    const std::vector<std::pair<int, std::string>> rows = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10022, "Invalid argument"},
        {10035, "Operation would block"},
        {10054, "Connection reset by peer"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10069, "Disc quota exceeded"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
        {10072, "Not a WinSock error"},
        {12, "Not a WinSock error"},
    };
    for (const auto& [code, text] : rows)
        EXPECT_EQ(net::WSocketErrorDesc(code), text) << code;
}
