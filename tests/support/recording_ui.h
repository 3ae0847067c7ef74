#pragma once
// Message boxes and status bar that remember what the behaviour showed, and
// answer questions as the test says.
#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>
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
        if (onShow) onShow(text);
        std::lock_guard lock(mutex_);
        shown.push_back({text, caption, buttons});
        if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        if (answers.empty()) return MessageAnswer::No;
        const MessageAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowWithIcon(const std::string& text, const std::string& caption, MessageIcon icon) override {
        if (onShow) onShow(text);
        std::lock_guard lock(mutex_);
        shown.push_back({text, caption, MessageButtons::Ok, icon});
    }
    // Runs while a modal box is up (what the program does meanwhile).
    std::function<void(const std::string&)> onShow;
    // Stays open until the test answers it with Answer().
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        if (!open_.Open(text, caption, buttons)) return false;
        std::lock_guard lock(mutex_);
        shown.push_back({text, caption, buttons});
        pending.push_back({{text, caption, buttons}, std::move(answered)});
        return true;
    }
    // Answers the oldest open box whose text begins with textStart; false
    // when there is none.
    bool Answer(const std::string& textStart, MessageAnswer answer) {
        Pending box;
        {
            std::lock_guard lock(mutex_);
            auto it = std::find_if(pending.begin(), pending.end(),
                                   [&](const Pending& p) { return p.box.text.rfind(textStart, 0) == 0; });
            if (it == pending.end()) return false;
            box = std::move(*it);
            pending.erase(it);
        }
        open_.Close(box.box.text, box.box.caption, box.box.buttons);
        if (box.answered) box.answered(answer);
        return true;
    }
    size_t OpenCount() {
        std::lock_guard lock(mutex_);
        return pending.size();
    }

    struct Pending {
        ShownBox box;
        MessageAnswered answered;
    };
    std::vector<ShownBox> shown;        // modal and asynchronous, in order
    std::deque<MessageAnswer> answers;  // for modal Yes/No questions, in order
    std::deque<Pending> pending;        // asynchronous boxes not yet answered

private:
    std::mutex mutex_;
    OpenBoxes open_;
};

}  // namespace kestrel::testing
