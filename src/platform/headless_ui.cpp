#include "platform/headless_ui.h"

#include <cstdlib>
#include <sys/stat.h>

namespace kestrel {

bool IsJournalStream(std::FILE* stream) {
    const char* named = std::getenv("JOURNAL_STREAM");
    if (!stream || !named) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(named, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    return ::fstat(::fileno(stream), &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

namespace {

// Journal priorities: 3 error, 4 warning, 5 notice, 6 info.
const char* BoxPriority(const std::string& caption) {
    if (caption == "Error") return "<3>";
    if (caption.rfind("Warning", 0) == 0) return "<4>";
    return "<5>";
}

const char* PanelPriority(int panel, const std::string& text) {
    if (panel == 4) return "<3>";  // transport errors, file and settings problems
    if (panel == 3) {
        // A mail on its way or delivered is information; a mail that did
        // not go out is a warning.
        const bool fine = text == "Mail is Sending..." || text == "Send mail Success!" || text == "Test mail sent";
        return fine ? "<6>" : "<4>";
    }
    return "<6>";
}

}  // namespace

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
    std::fprintf(out_, "%s[%s] %s%s\n", journal_ ? BoxPriority(caption) : "", caption.empty() ? "Message box" : caption.c_str(), flat.c_str(),
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
        std::fprintf(echo_, "%s[panel %d] %s\n", journal_ ? PanelPriority(index, text) : "", index, OneLine(text).c_str());
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
