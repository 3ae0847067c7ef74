// Maintenance in the real window: picture buttons act on a whole press
// only, an operation's closing box neither holds the monitoring nor lets
// another operation start, and a key held from the viewer closes no later dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "app/device_io_choice.h"
#include "gui/tform1.h"
#include "app/window/main_window.h"
#include "gui/tform5.h"
#include "sim/controller.h"
#include "sim/scenario.h"
#include "support/serve_until.h"

namespace kestrel {
namespace {

void SendKey(QWidget* w, QEvent::Type type, bool autoRepeat = false) {
    QKeyEvent e(type, Qt::Key_Return, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(w, &e);
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint at = QPoint(5, 5)) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST(PictureButtonPress, ActsOnlyOnAPressAndAReleaseOnItself) {
    QWidget window;
    PictureButton button("B", &window);
    button.setGeometry(0, 0, 60, 30);
    int clicks = 0;
    QObject::connect(&button, &PictureButton::clicked, [&] { ++clicks; });
    button.SetKeyboardReachable();
    window.show();
    button.setFocus(Qt::TabFocusReason);
    const QPoint rest = button.pos();

    SendKey(&button, QEvent::KeyRelease);
    SendMouse(&button, QEvent::MouseButtonRelease);
    EXPECT_EQ(clicks, 0) << "a release alone (the key that closed a box) does nothing";
    EXPECT_EQ(button.pos(), rest);

    SendKey(&button, QEvent::KeyPress);
    SendKey(&button, QEvent::KeyPress, true);
    EXPECT_EQ(clicks, 0) << "a held key waits for its release";
    SendKey(&button, QEvent::KeyRelease);
    SendKey(&button, QEvent::KeyRelease);
    EXPECT_EQ(clicks, 1) << "one press, one click";

    // A press whose release another window took (a box opened meanwhile).
    SendKey(&button, QEvent::KeyPress);
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(&button, &away);
    SendKey(&button, QEvent::KeyRelease);
    EXPECT_EQ(clicks, 1);

    SendMouse(&button, QEvent::MouseButtonPress);
    SendMouse(&button, QEvent::MouseButtonRelease, QPoint(200, 200));
    EXPECT_EQ(clicks, 1) << "released elsewhere";
    SendMouse(&button, QEvent::MouseButtonPress);
    SendMouse(&button, QEvent::MouseButtonRelease);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(button.pos(), rest) << "every press look undone";
}

DeviceIoChoice StillDemo(const QTemporaryDir& dir) { return testing::StillDemo(dir.path()); }

struct Window {
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> form;
    std::vector<std::string> notes;

    Window() {
        Options o;
        o.simulate = true;
        o.logDir = dir.path().toStdString();
        o.registryFile = (dir.path() + "/registry.ini").toStdString();
        o.timeScale = 0.02;
        form = std::make_unique<MainWindow>(o, ProductVariant::Raid, StillDemo(dir));
        form->show();
        form->module().desktopAlerts().SetFallback([this](const DesktopNote& n) { notes.push_back(n.summary); });
    }
    MainModule& module() { return form->module(); }
    bool Started() {
        return QTest::qWaitFor([&] { return !module().shell().Model().firstStatusPending; }, 20000);
    }
    void LoadImage() {
        const QString image = dir.filePath("sample.bin");
        const std::vector<uint8_t> bytes = sim::MakeDefaultFlashImage();
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        f.close();
        ASSERT_TRUE(module().OpenDialog1CanClose(image.toStdString()));
    }
    size_t Erases() {
        const auto requests = module().simulatedPc()->Requests();
        return static_cast<size_t>(std::count_if(requests.begin(), requests.end(), [](const sim::RequestRecord& r) {
            return r.kind == sim::RequestKind::FlashErase;
        }));
    }
};

QMessageBox* OpenBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

TEST(MaintenanceWindow, AStrayKeyOnTheUpgradeButtonStartsNothing) {
    Window w;
    ASSERT_TRUE(w.Started());
    w.LoadImage();
    QTest::mouseClick(w.form->pageButtons[kPageUpgrade], Qt::LeftButton);
    PictureButton* upgrade = w.form->Image2_Upgrade;
    ASSERT_TRUE(upgrade->isEnabled());
    upgrade->setFocus(Qt::TabFocusReason);
    // The release of the Enter that closed the last upgrade's box.
    SendKey(upgrade, QEvent::KeyRelease);
    QTest::mouseRelease(upgrade, Qt::LeftButton);
    EXPECT_EQ(w.Erases(), 0u);
    EXPECT_FALSE(w.module().maintenance().Busy());
}

TEST(MaintenanceWindow, TheUpgradesClosingBoxHoldsNeitherTheMonitoringNorAnotherStart) {
    Window w;
    ASSERT_TRUE(w.Started());
    w.LoadImage();
    MainModule& module = w.module();
    const auto removed = [&] {
        const auto& lines = module.eventLog().Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.find("HDD2 was removed") != std::string::npos; });
    };
    bool pulled = false, seen = false;
    UpgradeOutcome second = UpgradeOutcome::Verified;
    QElapsedTimer bound;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QMessageBox* box = OpenBox();
        if (!box || !box->text().startsWith("Firmware Upgrade 3/3 completed!")) return;
        if (!pulled) {
            pulled = true;
            bound.start();
            EXPECT_FALSE(module.maintenance().Busy()) << "maintenance ended before the box";
            second = module.Image2_UpgradeClick();
            sim::Step pull;
            pull.action = sim::Action::PullDisk;
            pull.enclosure = "desk";
            pull.disk = 2;
            module.simulatedPc()->RunStep(pull);
            return;
        }
        const bool alerted = std::any_of(w.notes.begin(), w.notes.end(), [](const std::string& n) {
            return n.rfind("Device1 HDD2 was removed.", 0) == 0;
        });
        seen = removed() && alerted;
        if (seen || bound.elapsed() > 30000) box->accept();
    });
    answer.start(10);
    EXPECT_EQ(module.Image2_UpgradeClick(), UpgradeOutcome::Verified);
    EXPECT_TRUE(pulled);
    EXPECT_EQ(second, UpgradeOutcome::Ignored) << "no upgrade starts while the last one's box is open";
    EXPECT_TRUE(seen) << "the pulled disk was logged and alerted while the box waited";

    EXPECT_EQ(w.Erases(), 128u) << "one upgrade";
    ASSERT_FALSE(w.notes.empty());
    EXPECT_EQ(w.notes.front(), "Device1 firmware upgrade finished.") << "told before the box";
}

// Escape held down: its press closes the viewer and its repeats go on to
// whatever window is active next (X sends them unmarked, press after
// press). They close neither the file dialog Load opens nor Upgrade's box,
// so the mouse seems to do nothing; a new press still closes them.
TEST(MaintenanceWindow, AnEscapeHeldFromTheViewerClosesNoLaterDialog) {
    Window w;
    ASSERT_TRUE(w.Started());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.form->Image0_Log->isVisible(); }, 20000));
    bool viewerSeen = false;
    QTimer::singleShot(0, w.form.get(), [&] {
        auto* viewer = qobject_cast<TForm5*>(QApplication::activeModalWidget());
        viewerSeen = viewer != nullptr;
        if (viewer) QTest::keyPress(viewer, Qt::Key_Escape);
    });
    QTest::mouseClick(w.form->Image0_Log, Qt::LeftButton);
    ASSERT_TRUE(viewerSeen);
    EXPECT_TRUE(w.form->findChildren<TForm5*>().isEmpty());
    QTest::keyPress(w.form.get(), Qt::Key_Escape);
    QTest::mouseClick(w.form->pageButtons[kPageUpgrade], Qt::LeftButton);
    ASSERT_EQ(w.form->Notebook1->currentIndex(), kPageUpgrade);

    bool dialogKept = false;
    bool dialogClosedByNewPress = false;
    QString box;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!qobject_cast<QFileDialog*>(modal) && !qobject_cast<QMessageBox*>(modal)) return;
        QTest::keyPress(modal, Qt::Key_Escape, Qt::NoModifier);
        if (auto* b = qobject_cast<QMessageBox*>(modal)) {
            if (b->isVisible()) box = b->text();
            b->accept();
            return;
        }
        dialogKept = modal->isVisible();
        QTest::keyRelease(modal, Qt::Key_Escape);
        QTest::keyClick(modal, Qt::Key_Escape);
        dialogClosedByNewPress = !modal->isVisible();
        if (modal->isVisible()) static_cast<QFileDialog*>(modal)->reject();
    });
    answer.start(10);
    QTest::mouseClick(w.form->Image2_Load, Qt::LeftButton);
    EXPECT_TRUE(dialogKept) << "the held key's repeat left the file dialog open";
    EXPECT_TRUE(dialogClosedByNewPress);

    QTest::keyPress(w.form.get(), Qt::Key_Escape);
    QTest::mouseClick(w.form->Image2_Upgrade, Qt::LeftButton);
    EXPECT_EQ(box, "Please Load Firmware File First ") << "the held key's repeat left Upgrade's box open";
    QTest::keyRelease(w.form.get(), Qt::Key_Escape);
}

}  // namespace
}  // namespace kestrel
