#include "eventlog/log_file.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <sys/stat.h>

#include "eventlog/log_fixture.h"

namespace kestrel {
namespace {

using testing::Crlf;
using testing::LogFixture;
using testing::ReadBytes;
using testing::Record;

constexpr char kWriterDirVariable[] = "KESTREL_EVENTLOG_WRITER_DIR";

// The body of the writer process that the test below starts and kills; as
// part of the normal suite it does nothing.
TEST(EventLogWriterProcess, WritesTheDayFileUntilKilled) {
    const QByteArray dir = qgetenv(kWriterDirVariable);
    if (dir.isEmpty()) GTEST_SKIP() << "runs only as the child of the kill test";
    LogFixture f(QString::fromLocal8Bit(dir));
    f.firstStatusPending = false;
    QElapsedTimer alive;
    alive.start();
    // Every pass logs a new percent and nothing else (a DiskState of 0 names
    // no disk), so every pass replaces the file. The time limit ends an
    // orphan whose parent died.
    for (unsigned k = 0; alive.elapsed() < 60000; ++k) {
        f.Status(0) = Record().activity(0x01).progress(static_cast<uint8_t>(k % 99));
        f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    }
}

TEST(EventLogFile, AReplacementRemovesOnlyOurOwnLeftovers) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/261208.log").toStdString();
    auto put = [&](const std::string& suffix) { testing::WriteBytes(QString::fromStdString(path + suffix), "x"); };
    put(std::string(kLogTempMarker) + "a1B2c3");  // ours, left by a killed write
    put(".backup");                               // the user's, six characters too
    put(".a1B2c3");
    put(std::string(kLogTempMarker) + "a1B2c3d");  // not our pattern
    ASSERT_TRUE(QDir(dir.path()).mkdir(QString::fromStdString("261208.log" + std::string(kLogTempMarker) + "dirdir")));
    ASSERT_EQ(WriteLogFile(path, {"one", "two"}), LogWriteStatus::Written);
    EXPECT_EQ(ReadBytes(QString::fromStdString(path)), "one\r\ntwo\r\n");
    const QString marker = QString::fromLatin1(kLogTempMarker);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              (QStringList{"261208.log", "261208.log.a1B2c3", "261208.log.backup",
                           "261208.log" + marker + "a1B2c3d", "261208.log" + marker + "dirdir"}));
}

TEST(EventLogFile, NeverReadsOrReplacesThroughALinkOrAFifo) {
    QTemporaryDir dir;
    const QString victim = dir.filePath("victim");
    testing::WriteBytes(victim, "precious\r\n");
    const std::string link = (dir.path() + "/261208.log").toStdString();
    ASSERT_TRUE(QFile::link(victim, QString::fromStdString(link)));
    EXPECT_EQ(InspectLogFile(link), LogFileKind::NotRegular);
    EXPECT_EQ(ReadLogFile(link).status, LogFileContent::Status::NotRegular);
    EXPECT_EQ(WriteLogFile(link, {"evil"}), LogWriteStatus::NotRegular);
    EXPECT_EQ(ReadBytes(victim), "precious\r\n");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).isSymLink());

    const std::string fifo = (dir.path() + "/261209.log").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadLogFile(fifo).status, LogFileContent::Status::NotRegular) << "and did not block";
    EXPECT_EQ(WriteLogFile(fifo, {"x"}), LogWriteStatus::NotRegular);
    EXPECT_EQ(InspectLogFile((dir.path() + "/261210.log").toStdString()), LogFileKind::Missing);
}

TEST(EventLogFile, KilledWhileWritingAlwaysLeavesACompleteFile) {
    QTemporaryDir dir;
    const LogFixture clockOnly(dir.path());
    const QString path = clockOnly.FilePath();
    const std::string suffix = "%, " + clockOnly.Ts();

    // A large earlier content makes each replacement take long enough to be
    // interrupted often.
    std::vector<std::string> seed;
    for (int i = 0; i < 20000; ++i) seed.push_back("earlier line " + std::to_string(i) + " " + std::string(80, 'x'));
    testing::WriteBytes(path, Crlf(seed));

    qint64 lastSize = QFileInfo(path).size();
    size_t lastLines = seed.size();
    for (int round = 0; round < 12; ++round) {
        QProcess writer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kWriterDirVariable, dir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        writer.setProcessEnvironment(env);
        writer.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=EventLogWriterProcess.*"});
        ASSERT_TRUE(writer.waitForStarted(10000));
        QElapsedTimer waited;
        waited.start();
        while (QFileInfo(path).size() <= lastSize && waited.elapsed() < 30000) QThread::msleep(1);
        ASSERT_GT(QFileInfo(path).size(), lastSize) << "the writer never wrote";
        QThread::msleep(QRandomGenerator::global()->bounded(40));
        writer.kill();  // SIGKILL
        writer.waitForFinished(10000);

        const std::string bytes = ReadBytes(path);
        ASSERT_GE(bytes.size(), 2u);
        ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "round " << round;
        const std::vector<std::string> lines = SplitLogLines(bytes.data(), bytes.size());
        ASSERT_GE(lines.size(), lastLines) << "round " << round;
        ASSERT_TRUE(std::equal(seed.begin(), seed.end(), lines.begin())) << "round " << round;
        for (size_t i = seed.size(); i < lines.size(); ++i) {
            const std::string& l = lines[i];
            ASSERT_TRUE(l.rfind("D1 HDD2 --> HDD1 ", 0) == 0 && l.size() > suffix.size() &&
                        l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0)
                << "round " << round << " line " << i << ": " << l;
        }
        lastSize = static_cast<qint64>(bytes.size());
        lastLines = lines.size();
    }
    // A kill between linking the temporary file and renaming it can leave
    // the temporary file; the next replacement removes it.
    const std::vector<std::string> last = SplitLogLines(ReadBytes(path).data(), ReadBytes(path).size());
    ASSERT_EQ(WriteLogFile(path.toStdString(), last), LogWriteStatus::Written);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{QFileInfo(path).fileName()})
        << "no temporary file stays behind";
}

}  // namespace
}  // namespace kestrel
