#include "platform/headless_ui.h"

namespace kestrel {

std::string OneLine(const std::string& text) {
    std::string flat;
    for (char c : text) {
        if (c == '\n') flat += " / ";
        else if (c != '\r') flat += c;
    }
    return flat;
}

MessageAnswer StderrMessageBoxes::Show(const std::string& text, const std::string& caption,
                                       MessageButtons buttons) {
    // One line per box, so that a service journal keeps each box as one record.
    const std::string flat = OneLine(text);
    const MessageAnswer answer = buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    std::fprintf(out_, "[%s] %s%s\n", caption.empty() ? "Message box" : caption.c_str(), flat.c_str(),
                 buttons == MessageButtons::YesNo ? " (answered No)" : "");
    std::fflush(out_);
    return answer;
}

bool StderrMessageBoxes::ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                                   MessageAnswered answered) {
    const MessageAnswer answer = Show(text, caption, buttons);
    if (answered) answered(answer);
    return true;
}

void MemoryStatusBar::SetPanel(int index, const std::string& text) {
    if (index < 0 || index >= kPanelCount) return;
    std::lock_guard lock(mutex_);
    std::string& panel = panels_[static_cast<size_t>(index)];
    // A cleared panel (empty or blanks) reports nothing.
    if (echo_ && text != panel && text.find_first_not_of(' ') != std::string::npos) {
        std::fprintf(echo_, "[panel %d] %s\n", index, OneLine(text).c_str());
        std::fflush(echo_);
    }
    panel = text;
}

std::string MemoryStatusBar::Panel(int index) const {
    if (index < 0 || index >= kPanelCount) return {};
    std::lock_guard lock(mutex_);
    return panels_[static_cast<size_t>(index)];
}

}  // namespace kestrel
