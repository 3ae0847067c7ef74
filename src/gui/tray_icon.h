#pragma once
// The tray icon: the program's own icon marked with the worst state of the
// monitored enclosures, a tooltip that names each one's state, a click that
// shows the window, and a menu with Show, the enclosures and Quit. Also the
// fallback for desktop notes when no notification service answers.
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "monitor/enclosure_health.h"
#include "platform/desktop_notifications.h"

class QMenu;
class QAction;

namespace kestrel {

// The colour of a state's severity, the same wherever it is drawn: green,
// amber, red; grey for nothing known.
QColor LevelColour(std::optional<HealthLevel> level);

// The tooltip: the enclosures' summary, and a word when alerts reach nobody
// by mail.
// mailWaiting: a line that counts the alert mails still waiting, or "".
std::string TrayToolTip(const HealthBoard& board, const std::string& title, bool mailNotSetUp,
                        const std::string& mailWaiting = {});

class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(const QIcon& programIcon, std::function<void()> show, std::function<void()> quit);
    ~TrayIcon() override;

    // Shows the summary; the menu's enclosure rows follow it.
    void Update(const HealthBoard& board, const std::string& title, bool mailNotSetUp,
                const std::string& mailWaiting = {});
    void ShowMessage(const DesktopNote& note);
    // A tray host is there to hold the icon.
    static bool HostAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

    QSystemTrayIcon& icon() { return *icon_; }
    QMenu& menu() { return *menu_; }
    // The picture for a level; nullopt: nothing read yet.
    QIcon Picture(std::optional<HealthLevel> level) const;

private:
    void ShowWhenHosted();

    QIcon programIcon_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QAction* rowsEnd_ = nullptr;  // the separator before Quit
    std::vector<QAction*> rows_;
    std::optional<std::optional<HealthLevel>> shownLevel_;
};

}  // namespace kestrel
