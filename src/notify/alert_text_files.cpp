#include "notify/alert_text_files.h"

#include <QFile>
#include <QFileInfo>
#include <array>

#include "platform/file_replace.h"

namespace kestrel {

namespace {

constexpr std::array<std::string_view, kAlertKindCount> kCaptions = {"Hard Disks Fail", "Device Removed", "Over Heat",
                                                                   "Fan Fail"};

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

std::string_view AlertCaption(int kind) {
    if (kind < 1 || kind > kAlertKindCount) return {};
    return kCaptions[static_cast<size_t>(kind - 1)];
}

std::string SubjectFileName(int kind) { return "EmailSubject " + std::string(AlertCaption(kind)) + ".txt"; }

std::string ContentsFileName(int kind) { return "EmailContens " + std::string(AlertCaption(kind)) + ".txt"; }

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

TextFileRead ReadTextLines(const std::string& path) {
    TextFileRead result;
    const QFileInfo info(Q(path));
    if (!info.exists()) return result;
    // Directories, pipes and devices are not text files; a pipe would block.
    if (!info.isFile()) {
        result.error = "not a file";
        return result;
    }
    QFile file(Q(path));
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString().toStdString();
        return result;
    }
    const QByteArray bytes = file.read(kMaxAlertTextBytes);
    if (bytes.size() < kMaxAlertTextBytes && file.error() != QFileDevice::NoError) {
        result.error = file.errorString().toStdString();
        return result;
    }
    result.truncated = !file.atEnd();
    result.lines = SplitLines(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    return result;
}

namespace {

QByteArray Joined(const std::vector<std::string>& lines) {
    QByteArray bytes;
    for (const std::string& line : lines) {
        bytes.append(line.data(), static_cast<qsizetype>(line.size()));
        bytes.append("\r\n");
    }
    return bytes;
}

}  // namespace

std::string WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    const QByteArray bytes = Joined(lines);
    return ReplaceFile(path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))).error;
}

struct TextFileChange::Aside {
    explicit Aside(const std::string& path) : file(path) {}
    FileReplacement file;
};

TextFileChange::TextFileChange(std::string path, std::vector<std::string> lines)
    : path_(std::move(path)), lines_(std::move(lines)) {}
TextFileChange::~TextFileChange() = default;
TextFileChange::TextFileChange(TextFileChange&&) noexcept = default;
TextFileChange& TextFileChange::operator=(TextFileChange&&) noexcept = default;

std::string TextFileChange::Prepare() {
    if (lines_.empty()) {
        const QFileInfo info(Q(path_));
        if (info.exists() && !QFileInfo(info.absolutePath()).isWritable()) return "its folder is not writable";
        return {};
    }
    aside_ = std::make_unique<Aside>(path_);
    const QByteArray bytes = Joined(lines_);
    const ReplaceResult prepared =
        aside_->file.Prepare(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    if (!prepared) aside_.reset();
    return prepared.error;
}

std::string TextFileChange::Apply() {
    if (lines_.empty()) return RemoveTextFile(path_);
    if (!aside_) return "not prepared";
    const std::string error = aside_->file.Commit().error;
    aside_.reset();
    return error;
}

std::string RemoveTextFile(const std::string& path) {
    QFile file(Q(path));
    if (!QFileInfo(Q(path)).exists() || file.remove()) return {};
    return file.errorString().toStdString();
}

}  // namespace kestrel
