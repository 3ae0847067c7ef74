// The main window on the offscreen platform: the controls reflect the model.
#include "app/window/main_window.h"

#include <gtest/gtest.h>

#include <QStatusBar>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QJsonDocument>
#include <QJsonObject>
#include <QIcon>
#include <QGuiApplication>
#include <QApplication>
#include <QLineEdit>
#include <QPalette>

#include <QMessageBox>
#include <QTimer>

#include "app/device_io_choice.h"
#include "gui/tform5.h"
#include "sim/scenario.h"
#include "support/sim_scenarios.h"
#include "wire/status_sector.h"
#include "support/serve_until.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

DeviceIoChoice Demo() { return ChooseDeviceIo(true, ""); }

// Files of the run go to a temporary folder; timers run fast.
Options TestOptions() {
    static QTemporaryDir dir;
    Options o;
    o.simulate = true;
    o.logDir = dir.path().toStdString();
    o.registryFile = (dir.path() + "/registry.ini").toStdString();
    o.timeScale = 0.01;
    return o;
}

TEST(MainWindow, RaidHidesSetupAndUpgradeTakesItsSlot) {
    MainWindow raid(TestOptions(), ProductVariant::Raid, Demo());
    MainWindow hybrid(TestOptions(), ProductVariant::Hybrid, Demo());
    EXPECT_FALSE(raid.pageButtons[kPageSetup]->isVisibleTo(&raid));
    EXPECT_EQ(raid.pageButtons[kPageUpgrade]->pos(), hybrid.pageButtons[kPageSetup]->pos());
    EXPECT_EQ(raid.pageButtons[kPageAbout]->pos(), hybrid.pageButtons[kPageEmail]->pos());
    for (PictureButton* b : hybrid.pageButtons) EXPECT_TRUE(b->isVisibleTo(&hybrid)) << b->objectName().toStdString();
    EXPECT_EQ(raid.windowTitle(), "RAID GUI V0.23.6");
    EXPECT_EQ(hybrid.windowTitle(), "HyBrid GUI V0.23.6");
    EXPECT_EQ(hybrid.Label63->text(), "Hybrid Management Sofeware");
    EXPECT_EQ(raid.Label65->text(), "V0.23.6");
}

TEST(MainWindow, OurIconScaledHintPauseAndACaptionQtLeavesAlone) {
    MainWindow form(TestOptions(), ProductVariant::Raid, Demo());
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(form.windowIcon().availableSizes().value(0), QSize(64, 64));
    EXPECT_EQ(form.CheckBox1->toolTipDuration(), 60) << "6000 ms at time scale 0.01";
    EXPECT_EQ(form.Image0_D2->toolTipDuration(), 60);
    // On X11 and Wayland Qt appends the application display name to every
    // window title; the caption must be the whole title.
    EXPECT_NE(QGuiApplication::applicationDisplayName(), "RAID GUI V0.23.6");
    form.CheckBox7->setEnabled(false);
    form.module().shell().Image0_D2Click();
    EXPECT_TRUE(form.CheckBox7->isEnabled()) << "a slot switch enables Auto Scan";
}

TEST(MainWindow, StartsDetectingWithPageButtonsDisabled) {
    MainWindow form(TestOptions(), ProductVariant::Raid, Demo());
    EXPECT_EQ(form.StaticText1->text(), "Drive detecting");
    for (PictureButton* b : form.pageButtons) EXPECT_FALSE(b->isEnabled());
    EXPECT_FALSE(form.Image2_Load->isEnabled());
    EXPECT_FALSE(form.Image2_Upgrade->isEnabled());
    EXPECT_FALSE(form.CheckBox1->isVisibleTo(&form));
    EXPECT_FALSE(form.CheckBox6->isVisibleTo(&form));
    EXPECT_FALSE(form.Image0_Log->isVisibleTo(&form));
    EXPECT_EQ(form.Notebook1->count(), 5);
    EXPECT_EQ(form.Notebook1->widget(1)->windowTitle(), "schedule_backup");
    EXPECT_EQ(form.Notebook1->currentIndex(), kPageStatus);
    // The current page's button shows the yellow picture, the others white.
    EXPECT_EQ(form.pageButtons[kPageStatus]->pixmap().cacheKey(), form.pageYellow[kPageStatus]->pixmap().cacheKey());
    EXPECT_EQ(form.pageButtons[kPageAbout]->pixmap().cacheKey(), form.pageWhite[kPageAbout]->pixmap().cacheKey());
}

TEST(MainWindow, PageButtonsSwitchTheNotebookOnceAllowed) {
    MainWindow form(TestOptions(), ProductVariant::Hybrid, Demo());
    form.show();
    ShellModel& m = form.module().shell().Model();
    m.pageButtonsEnabled = true;
    form.module().shell().Sync();
    QTest::mouseClick(form.pageButtons[kPageAbout], Qt::LeftButton);
    EXPECT_EQ(form.Notebook1->currentIndex(), kPageStatus) << "ignored before the first status page";
    m.firstStatusPending = false;
    QTest::mouseClick(form.pageButtons[kPageAbout], Qt::LeftButton);
    EXPECT_EQ(form.Notebook1->currentIndex(), kPageAbout);
    EXPECT_EQ(form.pageButtons[kPageAbout]->pixmap().cacheKey(), form.pageYellow[kPageAbout]->pixmap().cacheKey());
}

TEST(MainWindow, PictureButtonsMoveDownWhilePressed) {
    MainWindow form(TestOptions(), ProductVariant::Hybrid, Demo());
    form.show();
    const QPoint rest = form.Image1_Set->pos();
    QTest::mousePress(form.Image1_Set, Qt::LeftButton);
    EXPECT_EQ(form.Image1_Set->pos(), rest + QPoint(0, 2));
    QTest::mouseRelease(form.Image1_Set, Qt::LeftButton);
    EXPECT_EQ(form.Image1_Set->pos(), rest);
}

TEST(MainWindow, DeviceCheckBoxClickRunsTheSlotLogic) {
    MainWindow form(TestOptions(), ProductVariant::Raid, Demo());
    form.show();
    ShellModel& m = form.module().shell().Model();
    m.deviceBoxVisible = {true, true};
    m.deviceChecked = {true, true};
    m.slotPicturesVisible = {true, true};
    form.module().shell().Sync();
    QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
    EXPECT_FALSE(m.deviceChecked[0]);
    EXPECT_FALSE(form.Image0_D1->isVisible());
    EXPECT_EQ(m.statusPageDevice, 1);
    EXPECT_EQ(form.Image0_D2->pixmap().cacheKey(), form.Image0_D2_Yellow->pixmap().cacheKey());
}

TEST(MainWindow, StatusBarHasFivePanels) {
    MainWindow form(TestOptions(), ProductVariant::Raid, Demo());
    const auto panels = form.StatusBar1->findChildren<QLabel*>();
    ASSERT_EQ(panels.size(), 5);
    EXPECT_EQ(panels[0]->minimumWidth(), 100);
    EXPECT_EQ(panels[4]->minimumWidth(), 250);
    form.module().statusBar().SetPanel(4, "Error code 330");
    EXPECT_EQ(panels[4]->text(), "Error code 330");
}

// The demo's PC and enclosures without its timeline, so that what the
// first drawing shows does not depend on how fast the machine reaches it.
DeviceIoChoice DemoWithoutTimeline() {
    static QTemporaryDir dir;
    return testing::StillDemo(dir.path());
}

TEST(MainWindow, DemoEnclosuresAppearInTheCaptionAndTheDeviceBoxes) {
    MainWindow form(TestOptions(), ProductVariant::Raid, DemoWithoutTimeline());
    form.show();
    QElapsedTimer t;
    t.start();
    while (form.Label18->text().isEmpty() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(form.windowTitle(), "RAID GUI V0.23.6 - KESTREL DUAL RAID [E]");
    EXPECT_TRUE(form.CheckBox1->isVisible());
    EXPECT_TRUE(form.CheckBox3->isChecked());
    EXPECT_EQ(form.CheckBox3->toolTip(), "KESTREL USB RAID [F]");
    EXPECT_EQ(form.Label18->text(), "Normal");
    EXPECT_EQ(form.Label17->text(), "Mirroring(RAID1)");
    EXPECT_EQ(form.Label48->text(), "100126.1.R1A");
    EXPECT_TRUE(form.pageButtons[kPageAbout]->isEnabled());
    EXPECT_FALSE(form.StaticText1->isVisible());
    QTest::mouseClick(form.Image0_D2, Qt::LeftButton);
    EXPECT_EQ(form.Label17->text(), "Striping(RAID0)");
    EXPECT_EQ(form.windowTitle(), "RAID GUI V0.23.6 - KESTREL USB RAID [F]");
}

// The message boxes open on the screen.
std::vector<QMessageBox*> OpenBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes.push_back(box);
    return boxes;
}

TEST(MainWindow, AStatusPageBoxNobodyAnswersNeverStopsTheMonitoring) {
    // D1's HDD2 failed (a box on every redraw of it); later D2 loses a disk.
    auto pc = std::make_unique<sim::SimulatedPc>(testing::ScenarioFrom(R"({
      "enclosures": [
        {"name": "desk", "paths": ["mailbox", "ata"], "identity": {"model": "DESK BOX"},
         "status": {"diskState": "0x82", "disk2Serial": "S2"}},
        {"name": "travel", "paths": ["bridge"], "identity": {"model": "TRAVEL BOX"}, "status": {"diskState": "0x22"}}
      ],
      "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}, {"number": 2, "enclosure": "travel"}],
      "timeline": [{"at": 30000, "enclosure": "travel", "action": "pull-disk", "disk": 2}]
    })"));
    DeviceIoChoice choice;
    choice.simulated = pc.get();
    choice.io = std::move(pc);
    MainWindow form(TestOptions(), ProductVariant::Raid, std::move(choice));
    form.show();
    ASSERT_TRUE(ServeUntil([] { return !OpenBoxes().empty(); }));
    QMessageBox* box = OpenBoxes().front();
    EXPECT_EQ(box->text().toStdString().rfind("Unmatched SSD is inserted.\nThe Matched SSD's Serial# is S2", 0), 0u);
    EXPECT_EQ(box->windowTitle(), "Message");
    // Nobody answers; the travel enclosure's pulled disk is still seen.
    const DriveTable& drives = form.module().drives();
    ASSERT_TRUE(ServeUntil([&] { return drives.CurrentStatus[2][status::kDiskState] == 0x42; }));
    // D1 redrawn by hand twice more: the same box is not stacked.
    QTest::mouseClick(form.Image0_D2, Qt::LeftButton);
    QTest::mouseClick(form.Image0_D1, Qt::LeftButton);
    QTest::mouseClick(form.Image0_D2, Qt::LeftButton);
    QTest::mouseClick(form.Image0_D1, Qt::LeftButton);
    EXPECT_EQ(OpenBoxes().size(), 1u);
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(OpenBoxes().empty());
    QTest::mouseClick(form.Image0_D2, Qt::LeftButton);
    QTest::mouseClick(form.Image0_D1, Qt::LeftButton);
    EXPECT_EQ(OpenBoxes().size(), 1u) << "answered, so the next redraw shows it again";
}

TEST(MainWindow, LogButtonOpensOneViewerAtATime) {
    MainWindow form(TestOptions(), ProductVariant::Raid, Demo());
    form.show();
    qsizetype opened = 0;
    qsizetype duringSecondClick = 0;
    QString caption;
    QTimer::singleShot(0, &form, [&] {
        const auto viewers = form.findChildren<TForm5*>();
        opened = viewers.size();
        if (!viewers.isEmpty()) caption = viewers.front()->windowTitle();
        // Closes whatever is open once the second click has been handled.
        QTimer::singleShot(0, &form, [&] {
            duringSecondClick = form.findChildren<TForm5*>().size();
            for (TForm5* viewer : form.findChildren<TForm5*>()) viewer->reject();
        });
        form.Image0_LogClick();
    });
    Q_EMIT form.Image0_Log->clicked();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(duringSecondClick, 1);
    EXPECT_EQ(caption, "Event log - Real Time( Paused )") << "monitoring has not started yet";
    EXPECT_TRUE(form.findChildren<TForm5*>().isEmpty()) << "destroyed when closed";

    // The guard is clear again: the next click opens a fresh viewer.
    opened = 0;
    QTimer::singleShot(0, &form, [&] {
        opened = form.findChildren<TForm5*>().size();
        for (TForm5* viewer : form.findChildren<TForm5*>()) viewer->reject();
    });
    form.Image0_LogClick();
    EXPECT_EQ(opened, 1);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(MainWindow, TextsOnTheSkinKeepTheSkinsColoursUnderADarkTheme) {
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Base, QColor("#202020"));
    QApplication::setPalette(dark);
    {
        MainWindow form(TestOptions(), ProductVariant::Raid, Demo());
        for (QWidget* w : std::initializer_list<QWidget*>{form.CheckBox8, form.CheckBox_RequireTls,
                                                          form.CheckBox_KeepInTray})
            EXPECT_EQ(w->palette().color(QPalette::WindowText), QColor("#1d2b3a")) << w->objectName().toStdString();
        EXPECT_EQ(form.Edit2->palette().color(QPalette::Base), QColor("#ffffff"));
        EXPECT_EQ(form.Edit2->palette().color(QPalette::Text), QColor("#1d2b3a"));
    }
    QApplication::setPalette(before);
}

}  // namespace
}  // namespace kestrel
