#pragma once
// A private session bus (dbus-daemon with a configuration of its own: no
// service is started on demand) and a desktop notification service on it
// (tests/peers/notification_server.py, python3-dbus), which records every
// notification it is sent.

#include "peers/process.h"
#include "support/tempdir.h"

#include <string>
#include <vector>

namespace testpeers {

class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    ~PrivateSessionBus() { proc_.terminate(); }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Starts dbus-daemon and waits for its address.
    bool start();
    const std::string& address() const { return address_; }
    std::string output() const { return proc_.output(); }

private:
    testsupport::TempDir dir_;
    ChildProcess proc_;
    std::string address_;
};

struct Notification {
    std::string app, icon, summary, body;
    unsigned replaces = 0, id = 0;
    int timeout = 0;
    std::vector<std::pair<std::string, std::string>> hints;
};

class NotificationService {
public:
    NotificationService() = default;
    ~NotificationService() { proc_.terminate(); }
    NotificationService(const NotificationService&) = delete;
    NotificationService& operator=(const NotificationService&) = delete;

    // Starts the service on the bus and waits until it owns its name.
    bool start(const std::string& busAddress);
    // Every notification received so far, in order.
    std::vector<Notification> received() const;
    std::string output() const { return proc_.output(); }

private:
    ChildProcess proc_;
};

} // namespace testpeers
