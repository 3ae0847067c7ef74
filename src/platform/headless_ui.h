#pragma once
// Message boxes and status bar for the window-less service mode: boxes are
// written to standard error and take their safe default answer.
#include <array>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/user_interface.h"

namespace kestrel {

// True when the stream is the journal's (systemd names it in JOURNAL_STREAM):
// lines then begin with a priority prefix such as "<3>", which the journal
// takes as the line's priority and removes.
bool IsJournalStream(std::FILE* stream);

class StderrMessageBoxes final : public MessageBoxes {
public:
    explicit StderrMessageBoxes(std::FILE* out = stderr) : out_(out), journal_(IsJournalStream(out)) {}
    MessageAnswer Show(const std::string& text, const std::string& caption,
                       MessageButtons buttons) override;
    // Written at once, and answered at once with the same safe answer.
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override;

private:
    std::FILE* out_;
    bool journal_;
};

// One line for a journal: line breaks become " / ".
std::string OneLine(const std::string& text);

// Keeps the panel texts so that the behaviour can read them back; thread-safe
// because detection writes from its own thread. With an echo stream (the
// headless service), every new text of a panel is also written there as
// "[panel N] text", once per change, so that failures reach the journal.
class MemoryStatusBar final : public StatusBar {
public:
    explicit MemoryStatusBar(std::FILE* echo = nullptr) : echo_(echo), journal_(echo && IsJournalStream(echo)) {}
    void SetPanel(int index, const std::string& text) override;
    std::string Panel(int index) const override;

private:
    std::FILE* echo_;
    bool journal_;
    mutable std::mutex mutex_;
    std::array<std::string, kPanelCount> panels_;
};

}  // namespace kestrel
