#include "shell/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace shell {

namespace {

QString qt(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The body is shown as markup by some services: its text stays text.
QString escaped(const std::string& s) {
    return qt(s).toHtmlEscaped();
}

} // namespace

DesktopNotifier::DesktopNotifier() : context_(std::make_unique<QObject>()) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus)
    : bus_(bus), context_(std::make_unique<QObject>()) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(const Notice& notice) {
    if (!bus_) bus_ = QDBusConnection::sessionBus();
    if (!bus_->isConnected()) {
        ++dropped_;
        return;
    }
    const std::size_t kind = notice.kind == Notice::FilesFailed ? 1 : 0;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, "Notify");
    QVariantMap hints;
    hints.insert("desktop-entry", QString("wavetrap"));
    hints.insert("urgency", QVariant::fromValue<uchar>(1)); // normal
    call << QString(AppName) << static_cast<uint>(shown_[kind]) << QString(Icon) << qt(notice.summary)
         << escaped(notice.body) << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call), context_.get());
    ++waiting_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                     [this, kind](QDBusPendingCallWatcher* w) {
                         --waiting_;
                         const QDBusPendingReply<uint> reply = *w;
                         if (reply.isError()) {
                             ++dropped_;
                         } else {
                             ++delivered_;
                             shown_[kind] = reply.value();
                         }
                         w->deleteLater();
                     });
}

} // namespace shell
