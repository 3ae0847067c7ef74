#include "gui/widget_ui.h"

#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QStatusBar>
#include <QThread>
#include <QApplication>
#include <algorithm>

namespace kestrel {

namespace {

void Prepare(QMessageBox& box, const std::string& text, const std::string& caption, MessageButtons buttons,
             MessageIcon icon = MessageIcon::None) {
    box.setWindowTitle(QString::fromLatin1(caption.c_str()));
    box.setText(QString::fromUtf8(text.c_str()));
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Enter alone never says Yes to a question that changes something.
        box.setDefaultButton(QMessageBox::No);
        box.setIcon(QMessageBox::Question);
        return;
    }
    box.setStandardButtons(QMessageBox::Ok);
    if (icon == MessageIcon::Error) box.setIcon(QMessageBox::Critical);
    if (icon == MessageIcon::Warning) box.setIcon(QMessageBox::Warning);
}

MessageAnswer AnswerOf(int result, MessageButtons buttons) {
    if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace

WidgetMessageBoxes::~WidgetMessageBoxes() {
    for (const QPointer<QMessageBox>& box : asyncBoxes_) {
        if (!box) continue;
        box->disconnect();
        delete box.data();
    }
}

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
    Prepare(box, text, caption, buttons, icon);
    return AnswerOf(box.exec(), buttons);
}

bool WidgetMessageBoxes::ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                                   MessageAnswered answered) {
    if (!open_.Open(text, caption, buttons)) return false;
    auto show = [this, text, caption, buttons, answered = std::move(answered)] {
        asyncBoxes_.erase(std::remove(asyncBoxes_.begin(), asyncBoxes_.end(), nullptr), asyncBoxes_.end());
        auto* box = new QMessageBox(parent_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        Prepare(*box, text, caption, buttons);
        QObject::connect(box, &QMessageBox::finished, box, [this, text, caption, buttons, answered](int result) {
            open_.Close(text, caption, buttons);
            if (answered) answered(AnswerOf(result, buttons));
        });
        asyncBoxes_.emplace_back(box);
        box->show();
    };
    // From another thread the box is made on the user-interface thread;
    // the caller does not wait for it.
    QObject* context = parent_ ? static_cast<QObject*>(parent_.data()) : qApp;
    QMetaObject::invokeMethod(context, std::move(show), Qt::AutoConnection);
    return true;
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
    QMetaObject::invokeMethod(label, [this, index, label, qtext] {
        if (!label || label->text() == qtext) return;
        label->setText(qtext);
        // A panel clips a long text: the tooltip holds all of it.
        label->setToolTip(qtext);
        if (listener_ && !qtext.isEmpty()) listener_(index, qtext);
    });
}

std::string WidgetStatusBar::Panel(int index) const {
    if (index < 0 || index >= kPanelCount) return {};
    std::lock_guard lock(mutex_);
    return texts_[static_cast<size_t>(index)];
}

}  // namespace kestrel
