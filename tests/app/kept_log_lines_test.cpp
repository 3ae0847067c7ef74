// A stop that cannot write the day log (its folder gone, the disk full)
// loses no line: they wait in the state folder, the stop says how many, and
// the next start writes them before its own.
#include <gtest/gtest.h>

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

const QString kSeparator(83, '-');

TEST(KeptLogLines, LinesTheStopCannotWriteWaitForTheNextStart) {
    Program program;
    QTemporaryDir state;
    program.env().insert("XDG_STATE_HOME", state.path());
    const QString logs = program.logDir() + "/logs";
    // A folder where the day's log file belongs: it cannot be written.
    const QString blocker = logs + "/" + QDate::currentDate().toString("yyMMdd") + ".log";
    ASSERT_TRUE(QDir().mkpath(blocker));
    const QStringList args = {"--headless", "--simulate", "--time-scale", "0.1", "--log-dir", logs,
                              "--registry", program.registry()};

    std::unique_ptr<QProcess> first(program.Start(args));
    QByteArray echoed;
    QDeadlineTimer deadline(30000);
    while (echoed.count(kSeparator.toUtf8()) < 2 && !deadline.hasExpired()) {
        first->waitForReadyRead(100);
        echoed += first->readAllStandardOutput();
    }
    ASSERT_GE(echoed.count(kSeparator.toUtf8()), 2) << echoed.toStdString();
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitCode(), 0);
    echoed += first->readAllStandardOutput();
    QStringList lines = QString::fromUtf8(echoed).split('\n');
    if (lines.last().isEmpty()) lines.removeLast();
    const QString err = QString::fromLocal8Bit(first->readAllStandardError());
    EXPECT_TRUE(err.contains(QString("%1 log lines could not be written to %2; they wait in ").arg(lines.size()).arg(logs)))
        << err.toStdString();
    const QString kept = state.path() + "/kestrel/unwritten-log-lines";
    EXPECT_TRUE(QFile::exists(kept));

    // The folder is back: the next start writes them, then its own lines.
    ASSERT_TRUE(QDir().rmdir(blocker));
    std::unique_ptr<QProcess> second(program.Start(args));
    QByteArray more;
    deadline.setRemainingTime(30000);
    while (more.count(kSeparator.toUtf8()) < 2 && !deadline.hasExpired()) {
        second->waitForReadyRead(100);
        more += second->readAllStandardOutput();
    }
    second->terminate();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardError().contains(
        QString("%1 log lines kept at the last stop are now written").arg(lines.size()).toUtf8()));
    EXPECT_FALSE(QFile::exists(kept));

    const QStringList files = QDir(logs).entryList({"*.log"});
    ASSERT_EQ(files.size(), 1);
    QFile day(logs + "/" + files.first());
    ASSERT_TRUE(day.open(QIODevice::ReadOnly));
    const QStringList written = QString::fromUtf8(day.readAll()).split("\r\n");
    ASSERT_GT(written.size(), lines.size());
    EXPECT_EQ(written.mid(0, lines.size()), lines);
    EXPECT_TRUE(written[lines.size()] == kSeparator || written[lines.size() + 1].contains("has started"));
}

}  // namespace
}  // namespace kestrel
