#include "eventlog/known_enclosures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <charconv>

#include "platform/file_replace.h"
#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel {

namespace {
constexpr size_t kIdentifySerial = 20;
constexpr size_t kIdentifySerialLength = 20;

std::string Trimmed(std::string text) {
    const size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = text.find_first_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin);
}
}  // namespace

std::string EnclosureIdentity(const Block512& identify) {
    std::string id = Trimmed(DeviceText(status::IdentifyModel(identify))) + "/" +
                     Trimmed(DeviceText(status::AtaString(identify, kIdentifySerial, kIdentifySerialLength)));
    // One line of the file each, its fields apart.
    for (char& c : id)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return id;
}

KnownEnclosures::KnownEnclosures(std::string path) : path_(std::move(path)) {}

void KnownEnclosures::Load() {
    loaded_ = true;
    if (path_.empty()) return;
    QFile file(QString::fromLocal8Bit(path_.c_str()));
    if (!file.open(QIODevice::ReadOnly)) return;
    // "identity TAB diskState TAB envFlags", numbers in decimal.
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QList<QByteArray> f = raw.split('\t');
        if (f.size() != 3) continue;
        unsigned disk = 0, env = 0;
        const std::string d = f[1].toStdString(), e = f[2].toStdString();
        if (std::from_chars(d.data(), d.data() + d.size(), disk).ec != std::errc() || disk > 255) continue;
        if (std::from_chars(e.data(), e.data() + e.size(), env).ec != std::errc() || env > 255) continue;
        known_[f[0].toStdString()] = KnownState{static_cast<uint8_t>(disk), static_cast<uint8_t>(env)};
    }
}

std::optional<KnownState> KnownEnclosures::Find(const std::string& identity) {
    if (!loaded_) Load();
    const auto it = known_.find(identity);
    if (it == known_.end()) return std::nullopt;
    return it->second;
}

std::string KnownEnclosures::Update(const std::string& identity, KnownState state) {
    if (!loaded_) Load();
    const auto it = known_.find(identity);
    if (it != known_.end() && it->second.diskState == state.diskState && it->second.envFlags == state.envFlags)
        return {};
    known_[identity] = state;
    if (path_.empty()) return {};
    std::string text;
    for (const auto& [id, s] : known_)
        text += id + "\t" + std::to_string(s.diskState) + "\t" + std::to_string(s.envFlags) + "\n";
    const QString folder = QFileInfo(QString::fromLocal8Bit(path_.c_str())).absolutePath();
    if (!QDir().mkpath(folder)) return "cannot create " + folder.toLocal8Bit().toStdString();
    ReplaceOptions options;
    options.mode = 0600;
    options.regularOnly = true;
    return ReplaceFile(path_, text, options).error;
}

}  // namespace kestrel
