// The monitor program without a window: what it loads, and that it is the
// same monitor with the same one-shot commands as the window programs.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <memory>

#include "notify/mail_settings_store.h"
#include "support/mail_settings.h"
#include "support/program.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

using testing::Program;

// The shared libraries the dynamic linker loads for a program, one path each.
QStringList LoadedLibraries(const char* executable) {
    QProcess ldd;
    ldd.start("ldd", {executable});
    EXPECT_TRUE(ldd.waitForFinished(30000));
    EXPECT_EQ(ldd.exitCode(), 0);
    QStringList libraries;
    for (const QString& line : QString::fromLocal8Bit(ldd.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        libraries << line.trimmed().section(' ', 0, 0);
    return libraries;
}

bool IsWindowingLibrary(const QString& library) {
    for (const char* prefix : {"libQt6Widgets", "libQt6Gui", "libX11", "libxcb", "libGL", "libEGL", "libOpenGL",
                               "libwayland", "libxkbcommon"})
        if (library.startsWith(prefix)) return true;
    return false;
}

TEST(MonitorProgram, LoadsNoWidgetGuiWindowingOrGlLibrary) {
    const QStringList monitor = LoadedLibraries(KESTREL_MONITOR_EXE);
    ASSERT_TRUE(monitor.contains(QStringLiteral("libQt6Core.so.6"))) << monitor.join(' ').toStdString();
    for (const QString& library : monitor) EXPECT_FALSE(IsWindowingLibrary(library)) << library.toStdString();
    // The same check finds them in the window program.
    const QStringList window = LoadedLibraries(KESTREL_RAID_EXE);
    EXPECT_TRUE(window.contains(QStringLiteral("libQt6Widgets.so.6"))) << window.join(' ').toStdString();
}

TEST(MonitorProgram, MonitorsTheDemoHeadlessEvenWithADisplay) {
    Program program(KESTREL_MONITOR_EXE);
    // A window program would open its window here; the monitor has none.
    program.env().insert("DISPLAY", ":none");
    program.env().remove("QT_QPA_PLATFORM");
    std::unique_ptr<QProcess> p(program.Start(program.WithFiles({"--time-scale", "0.2"})));
    QString out, err;
    QDeadlineTimer deadline(60000);
    while (!(err.contains("[panel 1] Detected OK") && out.contains("Device2 information :")) &&
           p->state() == QProcess::Running && !deadline.hasExpired()) {
        p->waitForReadyRead(100);
        out += QString::fromLocal8Bit(p->readAllStandardOutput());
        err += QString::fromLocal8Bit(p->readAllStandardError());
    }
    ASSERT_EQ(p->state(), QProcess::Running) << err.toStdString();
    EXPECT_TRUE(err.contains("[panel 1] Detected OK")) << err.toStdString();
    EXPECT_TRUE(out.contains("Device1 information :")) << out.toStdString();
    ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    ASSERT_TRUE(p->waitForFinished(20000));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_FALSE(err.contains("qt.qpa")) << err.toStdString();
}

TEST(MonitorProgram, RunsTheOneShotCommands) {
    Program program(KESTREL_MONITOR_EXE);
    EXPECT_EQ(program.RunToEnd({"--version"}).out, "RAID GUI V0.23.6\n");
    const Program::Result bad = program.RunToEnd({"--bogus"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err.count('\n'), 1) << bad.err.toStdString();

    const Program::Result status = program.RunToEnd({"--status", "--json", "--simulate"}, 30000);
    ASSERT_TRUE(status.finished);
    EXPECT_LE(status.exitCode, 2) << status.err.toStdString();
    const QJsonDocument json = QJsonDocument::fromJson(status.out.toUtf8());
    EXPECT_TRUE(json.isObject()) << status.out.toStdString();

    const QString sample = program.logDir() + "/sample.bin";
    ASSERT_EQ(program.RunToEnd({"--write-sample-image", sample}).exitCode, 0);
    const Program::Result upgrade =
        program.RunToEnd(program.WithFiles({"--time-scale", "0.05", "--upgrade-firmware", sample}), 60000);
    ASSERT_TRUE(upgrade.finished);
    EXPECT_EQ(upgrade.exitCode, 0) << upgrade.out.toStdString() << upgrade.err.toStdString();
    EXPECT_TRUE(upgrade.out.contains("Firmware Upgrade 3/3 completed!")) << upgrade.out.toStdString();

    testing::SmtpTestServer server;
    ASSERT_GT(server.port(), 0);
    MailPageFields page = testing::LocalServerPage(server.port());
    page.addresses = {"admin@example.com"};
    testing::StoreAsThePageDoes(program.registry(), page);
    const Program::Result mail = program.RunToEnd(program.WithFiles({"--test-mail"}), 30000);
    EXPECT_EQ(mail.exitCode, 0) << mail.err.toStdString();
    EXPECT_EQ(mail.out, "Test mail sent\n");
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_TRUE(server.Mail(1)["data"].toString().contains("Subject: RAID GUI V0.23.6 test mail\r\n"));
}

}  // namespace
}  // namespace kestrel
