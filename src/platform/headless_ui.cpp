#include "platform/headless_ui.h"

namespace kestrel {

MessageAnswer StderrMessageBoxes::Show(const std::string& text, const std::string& caption,
                                       MessageButtons buttons) {
    // One line per box: line breaks inside the text become " / " so that a
    // service journal keeps each box as one record.
    std::string flat;
    for (char c : text) {
        if (c == '\n') flat += " / ";
        else if (c != '\r') flat += c;
    }
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
    panels_[static_cast<size_t>(index)] = text;
}

std::string MemoryStatusBar::Panel(int index) const {
    if (index < 0 || index >= kPanelCount) return {};
    std::lock_guard lock(mutex_);
    return panels_[static_cast<size_t>(index)];
}

}  // namespace kestrel
