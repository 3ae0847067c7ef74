#include "platform/linux/freedesktop_notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QVariantMap>
#include <cstdlib>

namespace kestrel::linuxio {

namespace {
constexpr int kCallTimeoutMs = 5000;

// The body may be read as markup by the service.
QString Escaped(const std::string& text) { return QString::fromUtf8(text.c_str()).toHtmlEscaped(); }
}  // namespace

bool SessionBusConfigured() {
    // Without an address the bus library may launch a bus of its own; only
    // a bus that exists is used.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime && QFileInfo(QString::fromLocal8Bit(runtime) + "/bus").exists();
}

FreedesktopNotifications::FreedesktopNotifications(std::string appName) : appName_(std::move(appName)) {}

void FreedesktopNotifications::Notify(const DesktopNote& note, std::function<void()> undelivered) {
    // Posted to our own object: dropped if this is gone before it runs.
    auto failed = [this, &undelivered] {
        if (undelivered) QMetaObject::invokeMethod(calls_.get(), [u = std::move(undelivered)] { u(); }, Qt::QueuedConnection);
    };
    if (!SessionBusConfigured()) return failed();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return failed();
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    QVariantMap hints;
    hints.insert("urgency", QVariant::fromValue(static_cast<uchar>(note.urgency)));
    call << QString::fromUtf8(appName_.c_str()) << 0u << QString("drive-harddisk") << QString::fromUtf8(note.summary.c_str())
         << Escaped(note.body) << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), calls_.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, calls_.get(),
                     [watcher, undelivered = std::move(undelivered)] {
                         if (watcher->isError() && undelivered) undelivered();
                         watcher->deleteLater();
                     });
}

}  // namespace kestrel::linuxio
