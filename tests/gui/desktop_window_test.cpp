// The window's desktop side on the offscreen platform: the keyboard walk,
// the tray's summary and menu, the health line, and keeping the monitor in
// the tray.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QCloseEvent>
#include <QSpontaneKeyEvent>
#include <set>

#include "app/device_io_choice.h"
#include "app/window/main_window.h"
#include "platform/registry_key.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "support/serve_until.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

struct Files {
    QTemporaryDir dir;
    Options options() const {
        Options o;
        o.simulate = true;
        o.logDir = dir.path().toStdString();
        o.registryFile = (dir.path() + "/registry.ini").toStdString();
        o.timeScale = 0.01;
        return o;
    }
};

// The demo's PC and enclosures without its timeline; desk's status fields
// changed as given.
DeviceIoChoice StillDemo(const Files& files, const QJsonObject& deskStatus = {}) {
    return testing::StillDemo(files.dir.path(), [&](QJsonObject& demo) {
        QJsonArray enclosures = demo["enclosures"].toArray();
        QJsonObject desk = enclosures[0].toObject();
        QJsonObject status = desk["status"].toObject();
        for (auto it = deskStatus.begin(); it != deskStatus.end(); ++it) status[it.key()] = it.value();
        desk["status"] = status;
        enclosures[0] = desk;
        demo["enclosures"] = enclosures;
    });
}

void ShowAndWaitForStatus(MainWindow& form) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    ASSERT_TRUE(ServeUntil([&] { return !form.Label18->text().isEmpty() && !form.module().shell().Model().firstStatusPending; }));
}

// Presses Tab until focus is on target; false when a whole round misses it.
bool TabTo(QWidget* target, std::set<QWidget*>* reached = nullptr) {
    std::set<QWidget*> seen;
    for (int i = 0; i < 200; ++i) {
        QWidget* now = QApplication::focusWidget();
        if (now == target) return true;
        if (now && reached) reached->insert(now);
        if (now && !seen.insert(now).second && seen.size() > 1 && target == nullptr) return false;
        QTest::keyClick(now ? now : QApplication::activeWindow(), Qt::Key_Tab);
    }
    return QApplication::focusWidget() == target;
}

// Every stop of one Tab round, from where the focus is.
std::set<QWidget*> TabRound() {
    QWidget* start = QApplication::focusWidget();
    std::set<QWidget*> reached{start};
    for (int i = 0; i < 200; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        if (now == start) break;
        reached.insert(now);
    }
    return reached;
}

// Tab reaches every page button and every picture button on the page it
// opens, Space and Enter press them, and the one with the keyboard is marked.
void WalkEveryPage(MainWindow& form, const std::vector<int>& pages) {
    for (int round = 0; round < 2; ++round) {
        for (int page : pages) {
            PictureButton* button = form.pageButtons[static_cast<size_t>(page)];
            ASSERT_TRUE(TabTo(button)) << button->objectName().toStdString();
            QTest::keyClick(button, round == 0 ? Qt::Key_Space : Qt::Key_Return);
            EXPECT_EQ(form.Notebook1->currentIndex(), page) << button->objectName().toStdString();
            // The focus mark: the button looks different while it has the keyboard.
            const QImage focused = button->grab().toImage();
            button->clearFocus();
            EXPECT_NE(focused, button->grab().toImage()) << "no focus mark on " << button->objectName().toStdString();
            button->setFocus();
            // Every picture that acts on a click and is shown now is a Tab stop.
            const std::set<QWidget*> stops = TabRound();
            for (PictureButton* b : form.findChildren<PictureButton*>()) {
                if (!b->HasClickHandler() || !b->isVisible() || !b->isEnabled()) continue;
                EXPECT_TRUE(stops.count(b)) << b->objectName().toStdString() << " on page " << page;
            }
        }
    }
}

TEST(DesktopWindow, AKeyboardOnlyWalkReachesAndPressesEveryPageAndItsButtons) {
    Files files;
    {
        MainWindow hybrid(files.options(), ProductVariant::Hybrid, StillDemo(files));
        ShowAndWaitForStatus(hybrid);
        hybrid.pageButtons[kPageStatus]->setFocus();
        WalkEveryPage(hybrid, {kPageStatus, kPageSetup, kPageUpgrade, kPageEmail, kPageAbout});
        hybrid.Quit();
    }
    MainWindow form(files.options(), ProductVariant::Raid, StillDemo(files));
    ShowAndWaitForStatus(form);
    form.pageButtons[kPageStatus]->setFocus();
    WalkEveryPage(form, {kPageStatus, kPageUpgrade, kPageEmail, kPageAbout});
    // The E-mail page's sub-pages, each with its editors and buttons: Tab
    // never stays in a text box.
    TabTo(form.pageButtons[kPageEmail]);
    QTest::keyClick(form.pageButtons[kPageEmail], Qt::Key_Space);
    for (PictureButton* tab : {form.Image3_HDDFail, form.Image3_DeviceRemove, form.Image3_Setup}) {
        ASSERT_TRUE(TabTo(tab)) << tab->objectName().toStdString();
        QTest::keyClick(tab, Qt::Key_Space);
        const std::set<QWidget*> stops = TabRound();
        EXPECT_EQ(QApplication::focusWidget(), tab) << "one Tab round comes back";
        for (PictureButton* b : form.findChildren<PictureButton*>()) {
            if (!b->HasClickHandler() || !b->isVisible() || !b->isEnabled()) continue;
            EXPECT_TRUE(stops.count(b)) << b->objectName().toStdString() << " with " << tab->objectName().toStdString();
        }
    }
    EXPECT_EQ(form.module().emailPage().State().subPage, 0);
    // D2 on the Status page by keyboard, as a click does.
    TabTo(form.pageButtons[kPageStatus]);
    QTest::keyClick(form.pageButtons[kPageStatus], Qt::Key_Space);
    ASSERT_TRUE(TabTo(form.Image0_D2));
    QTest::keyClick(form.Image0_D2, Qt::Key_Return);
    EXPECT_EQ(form.module().shell().Model().statusPageDevice, 1);
    EXPECT_EQ(form.Label17->text(), "Striping(RAID0)");
    // The device boxes are ordinary check boxes: Space toggles them.
    ASSERT_TRUE(TabTo(form.CheckBox3));
    QTest::keyClick(form.CheckBox3, Qt::Key_Space);
    EXPECT_FALSE(form.module().shell().Model().deviceChecked[1]);
    EXPECT_TRUE(form.tray().icon().toolTip().contains("Device2: Not monitored")) << form.tray().icon().toolTip().toStdString();
    form.Quit();
}

TEST(DesktopWindow, TrayAndStatusPageTellAFanFailureAndThatMailIsNotSetUp) {
    Files files;
    MainWindow form(files.options(), ProductVariant::Raid, StillDemo(files, {{"envFlags", "0xA1"}}));
    // The disks show no light before the enclosures are detected.
    EXPECT_EQ(form.Image4->pixmap().cacheKey(), form.Image4_Idle->pixmap().cacheKey());
    ShowAndWaitForStatus(form);
    EXPECT_EQ(form.Image4->pixmap().cacheKey(), form.Image4_Lit->pixmap().cacheKey());
    EXPECT_EQ(form.Label18->text(), "Normal");
    EXPECT_EQ(form.LabelHealth->text(), "Fan failure");
    ASSERT_TRUE(ServeUntil([&] { return form.tray().icon().toolTip().contains("Device2: Normal"); }));
    const QString tip = form.tray().icon().toolTip();
    EXPECT_TRUE(tip.startsWith("RAID GUI V0.23.6")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Device1: Fan failure")) << tip.toStdString();
    EXPECT_TRUE(tip.endsWith("Mail not set up: alerts go to the desktop only")) << tip.toStdString();
    EXPECT_EQ(form.tray().icon().icon().pixmap(64).toImage(), form.tray().Picture(HealthLevel::Alarm).pixmap(64).toImage());
    QStringList entries;
    for (QAction* a : form.tray().menu().actions())
        if (!a->isSeparator()) entries << a->text();
    EXPECT_EQ(entries, (QStringList{"Show", "Device1: Fan failure", "Device2: Normal", "Quit"}));
    EXPECT_TRUE(form.EmailMark->isVisible());

    // The alarm ends: the line goes, the tray turns normal.
    sim::Step quiet;
    quiet.action = sim::Action::FanAlarm;
    quiet.enclosure = "desk";
    quiet.on = false;
    form.module().simulatedPc()->RunStep(quiet);
    ASSERT_TRUE(ServeUntil([&] { return form.LabelHealth->text().isEmpty(); }));
    ASSERT_TRUE(ServeUntil([&] { return form.tray().icon().toolTip().contains("Device1: Normal"); }));
    EXPECT_EQ(form.tray().icon().icon().pixmap(64).toImage(), form.tray().Picture(HealthLevel::Normal).pixmap(64).toImage());
    form.Quit();
}

// The close button, as the window system delivers it: a spontaneous event.
void UserCloses(MainWindow& form) {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    // notify, not sendEvent, which would clear the flag.
    QApplication::instance()->notify(&form, &close);
}

TEST(DesktopWindow, ClosingKeepsTheMonitorInTheTrayOnlyWhenChosenAndATrayIsThere) {
    Files files;
    {
        // Off by default: closing closes, as always.
        MainWindow form(files.options(), ProductVariant::Raid, StillDemo(files));
        form.TrayAvailable = [] { return true; };
        ShowAndWaitForStatus(form);
        EXPECT_FALSE(form.CheckBox_KeepInTray->isChecked());
        UserCloses(form);
        EXPECT_EQ(form.module().flags().RefreshFlags.load() & refresh::kMonitoring, 0);
    }
    {
        MainWindow form(files.options(), ProductVariant::Raid, StillDemo(files));
        form.TrayAvailable = [] { return true; };
        ShowAndWaitForStatus(form);
        QTest::mouseClick(form.CheckBox_KeepInTray, Qt::LeftButton);
        EXPECT_TRUE(form.module().KeepInTray());
        UserCloses(form);
        EXPECT_FALSE(form.isVisible());
        EXPECT_NE(form.module().flags().RefreshFlags.load() & refresh::kMonitoring, 0) << "still monitoring";
        // The tray's Show brings it back; its Quit ends the program.
        form.tray().menu().actions().front()->trigger();
        EXPECT_TRUE(form.isVisible());
        // Without a tray host, nothing could bring the window back: it closes.
        form.TrayAvailable = [] { return false; };
        UserCloses(form);
        EXPECT_EQ(form.module().flags().RefreshFlags.load() & refresh::kMonitoring, 0);
    }
    RegistryKey key((files.dir.path() + "/registry.ini").toStdString());
    ASSERT_TRUE(key.Open(false));
    EXPECT_EQ(key.ReadInteger("KeepInTray"), 1);
    key.Close();
    {
        MainWindow form(files.options(), ProductVariant::Raid, StillDemo(files));
        form.TrayAvailable = [] { return true; };
        EXPECT_TRUE(form.CheckBox_KeepInTray->isChecked()) << "remembered";
        ShowAndWaitForStatus(form);
        UserCloses(form);
        EXPECT_NE(form.module().flags().RefreshFlags.load() & refresh::kMonitoring, 0);
        EXPECT_FALSE(form.isVisible());
        form.tray().menu().actions().back()->trigger();  // Quit
        EXPECT_EQ(form.module().flags().RefreshFlags.load() & refresh::kMonitoring, 0);
    }
    {
        // The program's own close (SIGTERM, a scenario's quit) ends it.
        MainWindow form(files.options(), ProductVariant::Raid, StillDemo(files));
        form.TrayAvailable = [] { return true; };
        ShowAndWaitForStatus(form);
        form.close();
        EXPECT_EQ(form.module().flags().RefreshFlags.load() & refresh::kMonitoring, 0);
    }
}

}  // namespace
}  // namespace kestrel
