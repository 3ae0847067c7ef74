#include "app/picture_button.h"

#include <QMouseEvent>

namespace kestrel {

PictureButton::PictureButton(const QString& name, QWidget* parent) : QLabel(parent) {
    setObjectName(name);
}

void PictureButton::SetPicture(const QImage& image) {
    setPixmap(QPixmap::fromImage(image));
    if (!image.isNull()) resize(image.size());
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
