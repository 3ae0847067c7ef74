#include "platform/linux/freedesktop_notifications.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

namespace kestrel {
namespace {

// A session whose bus address leads nowhere: the note is undelivered, told
// later on the event loop, never in the middle of the caller.
TEST(FreedesktopNotifications, ABusThatIsNotThereMakesTheNoteUndeliveredLater) {
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const bool had = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.path() + "/no-bus").toUtf8());
    ASSERT_TRUE(linuxio::SessionBusConfigured());
    int undelivered = 0;
    {
        linuxio::FreedesktopNotifications service("RAID GUI");
        service.Notify({"Device1 fan fail.", "body", DesktopNote::Urgency::Critical}, [&] { ++undelivered; });
        EXPECT_EQ(undelivered, 0);
        QElapsedTimer t;
        t.start();
        while (undelivered == 0 && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(undelivered, 1);
        // Gone before its answer: nothing is told.
        service.Notify({"Device1 over heat.", "", DesktopNote::Urgency::Critical}, [&] { ++undelivered; });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(undelivered, 1);
    if (had) qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    else qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    // Without an address and without a bus socket in the runtime folder,
    // no bus is started.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_FALSE(linuxio::SessionBusConfigured());
    qputenv("XDG_RUNTIME_DIR", runtime);
    if (had) qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
}

}  // namespace
}  // namespace kestrel
