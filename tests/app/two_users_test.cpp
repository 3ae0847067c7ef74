// One monitor for the whole machine: a second start under another user is
// refused with a message naming the running service's log, and a user outside
// the lock folder's group cannot create the lock. Needs root to act as two
// users; skipped otherwise.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
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
        // As the package makes it: root-owned, group disk may write,
        // set-group-id and sticky.
        run_ = base_.path() + "/run";
        ::mkdir(run_.toLocal8Bit().constData(), 0700);
        ASSERT_EQ(::chown(run_.toLocal8Bit().constData(), 0, diskGid_), 0);
        ::chmod(run_.toLocal8Bit().constData(), 03775);
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
    // Runs the program (or another) as user nobody, in group disk or in no group.
    QProcess* AsNobody(bool inDiskGroup, const QStringList& args, const QString& program = KESTREL_RAID_EXE,
                       const QString& user = "nobody") {
        auto* p = new QProcess;
        p->setProcessEnvironment(Env());
        QStringList all{"--reuid=" + user, "--regid=nogroup"};
        all << (inDiskGroup ? QStringList{"--groups=" + QString::number(diskGid_)} : QStringList{"--clear-groups"});
        all << "--" << program << args;
        p->start("setpriv", all);
        return p;
    }
    // A shell command as nobody in group disk; its exit code.
    int ShellAsMember(const QString& command) {
        std::unique_ptr<QProcess> p(AsNobody(true, {"-c", command}, "/bin/sh"));
        return p->waitForFinished(10000) ? p->exitCode() : -1;
    }
    QString ServiceState() const { return run_ + "/status-0.json"; }
    // The state of a monitor of user nobody: one state file per user.
    QString NobodysState() const { return run_ + "/status-" + QString::number(::getpwnam("nobody")->pw_uid) + ".json"; }
    bool WaitForState(const QString& path = {}) const {
        const QString file = path.isEmpty() ? ServiceState() : path;
        // Past its start: the state of a poll, not the word that it starts.
        auto polled = [&file] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("\"state\": \"ready\"");
        };
        QDeadlineTimer deadline(30000);
        while (!polled() && !deadline.hasExpired()) QThread::msleep(20);
        return polled();
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
    ASSERT_TRUE(WaitForState());

    // A monitor that cannot monitor fails, so that a service manager tries again.
    std::unique_ptr<QProcess> user(AsNobody(true, Monitor("user")));
    ASSERT_TRUE(user->waitForFinished(10000));
    EXPECT_EQ(user->exitCode(), 1);
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
    EXPECT_TRUE(WaitForState(NobodysState()));
    EXPECT_TRUE(QFile::exists(run_ + "/KESTREL_GUI.lock"));
    member->terminate();
    ASSERT_TRUE(member->waitForFinished(10000));
    EXPECT_EQ(member->exitCode(), 0);
}

// Another member of group disk plants a lock naming a live process of hers,
// then tries to remove the service's lock, to put her own state in place of
// the service's and to start a second monitor: none of it works.
TEST_F(TwoUsers, APlantedLockOrStateOfAnotherMemberChangesNothing) {
    std::unique_ptr<QProcess> planter(AsNobody(true, {"-c", "echo \"$$ monitor\" > " + run_ + "/KESTREL_GUI.lock; exec sleep 60"}, "/bin/sh"));
    QDeadlineTimer planted(10000);
    while (!QFile::exists(run_ + "/KESTREL_GUI.lock") && !planted.hasExpired()) QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(run_ + "/KESTREL_GUI.lock"));

    // A third member does not use a lock file its owner could remove.
    if (::getpwnam("daemon")) {
        std::unique_ptr<QProcess> third(AsNobody(true, Monitor("third"), KESTREL_RAID_EXE, "daemon"));
        ASSERT_TRUE(third->waitForFinished(10000));
        EXPECT_EQ(third->exitCode(), 1);
        const QString err = QString::fromLocal8Bit(third->readAllStandardError());
        EXPECT_TRUE(err.contains("it belongs to user " + QString::number(::getpwnam("nobody")->pw_uid))) << err.toStdString();
    }

    // Root's service puts its own in its place, which no member may remove.
    QProcess service;
    service.setProcessEnvironment(Env());
    service.start(KESTREL_RAID_EXE, Monitor("service"));
    ASSERT_TRUE(service.waitForStarted(5000));
    ASSERT_TRUE(WaitForState()) << service.readAllStandardError().toStdString();
    EXPECT_EQ(service.state(), QProcess::Running);
    EXPECT_FALSE(service.readAllStandardError().contains("already runs"));

    EXPECT_NE(ShellAsMember("rm -f " + run_ + "/KESTREL_GUI.lock"), 0);
    EXPECT_TRUE(QFile::exists(run_ + "/KESTREL_GUI.lock"));
    const QString forged = run_ + "/forged.json";
    EXPECT_EQ(ShellAsMember("cp " + ServiceState() + " " + forged), 0);
    EXPECT_NE(ShellAsMember("mv -f " + forged + " " + ServiceState()), 0);
    EXPECT_NE(ShellAsMember("rm -f " + ServiceState()), 0);

    std::unique_ptr<QProcess> second(AsNobody(true, Monitor("second")));
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 1);
    EXPECT_TRUE(second->readAllStandardError().contains("already runs as a service"));

    std::unique_ptr<QProcess> query(AsNobody(true, {"--status", "--json"}));
    ASSERT_TRUE(query->waitForFinished(10000));
    EXPECT_TRUE(query->readAllStandardOutput().contains(QString("\"monitorPid\": %1").arg(service.processId()).toUtf8()));

    planter->kill();
    planter->waitForFinished(5000);
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}

}  // namespace
}  // namespace kestrel
