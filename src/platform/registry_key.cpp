#include "platform/registry_key.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <charconv>
#include <limits>
#include <memory>

namespace kestrel {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

constexpr qint64 kMaxSettingsBytes = 1 << 20;

// Qt reads a damaged file as far as it can, reports the damage only to the
// first reader in the process and then writes over it. A file is therefore
// checked here, on every read: blank lines, comments, [section] and
// name=value lines only.
std::string FindFormatError(const QByteArray& data) {
    QByteArrayView rest(data);
    if (rest.startsWith("\xEF\xBB\xBF")) rest = rest.sliced(3);
    int number = 0;
    while (!rest.isEmpty()) {
        qsizetype end = 0;
        while (end < rest.size() && rest[end] != '\n' && rest[end] != '\r') ++end;
        const QByteArrayView line = rest.first(end).trimmed();
        qsizetype next = end;
        if (next < rest.size() && rest[next] == '\r') ++next;
        if (next < rest.size() && rest[next] == '\n') ++next;
        rest = rest.sliced(next);
        ++number;
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) continue;
        const bool ok = line.startsWith('[') ? line.endsWith(']') : line.contains('=') && !line.startsWith('=');
        if (!ok) return "line " + std::to_string(number) + " is neither a [section] nor a name=value line";
    }
    return {};
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

bool RegistryKey::Flush() {
    if (pending_.empty()) return true;
    if (!open_) return Fail("the settings key is not open");
    // Removed while the program ran: written again from what is pending.
    if (!CreatePrivateFile()) return false;
    std::string why;
    const auto settings = ReadSettingsFile(path_, why);
    if (!settings) return Fail(why + "; the settings were not written");
    settings->beginGroup(Q(keyName_));
    for (const std::string& name : pending_) settings->setValue(Q(name), values_[name]);
    settings->endGroup();
    settings->sync();
    if (settings->status() != QSettings::NoError) return Fail("cannot write " + path_);
    // The file may have been replaced through a temporary one.
    if (!QFile::setPermissions(Q(path_), kOwnerOnly)) return Fail("cannot make " + path_ + " private");
    pending_.clear();
    return true;
}

}  // namespace kestrel
