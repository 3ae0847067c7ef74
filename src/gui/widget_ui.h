#pragma once
// The window implementations of the message box and status bar ports.
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/user_interface.h"

class QLabel;
class QMessageBox;
class QStatusBar;
class QWidget;

namespace kestrel {

class WidgetMessageBoxes final : public MessageBoxes {
public:
    explicit WidgetMessageBoxes(QWidget* parent) : parent_(parent) {}
    // Closes the boxes still open without answering them.
    ~WidgetMessageBoxes() override;
    MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons) override;
    void ShowWithIcon(const std::string& text, const std::string& caption, MessageIcon icon) override;
    // A window of its own that lets the main window, its timers and the
    // polls go on; the answer arrives through its finished signal.
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override;

private:
    MessageAnswer Ask(const std::string& text, const std::string& caption, MessageButtons buttons, MessageIcon icon);
    QPointer<QWidget> parent_;
    OpenBoxes open_;
    std::vector<QPointer<QMessageBox>> asyncBoxes_;  // user-interface thread only
};

// Five panels of fixed widths. Text set from another thread is posted to the
// user-interface thread; Panel() reads the last text set from any thread.
class WidgetStatusBar final : public StatusBar {
public:
    explicit WidgetStatusBar(QStatusBar* bar);
    void SetPanel(int index, const std::string& text) override;
    std::string Panel(int index) const override;
    // Hears every new panel text on the user-interface thread (the window
    // keeps the last ones readable).
    void SetListener(std::function<void(int, const QString&)> listener) { listener_ = std::move(listener); }

private:
    std::array<QPointer<QLabel>, kPanelCount> labels_;
    std::function<void(int, const QString&)> listener_;
    mutable std::mutex mutex_;
    std::array<std::string, kPanelCount> texts_;
};

}  // namespace kestrel
