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
    void keyReleaseEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Press { None, Mouse, Key };
    static bool IsPressKey(int key);
    // A press whose release has not come: the release ends it (and clicks
    // when it lands on this button); anything that takes the press away
    // (focus gone, hidden, disabled) ends it without a click.
    void EndPress(bool click);

    // What pressed this button; a release that finds none does nothing, so
    // a stray release (the key that closed a box landing here) never acts.
    Press press_ = Press::None;
    int pressKey_ = 0;
    // The mark shows for focus the keyboard (or the program) gave, not for
    // a mouse click or the window coming to the front.
    bool focusMark_ = false;
};

}  // namespace kestrel
