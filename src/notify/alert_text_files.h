#pragma once
// The subject and contents files of the alert kinds: plain text, one line
// per entry, lines ended by CR LF, in the settings' FilePath folder.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr int kAlertKindCount = 4;
// A larger file is read only this far: alert texts are a few lines, and a
// stray huge file must not exhaust memory.
inline constexpr long long kMaxAlertTextBytes = 1LL << 20;

// "Hard Disks Fail", "Device Removed", "Over Heat", "Fan Fail" for kinds
// 1..4 (the tab captions of the mail window); empty for any other kind.
std::string_view AlertCaption(int kind);
std::string SubjectFileName(int kind);   // "EmailSubject " + caption + ".txt"
std::string ContentsFileName(int kind);  // "EmailContens " + caption + ".txt"

// Breaks text at CR LF, LF or a lone CR; a final break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

struct TextFileRead {
    std::vector<std::string> lines;
    bool truncated = false;  // only the first kMaxAlertTextBytes were used
    std::string error;       // non-empty: the file exists but could not be read
};

// A missing file reads as no lines and no error.
TextFileRead ReadTextLines(const std::string& path);

// Replaces the file atomically; returns the reason of a failure, or "".
std::string WriteTextLines(const std::string& path, const std::vector<std::string>& lines);

// Deletes the file when it exists; returns the reason of a failure, or "".
std::string RemoveTextFile(const std::string& path);

// A new content for one text file (no lines: the file goes), written aside
// by Prepare() and put in place by Apply(), so that a store can check that
// every part of it will go through before it changes anything. Dropped
// unapplied, it leaves the file as it was.
class TextFileChange {
public:
    TextFileChange(std::string path, std::vector<std::string> lines);
    ~TextFileChange();
    TextFileChange(TextFileChange&&) noexcept;
    TextFileChange& operator=(TextFileChange&&) noexcept;

    std::string Prepare();  // the reason of a failure, or ""
    std::string Apply();

private:
    struct Aside;
    std::string path_;
    std::vector<std::string> lines_;
    std::unique_ptr<Aside> aside_;
};

}  // namespace kestrel
