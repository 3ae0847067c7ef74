#pragma once
// Starts tests/support/smtp_server.py (aiosmtpd) under /usr/bin/python3 and
// reads the mails it received.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QElapsedTimer>

namespace kestrel::testing {

class SmtpTestServer {
public:
    explicit SmtpTestServer(const QStringList& options = {}) {
        process_.start("/usr/bin/python3",
                       QStringList{KESTREL_SOURCE_DIR "/tests/support/smtp_server.py", dir_.path()} + options);
        process_.waitForStarted(5000);
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (port_ == 0 && t.elapsed() < 10000 && process_.state() == QProcess::Running) {
            process_.waitForReadyRead(100);
            out += process_.readAllStandardOutput();
            for (const QByteArray& line : out.split('\n'))
                if (line.startsWith("PORT ") && line.size() > 5) port_ = line.mid(5).trimmed().toInt();
        }
        if (port_ == 0)
            qWarning("smtp test server did not start: %s %s", out.constData(),
                     process_.readAllStandardError().constData());
    }
    ~SmtpTestServer() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(2000);
    }
    int port() const { return port_; }
    QString dir() const { return dir_.path(); }

    int MailCount() const { return static_cast<int>(QDir(dir_.path()).entryList({"mail-*.json"}).size()); }
    bool WaitForMails(int count, int ms = 15000) const {
        QElapsedTimer t;
        t.start();
        while (MailCount() < count && t.elapsed() < ms) QThread::msleep(20);
        return MailCount() >= count;
    }
    // The n-th mail received, counting from 1.
    QJsonObject Mail(int n) const {
        QFile f(dir_.path() + QString("/mail-%1.json").arg(n));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
};

}  // namespace kestrel::testing
