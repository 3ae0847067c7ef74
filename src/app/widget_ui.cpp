#include "app/widget_ui.h"

#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QStatusBar>
#include <QThread>
#include <QApplication>

namespace kestrel {

MessageAnswer WidgetMessageBoxes::Show(const std::string& text, const std::string& caption,
                                       MessageButtons buttons) {
    return Ask(text, caption, buttons, MessageIcon::None);
}

void WidgetMessageBoxes::ShowWithIcon(const std::string& text, const std::string& caption, MessageIcon icon) {
    Ask(text, caption, MessageButtons::Ok, icon);
}

MessageAnswer WidgetMessageBoxes::Ask(const std::string& text, const std::string& caption, MessageButtons buttons,
                                      MessageIcon icon) {
    // A box asked for by the detection thread is shown by the user-interface
    // thread; the asking thread waits for the answer.
    if (QThread::currentThread() != qApp->thread()) {
        MessageAnswer answer = MessageAnswer::Ok;
        QMetaObject::invokeMethod(
            qApp, [&] { answer = Ask(text, caption, buttons, icon); }, Qt::BlockingQueuedConnection);
        return answer;
    }
    QMessageBox box(parent_);
    box.setWindowTitle(QString::fromLatin1(caption.c_str()));
    box.setText(QString::fromUtf8(text.c_str()));
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setIcon(QMessageBox::Question);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    if (icon == MessageIcon::Error) box.setIcon(QMessageBox::Critical);
    if (icon == MessageIcon::Warning) box.setIcon(QMessageBox::Warning);
    box.exec();
    return MessageAnswer::Ok;
}

WidgetStatusBar::WidgetStatusBar(QStatusBar* bar) {
    static constexpr std::array<int, kPanelCount> kWidths = {100, 80, 80, 100, 250};
    for (int i = 0; i < kPanelCount; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QString("StatusBar1_Panel%1").arg(i));
        label->setMinimumWidth(kWidths[static_cast<size_t>(i)]);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(label, i == kPanelCount - 1 ? 1 : 0);
        labels_[static_cast<size_t>(i)] = label;
    }
}

void WidgetStatusBar::SetPanel(int index, const std::string& text) {
    if (index < 0 || index >= kPanelCount) return;
    {
        std::lock_guard lock(mutex_);
        texts_[static_cast<size_t>(index)] = text;
    }
    QPointer<QLabel> label = labels_[static_cast<size_t>(index)];
    if (!label) return;
    const QString qtext = QString::fromUtf8(text.c_str());
    // Queued when called from a worker thread; direct on the UI thread.
    QMetaObject::invokeMethod(label, [label, qtext] {
        if (label) label->setText(qtext);
    });
}

std::string WidgetStatusBar::Panel(int index) const {
    if (index < 0 || index >= kPanelCount) return {};
    std::lock_guard lock(mutex_);
    return texts_[static_cast<size_t>(index)];
}

}  // namespace kestrel
