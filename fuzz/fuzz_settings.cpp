// The settings file as the program finds it at start-up: the key's damage
// check, the load of every value, and the password unscrambling. An input
// whose first byte is odd is a "ProductID" value alone; otherwise the rest
// is the whole settings file.
//
// Properties, password: fewer than 18 bytes give "ErrorFormat"; a decoded
// password is at most 15 characters without a zero byte, with the salt of
// byte 16, and scrambles back to a value that decodes to the same password
// and switch.
// Properties, file: start-up and load never lose what the file holds (the
// file is either left byte for byte, or rewritten with every value it had
// and "EMailSend" added); a damaged file is reported in the status bar and
// nothing is loaded from it; what is loaded keeps its limits (six texts, at
// most ten usable recipients, at most "ToAddrCount" of them, an absolute
// text folder, a switch of 0, 1 or 2 with "ErrorFormat" exactly for 2).
#include <QFile>
#include <map>

#include "notify/mail_settings_store.h"
#include "notify/password_scramble.h"
#include "platform/registry_key.h"
#include "platform/smtp_client.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

namespace {

void CheckPassword(const DecodedPassword& d, const std::vector<uint8_t>& value) {
    FUZZ_CHECK(d.authSwitch <= kAuthUndecodable, std::to_string(d.authSwitch));
    if (value.size() < kProductIdSize) {
        FUZZ_CHECK(d.text == kErrorFormat && d.authSwitch == kAuthUndecodable, "a short value decoded");
        return;
    }
    FUZZ_CHECK(d.salt && *d.salt == value[16], "salt");
    if (d.authSwitch == kAuthUndecodable) {
        FUZZ_CHECK(d.text == kErrorFormat, Shown(d.text));
        return;
    }
    FUZZ_CHECK(d.text.size() <= kPasswordMaxLength && d.text.find('\0') == std::string::npos,
               "password " + Shown(d.text));
    const auto again = ScramblePassword(d.text, *d.salt, d.authSwitch == kAuthOn);
    const DecodedPassword back = UnscramblePassword(again);
    FUZZ_CHECK(back.text == d.text && back.authSwitch == d.authSwitch, "scrambled back: " + Shown(back.text));
}

// Every value of the key as a fresh reader sees it: from a copy under a
// new name, since Qt takes a file it parsed before for unchanged when its
// size and time are (and a flush in the same millisecond may keep both).
std::map<std::string, QVariant> ValuesOf(const std::string& file) {
    static unsigned copies = 0;
    const QString copy = QString::fromStdString(file) + ".copy" + QString::number(++copies);
    QFile::copy(QString::fromStdString(file), copy);
    std::map<std::string, QVariant> values;
    {
        RegistryKey key(copy.toStdString());
        if (key.Probe() == RegistryKey::Presence::Present && key.Open(false)) {
            for (const std::string& name : key.ValueNames()) {
                if (auto b = key.ReadBinary(name))
                    values[name] = QByteArray(reinterpret_cast<const char*>(b->data()), static_cast<qsizetype>(b->size()));
                else if (auto s = key.ReadString(name)) values[name] = QString::fromStdString(*s);
                else if (auto i = key.ReadInteger(name)) values[name] = *i;
                else values[name] = QVariant();
            }
        }
    }
    QFile::remove(copy);
    return values;
}

QByteArray Contents(const std::string& file) {
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::MakeApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    if (data[0] & 1) {
        const std::vector<uint8_t> value(data + 1, data + size);
        CheckPassword(UnscramblePassword(value), value);
        return 0;
    }
    static const auto scratch = fuzz::ScratchDir();
    static unsigned serial = 0;
    // A new name each time: Qt keeps parsed files by name, size and time.
    const std::string file = (scratch->path() + "/s" + QString::number(++serial) + ".ini").toStdString();
    {
        QFile f(QString::fromStdString(file));
        FUZZ_CHECK(f.open(QIODevice::WriteOnly), file);
        f.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1));
    }
    const QByteArray before = Contents(file);
    const auto valuesBefore = ValuesOf(file);
    {
        RegistryKey key(file);
        const RegistryKey::Presence presence = key.Probe();
        MailFlags flags;
        MemoryStatusBar bar;
        fuzz::QuietBoxes boxes;
        MailSettingsStore store(key, flags, bar, boxes, [] {});
        store.Startup();
        FUZZ_CHECK(boxes.shown.empty(), "a box at start-up: " + Shown(boxes.shown.front().text));
        if (presence == RegistryKey::Presence::Unreadable) {
            FUZZ_CHECK(!store.KeyPresent() && !flags.Test(mail_flag::kReloadSettings), "a damaged file was loaded");
            FUZZ_CHECK(bar.Panel(4).rfind("Settings unreadable: ", 0) == 0, "damage not reported: " + Shown(bar.Panel(4)));
        }
        if (flags.Test(mail_flag::kReloadSettings)) {
            store.LoadMailSettings();
            FUZZ_CHECK(store.SettingsLoaded() && store.MailSettings().size() == kMailSettingCount, "load");
            FUZZ_CHECK(store.ToAddrCount() <= kMaxRecipients, "ToAddrCount " + std::to_string(store.ToAddrCount()));
            FUZZ_CHECK(store.RecipientList().size() <= store.ToAddrCount(), "more recipients than counted");
            for (const std::string& r : store.RecipientList())
                FUZZ_CHECK(!r.empty() && MailAddressProblem(r).empty(), "recipient " + Shown(r));
            FUZZ_CHECK(!store.FilePath().empty() && store.FilePath().front() == '/', "folder " + Shown(store.FilePath()));
            FUZZ_CHECK(store.AuthSwitch() <= kAuthUndecodable, "switch");
            FUZZ_CHECK((store.AuthSwitch() == kAuthUndecodable) == (store.MailSetting(kPasswordSetting) == kErrorFormat),
                       "password " + Shown(store.MailSetting(kPasswordSetting)));
            FUZZ_CHECK(store.MailSetting(kPasswordSetting).size() <= kPasswordMaxLength ||
                           store.AuthSwitch() == kAuthUndecodable,
                       "password length");
        }
        key.Close();
    }
    // Nothing lost.
    const QByteArray after = Contents(file);
    if (after != before) {
        auto valuesAfter = ValuesOf(file);
        FUZZ_CHECK(valuesAfter.count("EMailSend") && !valuesBefore.count("EMailSend"),
                   "the file changed from " + Shown(before.toStdString()) + " to " + Shown(after.toStdString()));
        valuesAfter.erase("EMailSend");
        std::string changed;
        for (const auto& [name, value] : valuesBefore)
            if (!valuesAfter.count(name) || valuesAfter[name] != value)
                changed += " " + Shown(name) + "=" + Shown(value.toString().toStdString()) + " -> " +
                           (valuesAfter.count(name) ? Shown(valuesAfter[name].toString().toStdString()) : "(gone)");
        for (const auto& [name, value] : valuesAfter)
            if (!valuesBefore.count(name)) changed += " new " + Shown(name);
        FUZZ_CHECK(valuesAfter == valuesBefore, "values changed when EMailSend was added:" + changed);
    }
    QFile::remove(QString::fromStdString(file));
    return 0;
}
