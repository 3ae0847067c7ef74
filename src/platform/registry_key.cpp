#include "platform/registry_key.h"

#include "platform/file_replace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace kestrel {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

constexpr qint64 kMaxSettingsBytes = 1 << 20;

bool IsIniSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The physical line (from 1) that holds byte `offset`.
int LineAt(QByteArrayView data, qsizetype offset) {
    int line = 1;
    for (qsizetype i = 0; i < offset && i < data.size(); ++i) {
        if (data[i] == '\n') ++line;
        else if (data[i] == '\r' && (i + 1 >= data.size() || data[i + 1] != '\n')) ++line;
    }
    return line;
}

// Qt reads a damaged file as far as it can, reports the damage only to the
// first reader in the process and then writes over it. A file is therefore
// checked here, on every read, cut into lines as Qt's reader cuts it: a
// backslash takes the next character with it (a line break too), a quote
// runs on to the next quote, and ';' starts a comment. Only blank lines,
// comments, [section] and name=value lines pass; so does no line that runs
// over a line break, which no writer of this file produces: what a person
// reads as the next line would be part of this one for the program.
std::string FindFormatError(const QByteArray& bytes) {
    QByteArrayView data(bytes);
    qsizetype bom = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const qsizetype n = data.size();
    qsizetype pos = bom;
    while (pos < n) {
        qsizetype lineStart = pos;
        while (lineStart < n && IsIniSpace(data[lineStart])) ++lineStart;
        qsizetype i = lineStart;
        bool inQuotes = false;
        bool hasEquals = false;
        while (i < n) {
            const char ch = data[i++];
            if (ch == '=') {
                if (!inQuotes) hasEquals = true;
            } else if (ch == '\n' || ch == '\r') {
                if (i == lineStart + 1) ++lineStart;
                else if (!inQuotes) {
                    --i;
                    break;
                }
            } else if (ch == '\\') {
                if (i < n) {
                    const char next = data[i++];
                    if (i < n && ((next == '\n' && data[i] == '\r') || (next == '\r' && data[i] == '\n'))) ++i;
                }
            } else if (ch == '"') {
                inQuotes = !inQuotes;
            } else if (ch == ';') {
                if (i == lineStart + 1) {
                    while (i < n && data[i] != '\n' && data[i] != '\r') ++i;
                    while (i < n && IsIniSpace(data[i])) ++i;
                    lineStart = i;
                } else if (!inQuotes) {
                    --i;
                    break;
                }
            }
        }
        pos = i;
        QByteArrayView line = data.sliced(lineStart, i - lineStart);
        while (!line.isEmpty() && IsIniSpace(line.back())) line.chop(1);
        if (line.isEmpty()) continue;
        const int number = LineAt(data, lineStart);
        if (line.contains('\n') || line.contains('\r'))
            return "line " + std::to_string(number) +
                   " runs on into the next line (it ends in a backslash or leaves a quote open)";
        if (line.startsWith('#')) continue;
        const bool ok = line.startsWith('[') ? line.endsWith(']') : hasEquals && !line.startsWith('=');
        if (!ok) return "line " + std::to_string(number) + " is neither a [section] nor a name=value line";
    }
    return {};
}

// Qt reads and writes the file as UTF-8: a line that is not would be
// written back with its bytes replaced. A NUL byte is no text either (Qt
// writes a value list that holds one back without what follows it).
std::string FindUnwritableText(const QByteArray& bytes) {
    const QByteArrayView data(bytes);
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0) end = data.size();
        const QByteArrayView line = data.sliced(start, end - start);
        if (!line.isValidUtf8() || line.contains('\0'))
            return "line " + std::to_string(LineAt(data, start)) + " is not UTF-8 text";
        start = end + 1;
    }
    return {};
}

// Every value of a settings text as a fresh reader parses it, by group and
// name; from a copy under a name of its own, since Qt keeps what it parsed
// by file name.
std::optional<std::map<QString, QVariant>> ParseAll(const QByteArray& bytes, const QString& beside) {
    QTemporaryFile copy(beside + ".check.XXXXXX");
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) return std::nullopt;
    copy.close();
    QSettings settings(copy.fileName(), QSettings::IniFormat);
    std::map<QString, QVariant> values;
    for (const QString& name : settings.allKeys()) values[name] = settings.value(name);
    return values;
}

// A fresh QSettings for every read and flush: its status is sticky, so an
// object that once failed would report failure for ever after.
std::unique_ptr<QSettings> ReadSettingsFile(const std::string& path, std::string& why) {
    const QFileInfo info(Q(path));
    if (info.exists()) {
        if (!info.isFile()) {
            why = path + " is not a file";
            return nullptr;
        }
        QFile file(Q(path));
        if (!file.open(QIODevice::ReadOnly)) {
            why = path + " cannot be read: " + S(file.errorString());
            return nullptr;
        }
        if (file.size() > kMaxSettingsBytes) {
            why = path + " is too large for a settings file";
            return nullptr;
        }
        const std::string error = FindFormatError(file.readAll());
        if (!error.empty()) {
            why = path + " is not a valid settings file: " + error;
            return nullptr;
        }
    }
    auto settings = std::make_unique<QSettings>(Q(path), QSettings::IniFormat);
    if (settings->status() == QSettings::FormatError) {
        why = path + " is not a valid settings file";
        return nullptr;
    }
    if (settings->status() != QSettings::NoError) {
        why = path + " cannot be read";
        return nullptr;
    }
    return settings;
}

}  // namespace

RegistryKey::RegistryKey(const std::string& file, std::string keyName)
    : path_(file.empty() ? DefaultFile() : file), keyName_(std::move(keyName)) {
    path_ = S(QFileInfo(Q(path_)).absoluteFilePath());
}

RegistryKey::~RegistryKey() { Close(); }

std::string RegistryKey::DefaultFile() {
    return S(QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + "/kestrel/kestrel-raid-gui.ini");
}

std::string RegistryKey::Directory() const { return S(QFileInfo(Q(path_)).absolutePath()) + "/"; }

RegistryKey::Presence RegistryKey::Probe() const {
    if (!QFileInfo(Q(path_)).exists()) return Presence::Absent;
    std::string why;
    const auto settings = ReadSettingsFile(path_, why);
    if (!settings) return Presence::Unreadable;
    return settings->childGroups().contains(Q(keyName_)) ? Presence::Present : Presence::Absent;
}

bool RegistryKey::Fail(const std::string& why) {
    error_ = why;
    return false;
}

bool RegistryKey::CreatePrivateFile() {
    const QFileInfo info(Q(path_));
    if (info.exists()) return true;
    QDir dir = info.absoluteDir();
    if (!dir.exists()) {
        if (!QDir().mkpath(dir.absolutePath())) return Fail("cannot create the folder " + S(dir.absolutePath()));
        QFile::setPermissions(dir.absolutePath(), kOwnerOnly | QFileDevice::ExeOwner);
    }
    // Private before anything is written into it.
    QFile file(Q(path_));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly))
        return Fail("cannot create " + path_ + ": " + S(file.errorString()));
    return true;
}

bool RegistryKey::Open(bool create) {
    if (!QFileInfo(Q(path_)).exists()) {
        if (!create) return Fail(path_ + " does not exist");
        if (!CreatePrivateFile()) return false;
    }
    open_ = true;
    if (!Reload()) {
        open_ = false;
        return false;
    }
    return true;
}

bool RegistryKey::Reload() {
    if (!open_) return Fail("the settings key is not open");
    std::string why;
    const auto settings = ReadSettingsFile(path_, why);
    if (!settings) return Fail(why);
    std::map<std::string, QVariant> fresh;
    settings->beginGroup(Q(keyName_));
    for (const QString& name : settings->childKeys()) fresh[S(name)] = settings->value(name);
    settings->endGroup();
    for (const std::string& name : pending_) fresh[name] = values_[name];
    values_ = std::move(fresh);
    return true;
}

bool RegistryKey::Close() {
    if (!open_) return true;
    const bool flushed = Flush();
    open_ = false;
    values_.clear();
    pending_.clear();
    before_.clear();
    return flushed;
}

std::vector<std::string> RegistryKey::ValueNames() const {
    std::vector<std::string> names;
    for (const auto& [name, value] : values_) names.push_back(name);
    return names;
}

std::optional<std::string> RegistryKey::ReadString(const std::string& name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    const QVariant& v = it->second;
    switch (v.typeId()) {
    case QMetaType::QString:
        return S(v.toString());
    case QMetaType::QStringList:
        // An unquoted comma in a hand-edited value splits it into a list.
        return S(v.toStringList().join(", "));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return S(v.toString());
    default:
        return std::nullopt;
    }
}

std::optional<int32_t> RegistryKey::ReadInteger(const std::string& name) const {
    const auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    const QVariant& v = it->second;
    long long number = 0;
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        number = v.toLongLong();
        break;
    case QMetaType::QString: {
        const std::string text = S(v.toString().trimmed());
        const char* first = text.data();
        const char* last = text.data() + text.size();
        const auto [end, ec] = std::from_chars(first, last, number);
        if (text.empty() || ec != std::errc() || end != last) return std::nullopt;
        break;
    }
    default:
        return std::nullopt;
    }
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

std::optional<std::vector<uint8_t>> RegistryKey::ReadBinary(const std::string& name) const {
    const auto it = values_.find(name);
    if (it == values_.end() || it->second.typeId() != QMetaType::QByteArray) return std::nullopt;
    const QByteArray bytes = it->second.toByteArray();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool RegistryKey::Write(const std::string& name, QVariant value) {
    if (!open_) return Fail("the settings key is not open");
    if (!pending_.count(name)) {
        const auto it = values_.find(name);
        before_[name] = it == values_.end() ? std::nullopt : std::optional<QVariant>(it->second);
    }
    values_[name] = std::move(value);
    pending_.insert(name);
    return true;
}

bool RegistryKey::WriteString(const std::string& name, const std::string& value) { return Write(name, Q(value)); }

bool RegistryKey::WriteInteger(const std::string& name, uint32_t value) {
    return Write(name, QVariant::fromValue(static_cast<uint>(value)));
}

bool RegistryKey::WriteBinary(const std::string& name, const std::vector<uint8_t>& value) {
    return Write(name, QByteArray(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size())));
}

void RegistryKey::DiscardPendingWrites() {
    for (auto& [name, value] : before_) {
        if (value) values_[name] = *value;
        else values_.erase(name);
    }
    before_.clear();
    pending_.clear();
}

bool RegistryKey::Flush() {
    if (pending_.empty()) return true;
    if (!open_) return Fail("the settings key is not open");
    const std::string notWritten = "; the settings were not written";
    struct stat original {};
    const bool existed = lstat(path_.c_str(), &original) == 0;
    // Writing through a link would replace a file somewhere else, owned by
    // someone else.
    if (existed && S_ISLNK(original.st_mode))
        return Fail(path_ + " is a symbolic link" + notWritten + " (name the file itself with --registry)");
    if (existed && !S_ISREG(original.st_mode)) return Fail(path_ + " is not a file" + notWritten);

    QByteArray bytes;
    if (existed) {
        QFile file(Q(path_));
        if (!file.open(QIODevice::ReadOnly)) return Fail(path_ + " cannot be read: " + S(file.errorString()) + notWritten);
        if (file.size() > kMaxSettingsBytes) return Fail(path_ + " is too large for a settings file" + notWritten);
        bytes = file.readAll();
        std::string why = FindFormatError(bytes);
        if (why.empty()) why = FindUnwritableText(bytes);
        if (!why.empty()) return Fail(path_ + ": " + why + notWritten);
    } else if (!CreatePrivateFile()) {  // removed while the program ran
        return false;
    }

    // The new file is made beside the old one from a copy of it, given the
    // old one's owner, and then replaces it in one step: a crash leaves the
    // old file or the new one, never half of either.
    QTemporaryFile temp(Q(path_) + ".XXXXXX");
    temp.setAutoRemove(true);
    if (!temp.open() || temp.write(bytes) != bytes.size() || !temp.flush())
        return Fail("cannot write beside " + path_ + ": " + S(temp.errorString()));
    const std::string tempPath = S(temp.fileName());
    temp.close();
    {
        QSettings settings(Q(tempPath), QSettings::IniFormat);
        settings.beginGroup(Q(keyName_));
        for (const std::string& name : pending_) settings.setValue(Q(name), values_[name]);
        settings.endGroup();
        settings.sync();
        if (settings.status() != QSettings::NoError) return Fail("cannot write " + path_);
    }
    // Qt writes back some values it read differently (a value list that
    // holds a NUL character comes back cut short): every value not written
    // now must read as it did, and every one written now must be there.
    QFile result(Q(tempPath));
    if (!result.open(QIODevice::ReadOnly)) return Fail("cannot read back " + tempPath);
    const QByteArray written = result.readAll();
    const auto after = ParseAll(written, Q(path_));
    if (!after) return Fail("cannot check " + path_ + notWritten);
    std::set<QString> names;
    for (const std::string& name : pending_) names.insert(Q(keyName_ + "/" + name));
    for (const QString& name : names)
        if (!after->count(name)) return Fail("cannot write " + path_ + notWritten);
    if (existed) {
        const auto before = ParseAll(bytes, Q(path_));
        if (!before) return Fail("cannot check " + path_ + notWritten);
        for (const auto& [name, value] : *before) {
            if (names.count(name)) continue;
            const auto kept = after->find(name);
            if (kept == after->end() || kept->second != value)
                return Fail(path_ + ": the value " + S(name) + " would not be written back as it is" + notWritten);
        }
    }
    // The file keeps its owner; every write, the flush and the close are
    // checked before it takes the name.
    ReplaceOptions options;
    options.mode = 0600;
    options.keepOwner = existed;
    const ReplaceResult replaced = ReplaceFile(path_, std::string_view(written.constData(), static_cast<size_t>(written.size())), options);
    if (!replaced) return Fail(replaced.error + notWritten);
    pending_.clear();
    before_.clear();
    return true;
}

}  // namespace kestrel
