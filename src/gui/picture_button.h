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
    // A button, not artwork: Tab reaches it, Space or Enter presses it,
    // and a focus mark shows when it has the keyboard.
    void SetKeyboardReachable();
    // Something acts on its click.
    bool HasClickHandler() const;

Q_SIGNALS:
    void pressed();
    void released();
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    // The mark shows for focus the keyboard (or the program) gave, not for
    // a mouse click or the window coming to the front.
    bool focusMark_ = false;
};

}  // namespace kestrel
