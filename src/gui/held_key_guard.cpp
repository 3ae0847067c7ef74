#include "gui/held_key_guard.h"

#include <QKeyEvent>

namespace kestrel {

namespace {

bool Guarded(int key) {
    return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

// Longer than any keyboard's delay before its first repeat: a press after
// such a pause is a new one even when the last release never reached us
// (it went to another program).
constexpr quint64 kRepeatGapMs = 1500;

}  // namespace

bool HeldKeyGuard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    if (!widget || !Guarded(key->key())) return false;
    const quint64 time = key->timestamp();
    const auto it = held_.find(key->key());
    // Qt marks repeats only where the display tells it; otherwise a press
    // with no release since the last one, or one with its release's time
    // (X sends each repeat as such a pair), is one too.
    bool repeat = key->isAutoRepeat();
    if (type == QEvent::KeyPress && it != held_.end()) {
        const Held& h = it->second;
        repeat = repeat || (h.released ? time != 0 && time == h.releaseTime : time - h.pressTime < kRepeatGapMs);
    }
    QWidget* window = widget->window();
    if (!repeat) {
        if (type == QEvent::KeyPress) {
            held_[key->key()] = Held{window, time};
        } else if (it != held_.end()) {
            it->second.released = true;
            it->second.releaseTime = time;
        }
        return false;
    }
    if (it == held_.end() || it->second.window != window) return true;
    if (type == QEvent::KeyPress) {
        it->second.pressTime = time;
        it->second.released = false;
    }
    return false;
}

}  // namespace kestrel
