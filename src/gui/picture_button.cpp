#include "gui/picture_button.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>

namespace kestrel {

PictureButton::PictureButton(const QString& name, QWidget* parent) : QLabel(parent) {
    setObjectName(name);
}

void PictureButton::SetPicture(const QImage& image) {
    setPixmap(QPixmap::fromImage(image));
    if (!image.isNull()) resize(image.deviceIndependentSize().toSize());
}

void PictureButton::SetKeyboardReachable() {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(objectName());
}

bool PictureButton::HasClickHandler() const {
    return isSignalConnected(QMetaMethod::fromSignal(&PictureButton::clicked));
}

bool PictureButton::IsPressKey(int key) {
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

void PictureButton::EndPress(bool click) {
    if (press_ == Press::None) return;
    press_ = Press::None;
    pressKey_ = 0;
    Q_EMIT released();
    if (click) Q_EMIT clicked();
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
    if (focusPolicy() == Qt::NoFocus || !IsPressKey(event->key())) {
        QLabel::keyPressEvent(event);
        return;
    }
    // Held keys repeat their press: one press, one click.
    if (event->isAutoRepeat() || press_ != Press::None) return;
    press_ = Press::Key;
    pressKey_ = event->key();
    Q_EMIT pressed();
}

void PictureButton::keyReleaseEvent(QKeyEvent* event) {
    if (focusPolicy() == Qt::NoFocus || !IsPressKey(event->key())) {
        QLabel::keyReleaseEvent(event);
        return;
    }
    if (event->isAutoRepeat() || press_ != Press::Key || event->key() != pressKey_) return;
    EndPress(true);
}

void PictureButton::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    focusMark_ = reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason &&
                 reason != Qt::PopupFocusReason;
    QLabel::focusInEvent(event);
}

void PictureButton::focusOutEvent(QFocusEvent* event) {
    // A box that opened over a held key takes its release.
    if (press_ == Press::Key) EndPress(false);
    QLabel::focusOutEvent(event);
}

void PictureButton::hideEvent(QHideEvent* event) {
    EndPress(false);
    QLabel::hideEvent(event);
}

void PictureButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) EndPress(false);
    QLabel::changeEvent(event);
}

void PictureButton::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus() || !focusMark_) return;
    // Orange dashes over a dark line: seen on the yellow, the white and
    // the dark pictures alike.
    QPainter painter(this);
    painter.setBrush(Qt::NoBrush);
    const QRect frame = rect().adjusted(1, 1, -2, -2);
    painter.setPen(QPen(QColor("#1d2b3a"), 3));
    painter.drawRect(frame);
    painter.setPen(QPen(QColor("#ff8c00"), 3, Qt::DashLine));
    painter.drawRect(frame);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || press_ == Press::Key) return;
    // A release lost to a box that opened meanwhile leaves no press behind.
    EndPress(false);
    press_ = Press::Mouse;
    Q_EMIT pressed();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || press_ != Press::Mouse) return;
    EndPress(rect().contains(event->position().toPoint()));
}

}  // namespace kestrel
