// The Status page as a user sees it: the state's colour, an empty bay, the
// marks for an enclosure not in view, and "Not monitored" once nothing is.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "app/device_io_choice.h"
#include "gui/tform1.h"
#include "app/window/main_window.h"
#include "sim/scenario.h"
#include "support/serve_until.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

bool Coloured(QLabel* label, const char* colour) { return label->styleSheet().contains(QString("color: ") + colour); }

TEST(StatusPageWindow, StateColourEmptyBayMarksAndNotMonitored) {
    QTemporaryDir dir;
    Options o;
    o.simulate = true;
    o.logDir = dir.path().toStdString();
    o.registryFile = (dir.path() + "/registry.ini").toStdString();
    o.timeScale = 0.01;
    MainWindow form(o, ProductVariant::Raid, testing::StillDemo(dir.path()));
    form.show();
    ASSERT_TRUE(ServeUntil([&] { return form.Label18->text() == "Normal"; }));
    EXPECT_TRUE(Coloured(form.Label18, "#1f7a2e")) << "green";
    EXPECT_FALSE(form.StatusMark->isVisible());

    sim::SimulatedPc& pc = *form.module().simulatedPc();
    sim::Step pull;
    pull.action = sim::Action::PullDisk;
    pull.enclosure = "desk";
    pull.disk = 2;
    pc.RunStep(pull);
    ASSERT_TRUE(ServeUntil([&] { return form.Label18->text() == "Single HDD\nPresent"; }));
    EXPECT_TRUE(Coloured(form.Label18, "#a86a00")) << "amber";
    EXPECT_EQ(form.Label26->text(), "") << "no removed disk's size";
    EXPECT_EQ(form.Label52->text(), "") << "nor its model";
    EXPECT_EQ(form.Image5->pixmap().cacheKey(), form.Image4_Empty->pixmap().cacheKey()) << "the bay drawn empty";
    EXPECT_EQ(form.Image4->pixmap().cacheKey(), form.Image4_Lit->pixmap().cacheKey());

    // The enclosure not shown raises an alarm: its D button and the Status
    // page button say so.
    sim::Step fan;
    fan.action = sim::Action::FanAlarm;
    fan.enclosure = "travel";
    fan.on = true;
    pc.RunStep(fan);
    ASSERT_TRUE(ServeUntil([&] { return form.SlotMarks[1]->isVisible(); }));
    EXPECT_FALSE(form.SlotMarks[0]->isVisible()) << "the enclosure in view is on the page itself";
    EXPECT_TRUE(form.StatusMark->isVisible());
    EXPECT_TRUE(form.StatusMark->toolTip().contains("Device2: Fan failure")) << form.StatusMark->toolTip().toStdString();
    QTest::mouseClick(form.Image0_D2, Qt::LeftButton);
    EXPECT_TRUE(form.Panel11->isVisible()) << "its fan and temperature";
    EXPECT_TRUE(form.SlotMarks[0]->isVisible()) << "now Device1's degraded array is the one out of view";
    EXPECT_FALSE(form.SlotMarks[1]->isVisible());

    // Nothing monitored: the page does not keep the last state.
    QTest::mouseClick(form.CheckBox1, Qt::LeftButton);
    QTest::mouseClick(form.CheckBox3, Qt::LeftButton);
    EXPECT_EQ(form.Label18->text(), "Not monitored");
    EXPECT_TRUE(form.LabelHealth->text().isEmpty());
    for (QLabel* detail : {form.Label17, form.Label27, form.Label25, form.Label26, form.Label51, form.Label52, form.Label48})
        EXPECT_TRUE(detail->text().isEmpty()) << "no enclosure's details: " << detail->objectName().toStdString();
    EXPECT_FALSE(form.Panel11->isVisible());
    EXPECT_TRUE(form.tray().icon().toolTip().contains("Device1: Not monitored"));
    EXPECT_FALSE(form.StatusMark->isVisible());
    form.Quit();
}

}  // namespace
}  // namespace kestrel
