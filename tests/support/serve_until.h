#pragma once
// What the window and module tests share: serving the user-interface
// thread's events until a condition holds, and the demo without its timeline.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <functional>

#include "app/device_io_choice.h"
#include "sim/scenario.h"

namespace kestrel::testing {

// Serves events until cond holds; false after a generous time-out, so a
// fault fails the test instead of hanging it.
template <typename Cond>
bool ServeUntil(Cond cond, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return cond();
}

// The demo's PC and enclosures without its timeline, so that what the first
// drawing shows does not depend on how fast the machine reaches it; edit may
// change the scenario before it is written as folder/still.json.
inline DeviceIoChoice StillDemo(const QString& folder, const std::function<void(QJsonObject&)>& edit = {}) {
    const std::string_view text = sim::BuiltInScenarioText();
    QJsonObject demo =
        QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size()))).object();
    demo.remove("timeline");
    if (edit) edit(demo);
    const QString path = folder + "/still.json";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(QJsonDocument(demo).toJson());
    file.close();
    return ChooseDeviceIo(true, path.toStdString());
}

}  // namespace kestrel::testing
