#pragma once
// Keeps a held key in the window where it went down. Escape, Enter and
// Space close boxes and press buttons; while one is held its repeats go on
// arriving, also in a box or file dialog opened after it went down (the
// press closed one box, the repeats close every box after it at once, so a
// click seems to do nothing). Repeats that land in another window than the
// first press's are dropped; the next real press acts as usual.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <map>

namespace kestrel {

class HeldKeyGuard : public QObject {
    Q_OBJECT
public:
    explicit HeldKeyGuard(QObject* parent) : QObject(parent) {}

protected:
    // Installed on the application: sees every key event before its widget.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Held {
        QPointer<QWidget> window;  // where its first press went
        quint64 pressTime = 0;     // event times of its latest press and release
        bool released = false;
        quint64 releaseTime = 0;
    };
    std::map<int, Held> held_;
};

}  // namespace kestrel
