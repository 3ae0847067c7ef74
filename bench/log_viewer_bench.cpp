// A 20 MB log file in the event log viewer: how long the window's event loop
// is held at most while the file loads (a heartbeat timer measures the
// largest gap between its turns), and the whole load. The window is shown on
// the offscreen platform, so layout and painting are included.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gui/tform5.h"
#include "platform/headless_ui.h"
#include "support/recording_ui.h"

using namespace kestrel;

namespace {

struct NoAlerts final : AlertSink {
    void ComposeAlert(int, int, int) override {}
};

// About a day's worth of progress and event lines, repeated to the size.
QByteArray DayFile(qsizetype size) {
    QByteArray bytes;
    bytes.reserve(size + 100);
    for (int i = 0; bytes.size() < size; ++i) {
        bytes += QByteArray::number(i % 24).rightJustified(2, '0') + ":" +
                 QByteArray::number(i % 60).rightJustified(2, '0') + ":07  D1 HDD2 rebuilding " +
                 QByteArray::number(i % 100) + "%\r\n";
        if (i % 50 == 0) bytes += QByteArray(83, '-') + "\r\n";
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath("110224.log");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(DayFile(20 * 1024 * 1024));
    file.close();

    DriveTable drives;
    NoAlerts alerts;
    MemoryStatusBar bar;
    EventLogConfig config;
    config.logDir = dir.path().toStdString();
    EventLog log(drives, alerts, bar, config);
    testing::RecordingMessageBoxes boxes;

    for (int run = 0; run < 3; ++run) {
        TForm5 form(LogViewerLinks{log, [] { return true; }, 1.0, boxes});
        form.show();
        QCoreApplication::processEvents();

        QElapsedTimer total;
        QElapsedTimer beat;
        qint64 longest = 0;
        std::vector<qint64> gaps;
        QTimer heartbeat;
        heartbeat.setInterval(0);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            gaps.push_back(beat.restart());
            longest = std::max(longest, gaps.back());
        });
        total.start();
        beat.start();
        heartbeat.start();
        form.ViewLogFile(path);  // the first step runs in the click itself
        while (form.LoadingFile()) QCoreApplication::processEvents();
        QCoreApplication::processEvents();  // the last paint
        heartbeat.stop();
        longest = std::max(longest, beat.elapsed());
        if (std::getenv("KESTREL_BENCH_GAPS"))
            for (size_t i = 0; i < gaps.size(); ++i) std::printf("%zu:%lld ", i, static_cast<long long>(gaps[i]));
        std::sort(gaps.begin(), gaps.end());
        const qint64 median = gaps.empty() ? 0 : gaps[gaps.size() / 2];
        std::printf("20 MB log file, %d lines: whole load %lld ms in %zu turns of the event loop; "
                    "a turn took %lld ms (median), at most %lld ms\n",
                    form.Memo1->blockCount() - 1, static_cast<long long>(total.elapsed()), gaps.size(),
                    static_cast<long long>(median), static_cast<long long>(longest));
    }
    return 0;
}
