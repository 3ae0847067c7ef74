#include "gui/tray_icon.h"

#include <QAction>
#include <QMenu>
#include <QPainter>

namespace kestrel {

namespace {
constexpr int kPictureSize = 64;
}  // namespace

QColor LevelColour(std::optional<HealthLevel> level) {
    if (!level) return QColor("#8a939c");
    switch (*level) {
        case HealthLevel::Normal: return QColor("#2e9d3a");
        case HealthLevel::Attention: return QColor("#e0a100");
        case HealthLevel::Alarm: break;
    }
    return QColor("#d3222a");
}

std::string TrayToolTip(const HealthBoard& board, const std::string& title, bool mailNotSetUp,
                        const std::string& mailWaiting) {
    std::string text = board.Summary(title);
    if (mailNotSetUp) text += "\nMail not set up: alerts go to the desktop only";
    if (!mailWaiting.empty()) text += "\n" + mailWaiting;
    return text;
}

TrayIcon::TrayIcon(const QIcon& programIcon, std::function<void()> show, std::function<void()> quit)
    : programIcon_(programIcon), menu_(std::make_unique<QMenu>()), icon_(std::make_unique<QSystemTrayIcon>()) {
    menu_->setObjectName("TrayMenu");
    QAction* showAction = menu_->addAction("Show");
    connect(showAction, &QAction::triggered, this, [show] { show(); });
    menu_->addSeparator();
    rowsEnd_ = menu_->addSeparator();
    QAction* quitAction = menu_->addAction("Quit");
    connect(quitAction, &QAction::triggered, this, [quit] { quit(); });
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [show](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) show();
    });
    icon_->setIcon(Picture(std::nullopt));
    ShowWhenHosted();
}

void TrayIcon::ShowWhenHosted() {
    // Shown only where a tray host runs (elsewhere Qt complains); a host
    // that starts later is found at a later update.
    if (!icon_->isVisible() && HostAvailable()) icon_->show();
}

TrayIcon::~TrayIcon() { icon_->hide(); }

QIcon TrayIcon::Picture(std::optional<HealthLevel> level) const {
    // The program's icon with a state mark in its lower right corner.
    QPixmap picture = programIcon_.pixmap(kPictureSize, kPictureSize);
    if (picture.isNull()) {
        picture = QPixmap(kPictureSize, kPictureSize);
        picture.fill(Qt::transparent);
    }
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const int mark = kPictureSize * 4 / 9;
    const QRect r(kPictureSize - mark - 1, kPictureSize - mark - 1, mark, mark);
    painter.setPen(QPen(Qt::white, 4));
    painter.setBrush(LevelColour(level));
    painter.drawEllipse(r);
    return QIcon(picture);
}

void TrayIcon::Update(const HealthBoard& board, const std::string& title, bool mailNotSetUp,
                      const std::string& mailWaiting) {
    ShowWhenHosted();
    const std::optional<HealthState> worst = board.Worst();
    const std::optional<HealthLevel> level = worst ? std::optional(LevelOf(*worst)) : std::nullopt;
    if (shownLevel_ != level) {
        shownLevel_ = level;
        icon_->setIcon(Picture(level));
    }
    icon_->setToolTip(QString::fromUtf8(TrayToolTip(board, title, mailNotSetUp, mailWaiting).c_str()));

    // One disabled row per enclosure, between the two separators.
    for (QAction* row : rows_) {
        menu_->removeAction(row);
        row->deleteLater();
    }
    rows_.clear();
    for (const HealthRow& r : board.Rows()) {
        auto* row = new QAction(QString::fromUtf8(RowText(r).c_str()), menu_.get());
        row->setEnabled(false);
        menu_->insertAction(rowsEnd_, row);
        rows_.push_back(row);
    }
}

void TrayIcon::ShowMessage(const DesktopNote& note) {
    const auto kind = note.urgency == DesktopNote::Urgency::Critical ? QSystemTrayIcon::Critical
                                                                     : QSystemTrayIcon::Information;
    icon_->showMessage(QString::fromUtf8(note.summary.c_str()), QString::fromUtf8(note.body.c_str()), kind);
}

}  // namespace kestrel
