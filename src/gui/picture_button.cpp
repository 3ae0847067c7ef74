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
    if (!image.isNull()) resize(image.size());
}

void PictureButton::SetKeyboardReachable() {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(objectName());
}

bool PictureButton::HasClickHandler() const {
    return isSignalConnected(QMetaMethod::fromSignal(&PictureButton::clicked));
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (focusPolicy() == Qt::NoFocus || (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)) {
        QLabel::keyPressEvent(event);
        return;
    }
    if (event->isAutoRepeat()) return;
    // The same signals as a click, so the pressed look comes and goes.
    Q_EMIT pressed();
    Q_EMIT released();
    Q_EMIT clicked();
}

void PictureButton::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    focusMark_ = reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason &&
                 reason != Qt::PopupFocusReason;
    QLabel::focusInEvent(event);
}

void PictureButton::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus() || !focusMark_) return;
    QPainter painter(this);
    painter.setPen(QPen(QColor("#ff8c00"), 2, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT pressed();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    Q_EMIT released();
    if (rect().contains(event->position().toPoint())) Q_EMIT clicked();
}

}  // namespace kestrel
