// What a service manager and an administrator rely on: the help text, the
// status options, the default log folder of an installed program, journal
// priorities, and SIGHUP reloading the settings instead of ending it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/command_line.h"
#include "platform/headless_ui.h"
#include "support/program.h"

namespace kestrel {
namespace {

ParseOutcome Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/kestrel-raid-gui");
    return ParseCommandLine(args, ProductVariant::Raid, false);
}

TEST(ServiceConventions, HelpNamesTheProgramFilesSignalsAndPrivileges) {
    const std::string help = Parse({"--help"}).out;
    EXPECT_EQ(help.rfind("Usage: kestrel-raid-gui [options]", 0), 0u) << help;
    EXPECT_EQ(help.find("<executable_name>"), std::string::npos);
    for (const char* part : {"--status", "--json", "--prometheus", "SIGHUP", "SIGTERM", "/run/kestrel",
                             "/var/log/kestrel", "~/.local/state/kestrel", "group disk", "3 nothing could be read"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
}

TEST(ServiceConventions, StatusFormatsGoWithStatusOnly) {
    EXPECT_EQ(Parse({"--status", "--json"}).options.statusFormat, StatusFormat::Json);
    EXPECT_EQ(Parse({"--status", "--prometheus"}).options.statusFormat, StatusFormat::Prometheus);
    EXPECT_TRUE(Parse({"--status"}).options.status);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--json"}, {"--status", "--json", "--prometheus"}, {"--status", "--test-mail"}}) {
        const ParseOutcome o = Parse(bad);
        EXPECT_EQ(o.exitCode, 2);
        EXPECT_EQ(o.err.find('\n'), std::string::npos);
    }
}

TEST(ServiceConventions, InstalledProgramLogsToTheStateOrServiceFolder) {
    QTemporaryDir dir;
    const std::string prefixBin = dir.path().toStdString() + "/usr/bin";
    const std::string build = dir.path().toStdString() + "/build";
    QDir().mkpath(QString::fromStdString(prefixBin));
    QDir().mkpath(QString::fromStdString(build + "/bin"));
    QFile(QString::fromStdString(build + "/bin/CMakeCache.txt")).open(QIODevice::WriteOnly);

    // A build folder keeps the place beside the executable.
    EXPECT_EQ(DefaultLogDir({build, "/var/log/kestrel", "/s", "/home/u"}), build);
    EXPECT_EQ(DefaultLogDir({build + "/bin", "", "", "/home/u"}), build + "/bin");
    // Installed: the service's folder, else the XDG state folder.
    EXPECT_EQ(DefaultLogDir({prefixBin, "/var/log/kestrel:/var/log/other", "", "/home/u"}), "/var/log/kestrel");
    EXPECT_EQ(DefaultLogDir({prefixBin, "", "/home/u/state", "/home/u"}), "/home/u/state/kestrel");
    EXPECT_EQ(DefaultLogDir({prefixBin, "", "relative", "/home/u"}), "/home/u/.local/state/kestrel");
}

TEST(ServiceConventions, FailureLinesCarryJournalPrioritiesOnlyWhenStderrIsTheJournal) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    struct stat st {};
    ASSERT_EQ(::fstat(::fileno(out), &st), 0);
    const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const char* before = std::getenv("JOURNAL_STREAM");
    const std::string saved = before ? before : "";
    auto contents = [out] {
        std::fflush(out);
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        return text;
    };

    ::setenv("JOURNAL_STREAM", "1:2", 1);  // another stream: plain lines
    StderrMessageBoxes plainBoxes(out);
    plainBoxes.Show("Disk gone", "Error", MessageButtons::Ok);
    EXPECT_EQ(contents(), "[Error] Disk gone\n");

    ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
    StderrMessageBoxes boxes(out);
    MemoryStatusBar bar(out);
    boxes.Show("Disk gone", "Error", MessageButtons::Ok);
    boxes.Show("Restore?", "Message", MessageButtons::YesNo);
    bar.SetPanel(4, "Error code 201");
    bar.SetPanel(3, "Mail server refused the login");
    bar.SetPanel(3, "Send mail Success!");
    bar.SetPanel(1, "Detected OK");
    EXPECT_EQ(contents(), "[Error] Disk gone\n"
                          "<3>[Error] Disk gone\n"
                          "<5>[Message] Restore? (answered No)\n"
                          "<3>[panel 4] Error code 201\n"
                          "<4>[panel 3] Mail server refused the login\n"
                          "<6>[panel 3] Send mail Success!\n"
                          "<6>[panel 1] Detected OK\n");
    if (before) ::setenv("JOURNAL_STREAM", saved.c_str(), 1);
    else ::unsetenv("JOURNAL_STREAM");
    std::fclose(out);
}

TEST(ServiceConventions, SighupReloadsTheSettingsAndKeepsMonitoring) {
    testing::Program program;
    QTemporaryDir dir;
    const QString events = dir.path() + "/events", metrics = dir.path() + "/kestrel.prom";
    const QString recorder = dir.path() + "/record";
    {
        QFile script(recorder);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\necho \"$KESTREL_EVENT\" >> '" + events + "'\n").toUtf8());
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    auto store = [&program](const QByteArray& lines) {
        QFile ini(program.registry());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[KESTREL_RAID_GUI]\n" + lines);
    };
    store("Addr=raid@example.com\n");
    std::unique_ptr<QProcess> p(program.Start(program.WithFiles({"--headless", "--time-scale", "0.3"})));
    QString err;
    auto waitFor = [&](const std::function<bool()>& done) {
        QDeadlineTimer deadline(30000);
        while (!done() && !deadline.hasExpired()) {
            p->waitForReadyRead(100);
            err += QString::fromLocal8Bit(p->readAllStandardError());
        }
        return done();
    };
    auto said = [&](const char* text) { return waitFor([&] { return err.contains(text); }); };
    ASSERT_TRUE(said("Detected OK")) << err.toStdString();
    // The settings change under the running service: a sender address that
    // cannot be used, which loading the settings reports, an event program
    // and a metrics file, which the next event and the next poll use.
    store("Addr=not an address\nEventProgram=" + recorder.toUtf8() + "\nMetricsFile=" + metrics.toUtf8() + "\n");
    ::kill(static_cast<pid_t>(p->processId()), SIGHUP);
    EXPECT_TRUE(said("SIGHUP: reloading the settings")) << err.toStdString();
    EXPECT_TRUE(said("Addr is not usable as a sender")) << err.toStdString();
    EXPECT_TRUE(waitFor([&] { return QFileInfo(events).size() > 0; })) << err.toStdString();
    EXPECT_TRUE(waitFor([&] {
        QFile f(metrics);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("kestrel_last_poll_timestamp_seconds");
    })) << err.toStdString();
    // A metrics file no longer named is taken away.
    store("Addr=raid@example.com\nEventProgram=" + recorder.toUtf8() + "\n");
    ::kill(static_cast<pid_t>(p->processId()), SIGHUP);
    EXPECT_TRUE(said("Metrics file now: none")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(metrics));
    EXPECT_EQ(p->state(), QProcess::Running);
    p->terminate();
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);
}

}  // namespace
}  // namespace kestrel
