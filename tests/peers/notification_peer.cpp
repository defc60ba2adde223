#include "peers/notification_peer.h"

#include "platform/eventloop.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <sstream>

namespace testpeers {

bool PrivateSessionBus::start() {
    const std::string config = dir_.file("bus.conf");
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n  <listen>unix:dir="
        << dir_.path()
        << "</listen>\n  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
    if (!proc_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address=1"}))
        return false;
    platform::runUntil(
        [&] {
            const std::string out = proc_.output();
            const std::size_t at = out.find("unix:");
            const std::size_t end = out.find('\n', at);
            if (at == std::string::npos || end == std::string::npos) return !proc_.running();
            address_ = out.substr(at, end - at);
            return true;
        },
        10000);
    return !address_.empty();
}

bool NotificationService::start(const std::string& busAddress) {
    const std::string script = std::string(WAVETRAP_TEST_SOURCE_DIR) + "/peers/notification_server.py";
    if (!proc_.start("/usr/bin/env", {"DBUS_SESSION_BUS_ADDRESS=" + busAddress, "/usr/bin/python3", script}))
        return false;
    return platform::runUntil(
               [&] { return proc_.output().find("ready\n") != std::string::npos || !proc_.running(); },
               15000) &&
           proc_.running() && proc_.output().find("ready\n") != std::string::npos;
}

std::vector<Notification> NotificationService::received() const {
    std::vector<Notification> out;
    std::istringstream lines(proc_.output());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] != '{') continue;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        Notification n;
        n.app = o["app"].toString().toStdString();
        n.icon = o["icon"].toString().toStdString();
        n.summary = o["summary"].toString().toStdString();
        n.body = o["body"].toString().toStdString();
        n.replaces = static_cast<unsigned>(o["replaces"].toInteger());
        n.id = static_cast<unsigned>(o["id"].toInteger());
        n.timeout = o["timeout"].toInt();
        const QJsonObject hints = o["hints"].toObject();
        for (auto it = hints.begin(); it != hints.end(); ++it)
            n.hints.emplace_back(it.key().toStdString(), it.value().toString().toStdString());
        out.push_back(std::move(n));
    }
    return out;
}

} // namespace testpeers
