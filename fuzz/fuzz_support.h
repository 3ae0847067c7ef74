#pragma once
// What the fuzz targets share: a failed property aborts with its reason (so
// libFuzzer keeps the input), the text checks the properties use, and
// stand-ins for the window's boxes and status bar.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/headless_ui.h"
#include "platform/user_interface.h"

namespace kestrel::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    std::abort();
}
#define FUZZ_CHECK(cond, detail) \
    do {                         \
        if (!(cond)) ::kestrel::fuzz::Fail(#cond, __FILE__, __LINE__, (detail)); \
    } while (0)

// Printable for a failure message: control and high bytes as \xNN.
inline std::string Shown(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
inline bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
        else return false;
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

// No C0 control byte and no DEL (a tab is a control byte too here).
inline bool HasNoControlBytes(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

// A text line of a file or message: UTF-8 without control bytes or C1
// controls (U+0080..U+009F, which some terminals obey).
inline bool IsCleanLine(std::string_view s) {
    if (!HasNoControlBytes(s) || !IsUtf8(s)) return false;
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (static_cast<unsigned char>(s[i]) == 0xC2 && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(s[i + 1]) <= 0x9F)
            return false;
    return true;
}

// Splits text whose every line ends in CR LF; false when a CR or LF stands
// anywhere else (then lines is incomplete).
inline bool SplitCrLf(std::string_view text, std::vector<std::string>& lines) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n') return false;
            lines.emplace_back(text.substr(start, i - start));
            start = i + 2;
            ++i;
        } else if (text[i] == '\n') {
            return false;
        }
    }
    return start == text.size();
}

// Boxes that answer at once with the answer that changes nothing, and count.
class QuietBoxes final : public MessageBoxes {
public:
    MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons) override {
        shown.push_back({text, caption});
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        Show(text, caption, buttons);
        if (answered) answered(MessageAnswer::No);
        return true;
    }
    struct Box {
        std::string text;
        std::string caption;
    };
    std::vector<Box> shown;
};

// The Qt pieces the file code uses want an application object; one for the
// whole run, made in LLVMFuzzerInitialize.
inline void MakeApplication(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QCoreApplication* app = new QCoreApplication(*argc, *argv);
    (void)app;
}

// A private folder for the files of one run, in memory when /dev/shm exists.
inline std::unique_ptr<QTemporaryDir> ScratchDir() {
    const QString base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
    auto dir = std::make_unique<QTemporaryDir>(base + "/kestrel-fuzz-XXXXXX");
    if (!dir->isValid()) Fail("scratch folder", __FILE__, __LINE__, base.toStdString());
    return dir;
}

}  // namespace kestrel::fuzz
