#pragma once
// Desktop notifications through the notification service of the desktop
// (org.freedesktop.Notifications on the session bus). Without a session bus,
// or without a service on it, a notice is dropped and nothing else happens.
// Calls never wait: the service's answer comes through the event loop.

#include "shell/download_notices.h"

#include <QDBusConnection>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QObject;

namespace shell {

class DesktopNotifier {
public:
    static constexpr const char* Service = "org.freedesktop.Notifications";
    static constexpr const char* Path = "/org/freedesktop/Notifications";
    static constexpr const char* AppName = "Wavetrap";
    static constexpr const char* Icon = "wavetrap"; // the icon the package installs

    // Sends on the session bus, connected when the first notice comes.
    DesktopNotifier();
    // Sends on this bus.
    explicit DesktopNotifier(const QDBusConnection& bus);
    ~DesktopNotifier();
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // Shows the notice; the one of the same kind this notifier showed before
    // is replaced, so a renewed notice does not pile up.
    void show(const Notice& notice);

    // Notices the service took, and those that reached no service.
    int delivered() const { return delivered_; }
    int dropped() const { return dropped_; }
    // Answers still awaited.
    int waiting() const { return waiting_; }

private:
    std::optional<QDBusConnection> bus_;
    std::unique_ptr<QObject> context_;     // the pending answers end with it
    std::array<std::uint32_t, 2> shown_{}; // the service's id per kind (0: none)
    int delivered_ = 0, dropped_ = 0, waiting_ = 0;
};

} // namespace shell
