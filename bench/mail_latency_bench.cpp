// Time from the status poll that finds a pulled disk to the SMTP server's
// receipt of the alert mail: the poll and its event rules, the real settings
// store, composer, TEmailThread and SMTP exchange, against aiosmtpd on
// 127.0.0.1. The user-interface thread waits in its event loop, as the
// program's does, and wakes when the server files the mail.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "notify/alert_mail.h"
#include "notify/mail_delivery.h"
#include "poll_rig.h"
#include "support/recording_ui.h"
#include "support/smtp_server.h"

using namespace kestrel;

namespace {

sim::Step DiskStep(sim::Action action) {
    sim::Step step;
    step.enclosure = "desk";
    step.action = action;
    step.disk = 2;
    return step;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::SmtpTestServer server;
    if (server.port() == 0) return 1;

    bench::PollRig rig;
    // The settings as the E-mail page stores them.
    RegistryKey key((rig.dir.path() + "/settings.ini").toStdString());
    MailFlags flags;
    testing::RecordingMessageBoxes boxes;
    MailSettingsStore store(key, flags, rig.bar, boxes, [] {});
    store.Startup();
    MailPageFields fields;
    fields.fields = {std::to_string(server.port()), "127.0.0.1", "RAID box", "raid@example.com", "", ""};
    fields.fieldChanged = 0x3F;
    fields.addresses = {"ops@example.com"};
    store.SaveMailSettings(fields);
    store.LoadMailSettings();
    flags.Reset();
    AlertComposer composer(rig.drives, store, flags, BaseTitleFor(ProductVariant::Raid),
                           [] { return std::vector<std::string>{}; });
    rig.alerts.to = &composer;
    QObject ui;
    MailDelivery delivery(&ui, flags, store, composer, rig.bar);
    delivery.Start();

    QFileSystemWatcher watcher({server.dir()});
    QEventLoop received;
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &received, [&] { received.exit(0); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &received, [&] { received.exit(1); });

    sim::SimulatedPc& pc = *rig.devices.simulated;
    std::vector<double> ms, pollMs;
    for (int i = 1; i <= 9; ++i) {
        pc.RunStep(DiskStep(sim::Action::InsertDisk));
        rig.poll.Run();
        pc.RunStep(DiskStep(sim::Action::PullDisk));
        QElapsedTimer t;
        t.start();
        rig.poll.Run();
        pollMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        giveUp.start(20000);
        while (server.MailCount() < i && received.exec() == 0) {
        }
        if (server.MailCount() < i) {
            std::fprintf(stderr, "no mail for pulled disk %d; status bar: %s\n", i, rig.bar.Panel(3).c_str());
            return 1;
        }
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    // One mail per pulled disk, and the right one (members count from 0).
    if (server.MailCount() != static_cast<int>(ms.size()) ||
        !server.Mail(server.MailCount())["data"].toString().contains("Device1 P1 Hard Disk Drive fail.")) {
        std::fprintf(stderr, "the mails received are not the pulled-disk alerts\n");
        return 1;
    }
    auto report = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("pulled disk, %s: median %.2f ms (min %.2f, max %.2f, %zu runs)\n", what, v[v.size() / 2],
                    v.front(), v.back(), v.size());
    };
    report("from the poll to the mail received", ms);
    report("the poll itself (log line written, alert composed)", pollMs);
    return 0;
}
