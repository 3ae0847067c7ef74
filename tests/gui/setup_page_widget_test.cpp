// The Hybrid window's Setup page on the offscreen platform, on the Hybrid
// demo: its controls, the sub-page tabs, and Initialize through the real
// question box (Enter says No; Yes runs the eight steps).
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>

#include "app/device_io_choice.h"
#include "app/window/main_window.h"
#include "support/serve_until.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

Options HybridOptions(const QTemporaryDir& dir) {
    Options o;
    o.simulate = true;
    o.logDir = dir.path().toStdString();
    o.registryFile = (dir.path() + "/registry.ini").toStdString();
    o.timeScale = 0.01;
    return o;
}

struct HybridWindow {
    HybridWindow() : form(HybridOptions(dir), ProductVariant::Hybrid, ChooseDeviceIo(true, "", ProductVariant::Hybrid)) {
        form.show();
    }
    void OpenSetupPage() {
        ASSERT_TRUE(ServeUntil([&] { return !form.module().shell().Model().firstStatusPending; }));
        QTest::mouseClick(form.pageButtons[kPageSetup], Qt::LeftButton);
        ASSERT_EQ(form.Notebook1->currentIndex(), kPageSetup);
    }
    size_t Commands() { return form.module().simulatedPc()->CommandsOf("duo").size(); }

    QTemporaryDir dir;
    MainWindow form;
};

// Answers each modal box as it comes up: a key, or the button of a standard answer.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::deque<std::function<void(QMessageBox*)>> answers) : answers_(std::move(answers)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || answers_.empty()) return;
            texts.push_back(box->text().toStdString());
            auto answer = std::move(answers_.front());
            answers_.pop_front();
            answer(box);
        });
        timer_.start();
    }
    std::vector<std::string> texts;

private:
    std::deque<std::function<void(QMessageBox*)>> answers_;
    QTimer timer_;
};

void PressEnter(QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }
void ClickYes(QMessageBox* box) { box->button(QMessageBox::Yes)->click(); }
void ClickOk(QMessageBox* box) { box->button(QMessageBox::Ok)->click(); }

TEST(SetupPageWindow, TwoSubPagesWithTheirControls) {
    HybridWindow w;
    MainWindow& f = w.form;
    EXPECT_EQ(f.Label2->text(), "\"Initialize\" function will format enclosured HDD and SSD,");
    EXPECT_EQ(f.Label3->text(), "please confirm to proceed with \"Initialize\" function.");
    EXPECT_EQ(f.CheckBox_Backup->text(), "Schedule Backup enable");
    const std::array<QString, 4> captions = {"10 minutes", "30 minutes", "1 hour", "3 hours"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(f.periodButtons[i]->text(), captions[i]);
    EXPECT_EQ(f.ProgressBar2->maximum(), 100);
    w.OpenSetupPage();
    EXPECT_FALSE(f.Panel8->isVisible());
    EXPECT_EQ(f.Notebook3->currentIndex(), kSetupInitialize);
    EXPECT_TRUE(f.Image1_Set->isVisible());

    // The demo's "duo" runs its backup every 60 minutes.
    QTest::mouseClick(f.Image1_Schedule, Qt::LeftButton);
    EXPECT_EQ(f.Notebook3->currentIndex(), kSetupSchedule);
    EXPECT_EQ(f.Image1_Schedule->pixmap().cacheKey(), f.Image1_Schedule_Yellow->pixmap().cacheKey());
    EXPECT_EQ(f.Image1_Initialize->pixmap().cacheKey(), f.Image1_Initialize_White->pixmap().cacheKey());
    EXPECT_TRUE(f.CheckBox_Backup->isChecked());
    EXPECT_TRUE(f.periodButtons[2]->isChecked());
    EXPECT_EQ(f.Label_Backup_mess->text(), "Backup period: 60 minutes");
    EXPECT_TRUE(f.Image1_Set->isVisible());

    QTest::mouseClick(f.periodButtons[3], Qt::LeftButton, {}, QPoint(8, 13));
    EXPECT_EQ(f.module().setupPage().BackupPeriod(), 180);
    // Switching the schedule off hides Set and goes to the controller at once.
    QTest::mouseClick(f.CheckBox_Backup, Qt::LeftButton);
    EXPECT_FALSE(f.Image1_Set->isVisible());
    EXPECT_FALSE(f.Label_Backup_mess->isVisible());
    EXPECT_TRUE(ServeUntil([&] { return w.Commands() == 1; }));
    EXPECT_EQ(w.form.module().simulatedPc()->CommandsOf("duo").back()[5], 0);

    QTest::mouseClick(f.Image1_Initialize, Qt::LeftButton);
    EXPECT_EQ(f.Notebook3->currentIndex(), kSetupInitialize);
    EXPECT_TRUE(f.Image1_Set->isVisible());
}

TEST(SetupPageWindow, EnterSaysNoToInitializeAndYesRunsItsEightSteps) {
    HybridWindow w;
    w.OpenSetupPage();
    {
        BoxAnswerer answerer({PressEnter});
        QTest::mouseClick(w.form.Image1_Set, Qt::LeftButton);
        ASSERT_EQ(answerer.texts.size(), 1u);
        // The enclosure is named by its label, as the Setup page names it before Set.
        EXPECT_EQ(answerer.texts[0].rfind("Initialize will erase all data on both disks of Device1 (KESTREL", 0), 0u)
            << answerer.texts[0];
        EXPECT_TRUE(w.form.Label_InitializeTarget->text().startsWith("Set erases both disks of Device1 (KESTREL"));
    }
    EXPECT_EQ(w.Commands(), 0u);
    EXPECT_FALSE(w.form.Panel8->isVisible());

    BoxAnswerer answerer({ClickYes, ClickOk});
    QTest::mouseClick(w.form.Image1_Set, Qt::LeftButton);
    ASSERT_EQ(answerer.texts.size(), 2u);
    EXPECT_EQ(answerer.texts[1].rfind("Auto Partition 8/8 completed!", 0), 0u);
    EXPECT_EQ(w.Commands(), 7u);
    EXPECT_EQ(w.form.ProgressBar2->value(), 100);
    EXPECT_FALSE(w.form.Panel8->isVisible());
    EXPECT_EQ(w.form.module().statusBar().Panel(kErrorPanel), "Create partition OK");
    EXPECT_FALSE(w.form.module().maintenance().Busy());
}

}  // namespace
}  // namespace kestrel
