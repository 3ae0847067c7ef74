// One monitor for the whole machine: a second start under another user is
// refused with a message naming the running service's log, and a user outside
// the lock folder's group cannot create the lock. Needs root to act as two
// users; skipped otherwise.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

namespace kestrel {
namespace {

class TwoUsers : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as two users";
        const group* disk = ::getgrnam("disk");
        if (!disk || QProcess::execute("setpriv", {"--version"}) != 0) GTEST_SKIP() << "needs group disk and setpriv";
        diskGid_ = disk->gr_gid;
        ::chmod(base_.path().toLocal8Bit().constData(), 0755);
        // As the package makes it: root-owned, group disk may write, set-group-id.
        run_ = base_.path() + "/run";
        ::mkdir(run_.toLocal8Bit().constData(), 0700);
        ASSERT_EQ(::chown(run_.toLocal8Bit().constData(), 0, diskGid_), 0);
        ::chmod(run_.toLocal8Bit().constData(), 02775);
        logs_ = base_.path() + "/logs";
        ::mkdir(logs_.toLocal8Bit().constData(), 0777);
        ::chmod(logs_.toLocal8Bit().constData(), 0777);
    }

    QProcessEnvironment Env() const {
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", logs_);
        env.insert("KESTREL_RUN_DIR", run_);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    // Runs the program as user nobody, in group disk or in no group.
    QProcess* AsNobody(bool inDiskGroup, const QStringList& args) {
        auto* p = new QProcess;
        p->setProcessEnvironment(Env());
        QStringList all{"--reuid=nobody", "--regid=nogroup"};
        all << (inDiskGroup ? QStringList{"--groups=" + QString::number(diskGid_)} : QStringList{"--clear-groups"});
        all << "--" << KESTREL_RAID_EXE << args;
        p->start("setpriv", all);
        return p;
    }
    QStringList Monitor(const QString& who) const {
        return {"--headless", "--simulate", "--log-dir", logs_ + "/" + who, "--registry", logs_ + "/" + who + ".ini"};
    }

    QTemporaryDir base_;
    QString run_, logs_;
    gid_t diskGid_ = 0;
};

TEST_F(TwoUsers, SecondInstanceOfAnotherUserIsRefusedWithTheServicesLog) {
    QProcess service;
    service.setProcessEnvironment(Env());
    service.start(KESTREL_RAID_EXE, Monitor("service"));
    ASSERT_TRUE(service.waitForStarted(5000));
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(run_ + "/status.json") && !deadline.hasExpired()) QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(run_ + "/status.json"));

    std::unique_ptr<QProcess> user(AsNobody(true, Monitor("user")));
    ASSERT_TRUE(user->waitForFinished(10000));
    EXPECT_EQ(user->exitCode(), 0);
    const QString err = QString::fromLocal8Bit(user->readAllStandardError());
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("already runs as a service")) << err.toStdString();
    EXPECT_TRUE(err.contains(logs_ + "/service")) << err.toStdString();
    EXPECT_EQ(service.state(), QProcess::Running);

    // The other user's status query reads the service's state.
    std::unique_ptr<QProcess> query(AsNobody(true, {"--status", "--json"}));
    ASSERT_TRUE(query->waitForFinished(10000));
    EXPECT_TRUE(query->readAllStandardOutput().contains("\"source\": \"monitor\""));

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}

TEST_F(TwoUsers, UserOutsideTheGroupCannotCreateTheLock) {
    std::unique_ptr<QProcess> outsider(AsNobody(false, Monitor("outsider")));
    ASSERT_TRUE(outsider->waitForFinished(10000));
    EXPECT_EQ(outsider->exitCode(), 1);
    const QString err = QString::fromLocal8Bit(outsider->readAllStandardError());
    EXPECT_TRUE(err.contains("cannot create the lock")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(run_ + "/KESTREL_GUI.lock"));

    // In the group, the same user runs the monitor.
    std::unique_ptr<QProcess> member(AsNobody(true, Monitor("member")));
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(run_ + "/status.json") && !deadline.hasExpired()) QThread::msleep(20);
    EXPECT_TRUE(QFile::exists(run_ + "/KESTREL_GUI.lock"));
    member->terminate();
    ASSERT_TRUE(member->waitForFinished(10000));
    EXPECT_EQ(member->exitCode(), 0);
}

}  // namespace
}  // namespace kestrel
