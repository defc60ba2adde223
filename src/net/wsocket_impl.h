#pragma once
// Constants shared by the files of TWSocket.

#include "platform/socket.h"

#include <cstddef>

namespace net {

constexpr std::size_t SendBufferSize = 1514; // one buffer of the send queue
constexpr int AllNotifications =
    platform::FD_READ | platform::FD_WRITE | platform::FD_ACCEPT | platform::FD_CONNECT | platform::FD_CLOSE;
constexpr int ConnectedNotifications =
    platform::FD_READ | platform::FD_WRITE | platform::FD_CONNECT | platform::FD_CLOSE;

} // namespace net
