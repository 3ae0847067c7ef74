#include "notify/mail_queue.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "platform/file_replace.h"

namespace kestrel {

namespace {

constexpr char kMagic[] = "kestrel-alert-mail 1";

std::string FileName(uint64_t id) {
    char name[40];
    std::snprintf(name, sizeof name, "alert-%020llu.mail", static_cast<unsigned long long>(id));
    return name;
}

// One line of the file: a line break inside a text must not forge another.
std::string Flat(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string Encoded(const QueuedMail& m) {
    std::string text = std::string(kMagic) + "\n";
    text += "id " + std::to_string(m.id) + "\n";
    text += "kind " + std::to_string(m.kind) + "\n";
    text += "enclosure " + std::to_string(m.enclosureIndex) + "\n";
    text += "disk " + std::to_string(m.memberDisk) + "\n";
    text += "heading " + Flat(m.heading) + "\n";
    text += "date " + Flat(m.composedAt) + "\n";
    text += "report " + std::to_string(m.report.size()) + "\n";
    for (const std::string& line : m.report) text += Flat(line) + "\n";
    return text;
}

template <typename T>
bool Number(const std::string& text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// False for a file that is not one of ours, or cut short.
bool Decoded(const QByteArray& bytes, QueuedMail& m) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : bytes) {
        if (c == '\n') lines.push_back(std::exchange(line, {}));
        else line.push_back(c);
    }
    if (!line.empty() || lines.size() < 8 || lines[0] != kMagic) return false;
    auto field = [&](size_t i, const char* name, std::string& value) {
        const std::string prefix = std::string(name) + " ";
        if (lines[i].rfind(prefix, 0) != 0) return false;
        value = lines[i].substr(prefix.size());
        return true;
    };
    std::string id, kind, enclosure, disk, count;
    if (!field(1, "id", id) || !field(2, "kind", kind) || !field(3, "enclosure", enclosure) ||
        !field(4, "disk", disk) || !field(5, "heading", m.heading) || !field(6, "date", m.composedAt) ||
        !field(7, "report", count))
        return false;
    size_t reportLines = 0;
    if (!Number(id, m.id) || !Number(kind, m.kind) || !Number(enclosure, m.enclosureIndex) ||
        !Number(disk, m.memberDisk) || !Number(count, reportLines) || lines.size() != 8 + reportLines)
        return false;
    m.report.assign(lines.begin() + 8, lines.end());
    return true;
}

}  // namespace

std::string MailQueueFolder(const std::string& stateDir) {
    return stateDir.empty() ? std::string() : stateDir + "/alert-mail";
}

MailQueue::MailQueue(std::string folder) : folder_(std::move(folder)) {}

size_t MailQueue::Load() {
    if (folder_.empty()) return 0;
    const QDir dir(QString::fromLocal8Bit(folder_.c_str()));
    // The names hold the ids with leading zeros: by name is by age.
    const QStringList names = dir.entryList({"alert-*.mail"}, QDir::Files, QDir::Name);
    size_t loaded = 0;
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        QueuedMail m;
        // A file that is not a whole mail of ours stays where it is, untouched.
        if (!Decoded(file.read(1 << 20), m)) continue;
        m.path = file.fileName().toLocal8Bit().toStdString();
        nextId_ = std::max(nextId_, m.id + 1);
        mails_.push_back(std::move(m));
        ++loaded;
    }
    return loaded;
}

MailQueue::AddResult MailQueue::Add(QueuedMail mail) {
    AddResult result;
    if (mails_.size() >= kCapacity) return result;
    result.queued = true;
    mail.id = nextId_++;
    mail.path.clear();
    if (!folder_.empty()) {
        const QString dir = QString::fromLocal8Bit(folder_.c_str());
        if (!QDir().mkpath(dir)) {
            result.error = "cannot create " + folder_;
        } else {
            QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            const std::string path = folder_ + "/" + FileName(mail.id);
            ReplaceOptions options;
            options.mode = 0600;
            options.regularOnly = true;
            const ReplaceResult written = ReplaceFile(path, Encoded(mail), options);
            if (written) mail.path = path;
            else result.error = written.error;
        }
    }
    mails_.push_back(std::move(mail));
    return result;
}

void MailQueue::DropHead() {
    if (mails_.empty()) return;
    Forget(mails_.front().path);
    mails_.pop_front();
}

void MailQueue::Forget(const std::string& path) {
    if (!path.empty()) ::unlink(path.c_str());
}

void MailQueue::Tell(const MailOutcome& outcome) const {
    for (const MailOutcomeListener& listener : listeners_)
        if (listener) listener(outcome);
}

}  // namespace kestrel
