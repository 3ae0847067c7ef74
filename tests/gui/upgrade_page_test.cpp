// The Upgrade page in the real window: loading an image through the file
// dialog, the upgrade with its step panel and progress bar, everything
// clicked while it runs, and a close that waits for its end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/device_io_choice.h"
#include "app/window/main_window.h"
#include "sim/controller.h"

namespace kestrel {
namespace {

QString PanelText(MainWindow& form, int i) {
    return form.StatusBar1->findChild<QLabel*>(QString("StatusBar1_Panel%1").arg(i))->text();
}

TEST(UpgradePage, LoadUpgradeAndAHeldClose) {
    QTemporaryDir dir;
    Options o;
    o.simulate = true;
    o.logDir = dir.path().toStdString();
    o.registryFile = (dir.path() + "/registry.ini").toStdString();
    o.timeScale = 0.02;
    const QString image = dir.filePath("sample.bin");
    {
        const std::vector<uint8_t> bytes = sim::MakeDefaultFlashImage();
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    auto form = std::make_unique<MainWindow>(o, ProductVariant::Raid, ChooseDeviceIo(true, ""));
    form->show();
    MainModule& module = form->module();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !module.shell().Model().firstStatusPending; }, 20000));

    // Message boxes are answered as they come up.
    std::vector<QString> boxes;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes.push_back(box->windowTitle() + ": " + box->text());
            box->accept();
        }
    });
    answer.start(20);

    QTest::mouseClick(form->pageButtons[kPageUpgrade], Qt::LeftButton);
    ASSERT_EQ(form->Notebook1->currentIndex(), kPageUpgrade);
    int dialogs = 0;
    form->OpenDialog1 = [&] {
        ++dialogs;
        return image;
    };
    QTest::mouseClick(form->Image2_Load, Qt::LeftButton);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(form->Edit9->text(), image);
    EXPECT_EQ(PanelText(*form, 4), "File:" + image);
    EXPECT_TRUE(PanelText(*form, 0).startsWith("Chksum:"));
    ASSERT_TRUE(module.firmwareImage().Loaded());

    bool clicked = false;
    const QString shot = qEnvironmentVariable("KESTREL_UPGRADE_SCREENSHOT");
    module.SetBetweenBlocks([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (clicked || form->Panel1Caption->text() != "Process 2 / 3") return;
        if (module.flags().ProgressCounter.load() < 600) return;
        clicked = true;
        EXPECT_TRUE(form->Panel1->isVisible());
        EXPECT_EQ(form->Label12->text(), "Firmware Update...");
        EXPECT_EQ(form->ProgressBar1->maximum(), 2206);
        EXPECT_GT(form->ProgressBar1->value(), 0) << "the bar moved";
        EXPECT_FALSE(form->CheckBox1->isEnabled());
        if (!shot.isEmpty()) {
            form->repaint();
            QCoreApplication::processEvents();
            QProcess::execute("import", {"-window", "root", shot});
        }
        // Everything a user could click while the flash is written.
        for (PictureButton* b : form->pageButtons) QTest::mouseClick(b, Qt::LeftButton);
        QTest::mouseClick(form->Image2_D2, Qt::LeftButton);
        QTest::mouseClick(form->Image2_Load, Qt::LeftButton);
        QTest::mouseClick(form->Image2_Upgrade, Qt::LeftButton);
        QTest::mouseClick(form->CheckBox1, Qt::LeftButton);
        EXPECT_EQ(form->Notebook1->currentIndex(), kPageUpgrade);
        EXPECT_EQ(module.shell().Model().upgradePageDevice, 0);
        EXPECT_EQ(dialogs, 1);
        EXPECT_TRUE(module.shell().Model().deviceChecked[0]);
        form->close();
        EXPECT_TRUE(form->isVisible()) << "the close waits";
        EXPECT_EQ(form->Panel1Caption->text(), "Process 2 / 3  (closing when done)");
        EXPECT_EQ(PanelText(*form, 4), "SPI Erase OK") << "panel 4 keeps the operation's texts";
    });
    // With no notification service, the desktop hears the end as the tray's message.
    std::vector<std::string> notes;
    module.desktopAlerts().SetFallback([&](const DesktopNote& note) { notes.push_back(note.summary); });
    EXPECT_EQ(module.Image2_UpgradeClick(), UpgradeOutcome::Verified);
    EXPECT_EQ(notes, std::vector<std::string>{"Device1 firmware upgrade finished."});
    EXPECT_TRUE(clicked);
    EXPECT_EQ(PanelText(*form, 4), "SPI Verify OK");
    // The held close runs once the lock is released, from the closing box's
    // own loop, which it ends: the note and panel 4 told the outcome first.
    for (const QString& box : boxes)
        EXPECT_TRUE(box.startsWith("Firmware Upgrade Message: Firmware Upgrade 3/3 completed!")) << box.toStdString();
    EXPECT_EQ(*module.simulatedPc()->FlashOf("desk"), sim::MakeDefaultFlashImage());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000)) << "the held close ran";
}

}  // namespace
}  // namespace kestrel
