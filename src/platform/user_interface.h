#pragma once
// What the behaviour code needs from a window: modal message boxes and the
// five status-bar panels. The main window, the headless service mode and the
// tests each implement these.
#include <string>

namespace kestrel {

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
enum class MessageIcon { None, Error, Warning };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Modal: returns once the user has answered. A headless implementation
    // answers at once with the reply that changes nothing.
    virtual MessageAnswer Show(const std::string& text, const std::string& caption,
                               MessageButtons buttons = MessageButtons::Ok) = 0;
    // An OK box with an icon; without a window the icon is not shown.
    virtual void ShowWithIcon(const std::string& text, const std::string& caption, MessageIcon icon) {
        (void)icon;
        Show(text, caption, MessageButtons::Ok);
    }
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
