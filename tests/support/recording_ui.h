#pragma once
// Message boxes and status bar that remember what the behaviour showed, and
// answer questions as the test says.
#include <deque>
#include <string>
#include <vector>

#include "platform/headless_ui.h"
#include "platform/user_interface.h"

namespace kestrel::testing {

struct ShownBox {
    std::string text;
    std::string caption;
    MessageButtons buttons;
    MessageIcon icon = MessageIcon::None;
};

class RecordingMessageBoxes final : public MessageBoxes {
public:
    MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons) override {
        shown.push_back({text, caption, buttons});
        if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        if (answers.empty()) return MessageAnswer::No;
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowWithIcon(const std::string& text, const std::string& caption, MessageIcon icon) override {
        shown.push_back({text, caption, MessageButtons::Ok, icon});
    }
    std::vector<ShownBox> shown;
    std::deque<MessageAnswer> answers;  // for Yes/No questions, in order
};

}  // namespace kestrel::testing
