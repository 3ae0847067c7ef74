#pragma once
// A picture control that can be clicked, like the skinned image buttons of
// the main window. Also serves, hidden, as a holder of a skin picture.
#include <QLabel>

namespace kestrel {

class PictureButton : public QLabel {
    Q_OBJECT
public:
    explicit PictureButton(const QString& name, QWidget* parent);
    void SetPicture(const QImage& image);
    void TakePicture(const PictureButton& holder) { setPixmap(holder.pixmap()); }

Q_SIGNALS:
    void pressed();
    void released();
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace kestrel
