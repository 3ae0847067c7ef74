// Time from the moment the event rules raise an alert for a pulled disk to
// the SMTP server's receipt of the mail, through the real settings store,
// composer, TEmailThread and SMTP exchange, against aiosmtpd on 127.0.0.1.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "notify/alert_mail.h"
#include "notify/mail_delivery.h"
#include "platform/headless_ui.h"
#include "support/recording_ui.h"
#include "support/smtp_server.h"
#include "support/status_builder.h"

using namespace kestrel;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::SmtpTestServer server;
    if (server.port() == 0) return 1;
    QTemporaryDir dir;
    RegistryKey key((dir.path() + "/settings.ini").toStdString());
    MailFlags flags;
    MemoryStatusBar bar;
    testing::RecordingMessageBoxes boxes;
    MailSettingsStore store(key, flags, bar, boxes, [] {});
    store.Startup();
    MailPageFields page;
    page.fields = {std::to_string(server.port()), "127.0.0.1", "RAID box", "raid@example.com", "", ""};
    page.fieldChanged = 0x3F;
    page.addresses = {"ops@example.com"};
    store.SaveMailSettings(page);
    store.LoadMailSettings();
    flags.Reset();
    DriveTable drives;
    drives.EnclosureCount = 1;
    drives.EnclosureFlags[0] = 0x41;
    drives.KnownIdentify[1] = testing::IdentifyBlock("KESTREL DUAL RAID", "100126.1");
    drives.CurrentStatus[1] = testing::Record().diskState(0x42);
    AlertComposer composer(drives, store, flags, "RAID GUI V0.23.6", [] { return std::vector<std::string>{}; });
    QObject ui;
    MailDelivery delivery(&ui, flags, store, composer, bar);
    delivery.Start();

    std::vector<double> ms;
    for (int i = 1; i <= 7; ++i) {
        QElapsedTimer t;
        t.start();
        composer.ComposeAlert(1, 0, 1);
        while (server.MailCount() < i && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("alert to mail received: median %.1f ms (min %.1f, max %.1f, %zu runs)\n", ms[ms.size() / 2],
                ms.front(), ms.back(), ms.size());
    return 0;
}
