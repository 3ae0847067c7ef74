#pragma once
// What the behaviour code needs from a window: modal message boxes and the
// five status-bar panels. The main window, the headless service mode and the
// tests each implement these.
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

namespace kestrel {

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
enum class MessageIcon { None, Error, Warning };
using MessageAnswered = std::function<void(MessageAnswer)>;

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Modal: returns once the user has answered. A headless implementation
    // answers at once with the reply that changes nothing. For boxes that a
    // person's own click raises.
    virtual MessageAnswer Show(const std::string& text, const std::string& caption,
                               MessageButtons buttons = MessageButtons::Ok) = 0;
    // An OK box with an icon; without a window the icon is not shown.
    virtual void ShowWithIcon(const std::string& text, const std::string& caption, MessageIcon icon) {
        (void)icon;
        Show(text, caption, MessageButtons::Ok);
    }
    // Shows the box and returns at once, from any thread; answered (may be
    // empty) runs on the user-interface thread with the answer, later, or at
    // once where nobody can answer (headless). While the same box (text,
    // caption and buttons) is still open, shows nothing and returns false:
    // answered then never runs. For boxes the monitoring raises, which must
    // never wait for a person.
    virtual bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                           MessageAnswered answered) = 0;
};

// The boxes shown and not yet answered, so that the same box is never
// stacked twice. Thread-safe.
class OpenBoxes {
public:
    // False when the same box is open already; else marks it open.
    bool Open(const std::string& text, const std::string& caption, MessageButtons buttons) {
        std::lock_guard lock(mutex_);
        return open_.emplace(text, caption, buttons).second;
    }
    void Close(const std::string& text, const std::string& caption, MessageButtons buttons) {
        std::lock_guard lock(mutex_);
        open_.erase({text, caption, buttons});
    }

private:
    std::mutex mutex_;
    std::set<std::tuple<std::string, std::string, MessageButtons>> open_;
};

// The boxes of the monitoring path given to code that expects modal ones and
// ignores the answer of a box with OK only (the transport's failure boxes):
// each is shown without waiting and Show returns OK at once.
class NonBlockingBoxes final : public MessageBoxes {
public:
    explicit NonBlockingBoxes(MessageBoxes& boxes) : boxes_(boxes) {}
    MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons) override {
        boxes_.ShowAsync(text, caption, buttons, nullptr);
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        return boxes_.ShowAsync(text, caption, buttons, std::move(answered));
    }

private:
    MessageBoxes& boxes_;
};

class StatusBar {
public:
    static constexpr int kPanelCount = 5;
    virtual ~StatusBar() = default;
    // May be called from the detection thread; implementations deliver the
    // text to the user-interface thread.
    virtual void SetPanel(int index, const std::string& text) = 0;
    virtual std::string Panel(int index) const = 0;
};

}  // namespace kestrel
