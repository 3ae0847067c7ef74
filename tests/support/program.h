#pragma once
// Runs the built program as a separate process, the way a user or a service
// manager does, with its own runtime directory so that runs do not see each
// other's single-instance lock.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace kestrel::testing {

class Program {
public:
    explicit Program(const char* executable = KESTREL_RAID_EXE) : executable_(executable) {
        runtime_.setAutoRemove(true);
        QFile::setPermissions(runtime_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("XDG_RUNTIME_DIR", runtime_.path());
        // The machine-wide lock folder, if this machine has one, stays out of tests.
        env_.insert("KESTREL_RUN_DIR", runtime_.path());
        // The run's own state folder (alert mails waiting, kept log lines):
        // one run never sends another's mail.
        env_.insert("XDG_STATE_HOME", files_.path() + "/state");
        env_.remove("STATE_DIRECTORY");
        env_.remove("DISPLAY");
        env_.remove("WAYLAND_DISPLAY");
        env_.insert("QT_QPA_PLATFORM", "offscreen");
    }
    QProcessEnvironment& env() { return env_; }
    // The run's own files: the daily logs and the settings.
    QString logDir() const { return files_.path(); }
    QString registry() const { return files_.path() + "/registry.ini"; }
    QString stateDir() const { return files_.path() + "/state/kestrel"; }
    // args plus the options that keep the run's files in its own folder;
    // without --simulate in args the demo scenario is used, so that tests
    // never send requests to the machine's real disks.
    QStringList WithFiles(QStringList args) const {
        if (!args.contains("--simulate")) args << "--simulate";
        return args << "--log-dir" << logDir() << "--registry" << registry();
    }
    QString runtimeDir() const { return runtime_.path(); }

    // Starts a process; the caller owns it.
    QProcess* Start(const QStringList& args) {
        auto* p = new QProcess;
        p->setProcessEnvironment(env_);
        p->start(executable_, args);
        p->waitForStarted(5000);
        return p;
    }

    struct Result {
        int exitCode = -1;
        bool finished = false;
        QString out;
        QString err;
    };
    Result RunToEnd(const QStringList& args, int timeoutMs = 10000) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(executable_, args);
        Result r;
        r.finished = p.waitForFinished(timeoutMs);
        if (!r.finished) {
            p.kill();
            p.waitForFinished();
        }
        r.exitCode = p.exitCode();
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

private:
    QString executable_;
    QTemporaryDir runtime_;
    QTemporaryDir files_;
    QProcessEnvironment env_;
};

}  // namespace kestrel::testing
