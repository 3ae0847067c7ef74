#include "eventlog/log_viewer.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cstring>

namespace kestrel {

QStringList DialogNameFilters(std::string_view filter) {
    QStringList parts = QString::fromLatin1(filter.data(), static_cast<qsizetype>(filter.size())).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        if (description.contains('(')) {
            out << description;
            continue;
        }
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == "*.*") p = "*";
        out << description + " (" + patterns.join(' ') + ")";
    }
    return out;
}

QString DisplayLine(const char* data, size_t size) {
    const auto length = static_cast<qsizetype>(size);
    const bool ascii = std::all_of(data, data + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    QString line;
    if (ascii) {
        line = QString::fromLatin1(data, length);
    } else {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        line = utf8.decode(QByteArrayView(data, length));
        if (utf8.hasError()) line = QString::fromLatin1(data, length);
    }
    for (QChar& c : line) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t') || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029) c = u'?';
    }
    return line;
}

namespace {

// continues: the line goes on in the next step of the file.
void AddLine(MemoLines& out, const char* data, size_t size, LineEnd end, bool continues = false) {
    const QString line = DisplayLine(data, size);
    qsizetype at = 0;
    do {
        qsizetype n = std::min(kMaxMemoLine, line.size() - at);
        if (at + n < line.size() && line[at + n - 1].isHighSurrogate()) --n;
        out.text += QStringView(line).mid(at, n);
        at += n;
        const bool joined = at < line.size() || continues;
        if (joined || end != LineEnd::None) out.text += u'\n';
        if (joined)
            out.joinedLines.push_back(out.count);
        else if (end == LineEnd::Lf)
            out.lfLines.push_back(out.count);
        ++out.count;
    } while (at < line.size());
}

}  // namespace

LogViewer::LogViewer(const EventLog& log, std::function<bool()> monitoringActive)
    : log_(log),
      monitoringActive_(std::move(monitoringActive)),
      shownLineCount_(log.LineCount()),
      shownEpoch_(log.Epoch()) {}

MemoLines LogViewer::LogLines(size_t from, size_t to) const {
    MemoLines out;
    to = std::min(to, log_.LineCount());
    for (size_t i = from; i < to; ++i) {
        const std::string& line = log_.Line(i);
        AddLine(out, line.data(), line.size(), LineEnd::CrLf);  // as the day's file has them
    }
    return out;
}

ViewerUpdate LogViewer::MirrorState() const {
    ViewerUpdate u;
    const bool active = monitoringActive_();
    u.caption = active ? kViewerCaptionRealTime : kViewerCaptionPaused;
    u.tone = active ? ViewerTone::WindowText : ViewerTone::GrayText;
    u.followEnd = true;
    return u;
}

ViewerUpdate LogViewer::Show() {
    mirroring_ = true;
    ViewerUpdate u = MirrorState();
    u.memo = ViewerUpdate::Memo::Replace;
    u.lines = LogLines(0, shownLineCount_);
    return u;
}

ViewerUpdate LogViewer::Timer1Tick() {
    if (!mirroring_) return {};
    ViewerUpdate u = MirrorState();
    // Paused: the count stays, so what is added meanwhile follows later.
    if (!monitoringActive_()) return u;
    const size_t count = log_.LineCount();
    // A new list (a new day, or an earlier run's file put in front) no longer
    // holds the lines shown, even when it has grown past their number.
    if (log_.Epoch() != shownEpoch_ || count < shownLineCount_) {
        u.memo = ViewerUpdate::Memo::Replace;
        u.lines = LogLines(0, count);
    } else if (count > shownLineCount_) {
        u.memo = ViewerUpdate::Memo::Append;
        u.lines = LogLines(shownLineCount_, count);
    }
    shownLineCount_ = count;
    shownEpoch_ = log_.Epoch();
    return u;
}

ViewerUpdate LogViewer::RealTimeLog() {
    DropFile();
    mirroring_ = true;
    ViewerUpdate u = MirrorState();
    shownLineCount_ = log_.LineCount();
    shownEpoch_ = log_.Epoch();
    u.memo = ViewerUpdate::Memo::Replace;
    u.lines = LogLines(0, shownLineCount_);
    return u;
}

void LogViewer::StopMirroring() { mirroring_ = false; }

void LogViewer::DropFile() {
    fileBytes_.clear();
    fileOffset_ = 0;
}

ViewerUpdate LogViewer::ViewLogFile(const std::string& path) {
    ViewerUpdate u;
    LogFileBytes file = ReadLogFileBytes(path);
    if (file.status != LogFileContent::Status::Loaded) {
        u.error = LogFileProblem(file.status == LogFileContent::Status::Missing ? LogFileContent::Status::Unreadable
                                                                                : file.status,
                                 path);
        return u;
    }
    mirroring_ = false;
    fileBytes_ = std::move(file.bytes);
    fileOffset_ = 0;
    viewedLogPath_ = path;
    const QString name = QFileInfo(QString::fromLocal8Bit(path.c_str())).fileName();
    u.caption = kViewerCaptionFilePrefix + name.toLocal8Bit().toStdString();
    u.lines = NextFileChunk().lines;
    u.memo = ViewerUpdate::Memo::Replace;
    return u;
}

ViewerUpdate LogViewer::NextFileChunk() {
    ViewerUpdate u;
    if (!LoadingFile()) return u;
    const char* data = fileBytes_.data();
    const auto size = static_cast<size_t>(fileBytes_.size());
    const size_t from = fileOffset_;
    // A step ends after the first line end at or past the chunk size; a
    // line too long for that is cut, between characters.
    size_t end = size;
    bool cut = false;
    if (size - from > kChunkBytes) {
        const size_t searchFrom = from + kChunkBytes - 1;
        const size_t searchEnd = std::min(size, from + 2 * kChunkBytes);
        if (const void* lf = std::memchr(data + searchFrom, '\n', searchEnd - searchFrom)) {
            end = static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
        } else if (searchEnd < size) {
            end = from + kChunkBytes;
            while (end > from + 1 && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80) --end;
            cut = true;
        }
    }
    u.memo = ViewerUpdate::Memo::Append;
    ForEachLogLine(data + from, end - from, [&](const char* text, size_t length, LineEnd lineEnd) {
        AddLine(u.lines, text, length, lineEnd, cut && lineEnd == LineEnd::None);
    });
    fileOffset_ = end;
    if (!LoadingFile()) fileBytes_.clear();
    return u;
}

}  // namespace kestrel
