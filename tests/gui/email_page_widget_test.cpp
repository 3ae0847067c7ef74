// The E-mail page's controls on the offscreen platform.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/device_io_choice.h"
#include "app/window/main_window.h"
#include "notify/event_program.h"
#include "support/serve_until.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

class EmailPageWindow : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> form;

    // A run of the program on this test's settings file, the page opened.
    void StartAndOpen() {
        form.reset();
        Options o;
        o.simulate = true;
        o.logDir = dir.path().toStdString();
        o.registryFile = (dir.path() + "/registry.ini").toStdString();
        o.timeScale = 0.01;
        TakeStoredSettings(o);  // as the program's start does
        // The demo without its timeline: no alert mail of its own may
        // overwrite the panels these tests read.
        form = std::make_unique<MainWindow>(o, ProductVariant::Raid, testing::StillDemo(dir.path()));
        form->show();
        ShellModel& m = form->module().shell().Model();
        m.pageButtonsEnabled = true;
        m.firstStatusPending = false;
        form->module().shell().Sync();
        QTest::mouseClick(form->pageButtons[kPageEmail], Qt::LeftButton);
    }
    void ClickCell(QTableWidget* grid, int row) {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(row, 0)).center());
    }
    void Retype(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // Runs the window's event loop until panel 3 (or another) begins with text.
    bool WaitForPanel3(const std::string& text, int panel = 3) {
        QElapsedTimer t;
        t.start();
        while (form->module().statusBar().Panel(panel).rfind(text, 0) != 0 && t.elapsed() < 20000) QTest::qWait(20);
        return form->module().statusBar().Panel(panel).rfind(text, 0) == 0;
    }
    void StoreServer(int port) {
        Retype(form->Edit1, QString::number(port));
        QTest::mouseClick(form->Image3_OK, Qt::LeftButton);
    }
};

TEST_F(EmailPageWindow, OpensOnSetupWithTheDefaultsAndTheLimitsOfItsFields) {
    StartAndOpen();
    MainWindow& f = *form;
    EXPECT_EQ(f.Notebook1->currentIndex(), kPageEmail);
    ASSERT_EQ(f.Notebook2->count(), 3);
    EXPECT_EQ(f.Notebook2->widget(0)->windowTitle(), "Setup");
    EXPECT_EQ(f.Notebook2->widget(1)->windowTitle(), "HDD_Fail");
    EXPECT_EQ(f.Notebook2->widget(2)->windowTitle(), "DeviceRemove");
    EXPECT_EQ(f.Notebook2->currentIndex(), 0);
    EXPECT_EQ(f.Image3_Setup->pixmap().cacheKey(), f.emailTabYellow[0]->pixmap().cacheKey());
    EXPECT_EQ(f.Image3_HDDFail->pixmap().cacheKey(), f.emailTabWhite[1]->pixmap().cacheKey());
    EXPECT_EQ(f.Edit1->text(), "25");
    EXPECT_EQ(f.Edit5->text(), "0");
    EXPECT_TRUE(f.Image3_OK->isVisible());
    EXPECT_TRUE(f.Image3_Ignore->isVisible());

    Retype(f.Edit5, "123");
    EXPECT_EQ(f.Edit5->text(), "12");
    EXPECT_FALSE(f.Edit8->isVisible());
    QTest::mouseClick(f.CheckBox8, Qt::LeftButton);
    ASSERT_TRUE(f.Edit8->isVisible()) << "shown while SMTP Login Authentication is checked";
    EXPECT_EQ(f.Edit8->echoMode(), QLineEdit::Password);
    QTest::keyClicks(f.Edit8, "0123456789abcdefgh");
    EXPECT_EQ(f.Edit8->text(), "0123456789abcde");
    QTest::mouseClick(f.CheckBox8, Qt::LeftButton);
    EXPECT_FALSE(f.Edit8->isVisible());
    EXPECT_EQ(f.module().emailPage().State().fieldChanged, field_changed::kTimeOut | field_changed::kPassword);
}

TEST_F(EmailPageWindow, BothGridsShowAnAddressAddedOnOneOfThem) {
    StartAndOpen();
    MainWindow& f = *form;
    QTest::mouseClick(f.Image3_HDDFail, Qt::LeftButton);
    EXPECT_EQ(f.Notebook2->currentIndex(), 1);
    EXPECT_EQ(f.Image3_HDDFail->pixmap().cacheKey(), f.emailTabYellow[1]->pixmap().cacheKey());
    EXPECT_EQ(f.StringGrid1->rowCount(), 10);
    EXPECT_EQ(f.StringGrid1->horizontalHeaderItem(0)->text(), "E-Mail Address");
    QTest::keyClicks(f.Edit7, "ops@example.com");
    const QPoint rest = f.Image3_1P->pos();
    QTest::mousePress(f.Image3_1P, Qt::LeftButton);
    EXPECT_EQ(f.Image3_1P->pos(), rest + QPoint(0, 2)) << "pressed look";
    QTest::mouseRelease(f.Image3_1P, Qt::LeftButton);
    QTest::mouseClick(f.Image3_1P, Qt::LeftButton);  // the entry is empty now: nothing more is added
    EXPECT_EQ(f.Image3_1P->pos(), rest);
    EXPECT_EQ(f.Edit7->text(), "");
    EXPECT_EQ(f.Memo7->toPlainText(), "ops@example.com");

    QTest::mouseClick(f.Image3_DeviceRemove, Qt::LeftButton);
    EXPECT_EQ(f.StringGrid2->item(0, 0)->text(), "ops@example.com");
    EXPECT_EQ(f.StringGrid2->item(1, 0)->text(), "");
    ClickCell(f.StringGrid2, 0);
    EXPECT_EQ(f.Edit6->text(), "ops@example.com");
    QTest::mouseClick(f.Image3_2M, Qt::LeftButton);
    EXPECT_EQ(f.StringGrid1->item(0, 0)->text(), "");
    EXPECT_EQ(f.Edit6->text(), "");
}

TEST_F(EmailPageWindow, OkStoresWhatTheNextRunShowsAndIgnoreKeepsTheDontSendTick) {
    StartAndOpen();
    MainWindow& f = *form;
    Retype(f.Edit2, "smtp.example.com");
    Retype(f.Edit4, "raid@example.com");
    QTest::mouseClick(f.CheckBox8, Qt::LeftButton);
    QTest::keyClicks(f.Edit8, "secret");
    QTest::mouseClick(f.CheckBox_RequireTls, Qt::LeftButton);
    QTest::keyClicks(f.Edit_CAFile, "/etc/kestrel/ca.pem");
    QTest::mouseClick(f.Image3_HDDFail, Qt::LeftButton);
    QTest::keyClicks(f.Edit7, "ops@example.com");
    QTest::mouseClick(f.Image3_1P, Qt::LeftButton);
    QTest::keyClicks(f.Edit10, "Disk failure");
    QTest::keyClicks(f.Memo6, "Replace the disk.");
    QTest::mouseClick(f.Image3_OK, Qt::LeftButton);
    EXPECT_EQ(f.Notebook1->currentIndex(), kPageEmail) << "the page stays open";

    StartAndOpen();
    MainWindow& g = *form;
    EXPECT_EQ(g.Edit2->text(), "smtp.example.com");
    EXPECT_EQ(g.Edit4->text(), "raid@example.com");
    EXPECT_TRUE(g.CheckBox8->isChecked());
    EXPECT_TRUE(g.Edit8->isVisible());
    EXPECT_EQ(g.Edit8->text(), "secret");
    EXPECT_TRUE(g.CheckBox_RequireTls->isChecked());
    EXPECT_EQ(g.Edit_CAFile->text(), "/etc/kestrel/ca.pem");
    EXPECT_EQ(g.StringGrid1->item(0, 0)->text(), "ops@example.com");
    EXPECT_EQ(g.Edit10->text(), "Disk failure");
    EXPECT_EQ(g.Memo6->toPlainText(), "Replace the disk.");

    QTest::mouseClick(g.Image3_DeviceRemove, Qt::LeftButton);
    QTest::mouseClick(g.CheckBox4, Qt::LeftButton);
    QTest::keyClicks(g.Edit11, "typed, not stored");
    QTest::mouseClick(g.Image3_Ignore, Qt::LeftButton);
    EXPECT_TRUE(g.CheckBox4->isChecked());
    EXPECT_EQ(g.Edit11->text(), "");
    EXPECT_EQ(g.Notebook2->currentIndex(), 2);
}

TEST_F(EmailPageWindow, SendTestMailNamesTheOutcomeInPanelThree) {
    testing::SmtpTestServer server;
    ASSERT_GT(server.port(), 0);
    StartAndOpen();
    MainWindow& f = *form;
    Retype(f.Edit2, "127.0.0.1");
    Retype(f.Edit4, "raid@example.com");
    QTest::mouseClick(f.Image3_HDDFail, Qt::LeftButton);
    QTest::keyClicks(f.Edit7, "ops@example.com");
    QTest::mouseClick(f.Image3_1P, Qt::LeftButton);
    StoreServer(server.port());
    QTest::mouseClick(f.Image3_Setup, Qt::LeftButton);
    QTest::mouseClick(f.ButtonTestMail, Qt::LeftButton);
    ASSERT_TRUE(WaitForPanel3("Test mail sent")) << f.module().statusBar().Panel(3);
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.Mail(1)["rcpt_tos"].toArray().at(0).toString(), "ops@example.com");

    // A server that takes the connection and never answers.
    testing::SmtpTestServer mute({"--mute"});
    f.module().mailDelivery().SetTimeouts(300, 300);
    StoreServer(mute.port());
    QTest::mouseClick(f.ButtonTestMail, Qt::LeftButton);
    EXPECT_TRUE(WaitForPanel3("Test mail failed: Mail server did not answer in time"))
        << f.module().statusBar().Panel(3);
}

// The event program's field: tested as typed, stored with OK for the
// running program and the next run, back to the stored one with Ignore.
TEST_F(EmailPageWindow, TheEventProgramIsTestedAsTypedAndStoredWithOk) {
    const QString events = dir.path() + "/events", recorder = dir.path() + "/record";
    QFile script(recorder);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho \"$2 $KESTREL_EVENT\" >> '" + events + "'\n").toUtf8());
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    auto settings = [this] {
        QFile ini(dir.path() + "/registry.ini");
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    };
    StartAndOpen();
    MainWindow& f = *form;
    // A path of the working folder is refused: it means nothing to the service.
    Retype(f.Edit_EventProgram, "record");
    QTest::mouseClick(f.Image3_OK, Qt::LeftButton);
    EXPECT_FALSE(settings().contains("EventProgram")) << settings().toStdString();
    EXPECT_TRUE(WaitForPanel3("Event program not stored: give its full path", 4)) << f.module().statusBar().Panel(4);

    Retype(f.Edit_EventProgram, recorder);
    QTest::mouseClick(f.ButtonTestEvent, Qt::LeftButton);
    ASSERT_TRUE(WaitForPanel3("The event program ended with exit status 0.", 4)) << f.module().statusBar().Panel(4);
    QFile log(events);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), " test\n");
    EXPECT_EQ(f.module().eventProgram().Program(), "") << "a test stores nothing";

    QTest::mouseClick(f.Image3_OK, Qt::LeftButton);
    EXPECT_TRUE(settings().contains("EventProgram=" + recorder.toUtf8())) << settings().toStdString();
    EXPECT_EQ(f.module().eventProgram().Program(), recorder.toStdString());
    ProgramEvent lost;
    lost.kind = "disk-lost";
    lost.slot = 1;
    ASSERT_TRUE(f.module().eventProgram().Post(lost));
    ASSERT_TRUE(f.module().eventProgram().WaitIdle(std::chrono::seconds(20)));
    EXPECT_TRUE(log.readAll().contains("Device1 disk-lost\n"));

    Retype(f.Edit_EventProgram, "/typed/not/stored");
    QTest::mouseClick(f.Image3_Ignore, Qt::LeftButton);
    EXPECT_EQ(f.Edit_EventProgram->text(), recorder);
    StartAndOpen();
    EXPECT_EQ(form->Edit_EventProgram->text(), recorder);
}

}  // namespace
}  // namespace kestrel
