#include "notify/mail_settings_store.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

namespace kestrel {

namespace {

constexpr int kStatusPanel = 4;

// The five text settings, with their changed bits, in MailSettings order.
struct TextSetting {
    const char* name;
    uint8_t changedBit;
};
constexpr std::array<TextSetting, 5> kTextSettings = {{
    {"Port", field_changed::kPort},
    {"SMTP", field_changed::kHost},
    {"UserName", field_changed::kUserName},
    {"Addr", field_changed::kAddr},
    {"TimeOut", field_changed::kTimeOut},
}};

constexpr uint8_t kSettingBits = field_changed::kPort | field_changed::kHost | field_changed::kUserName |
                                 field_changed::kAddr | field_changed::kTimeOut | field_changed::kPassword;

std::string RecipientValueName(size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "ToAddr_%02X", static_cast<unsigned>(index & 0xFF));
    return name;
}

const std::vector<std::string> kNoLines;

}  // namespace

MailSettingsStore::MailSettingsStore(RegistryKey& key, MailFlags& flags, StatusBar& statusBar,
                                     MessageBoxes& messages, std::function<void()> pumpMessages)
    : key_(key),
      flags_(flags),
      statusBar_(statusBar),
      messages_(messages),
      pumpMessages_(std::move(pumpMessages)),
      filePath_(key.Directory()) {
    if (!pumpMessages_) pumpMessages_ = [] {
        if (QCoreApplication::instance()) QCoreApplication::processEvents();
    };
}

const std::string& MailSettingsStore::MailSetting(size_t index) const {
    static const std::string empty;
    return index < mailSettings_.size() ? mailSettings_[index] : empty;
}

const std::vector<std::string>& MailSettingsStore::SubjectList(int kind) const {
    return kind >= 1 && kind <= kAlertKindCount ? texts_[static_cast<size_t>(kind - 1)].subject : kNoLines;
}

const std::vector<std::string>& MailSettingsStore::ContentsList(int kind) const {
    return kind >= 1 && kind <= kAlertKindCount ? texts_[static_cast<size_t>(kind - 1)].contents : kNoLines;
}

void MailSettingsStore::ReportUnreadableKeyOnce() {
    if (unreadableReported_) return;
    unreadableReported_ = true;
    statusBar_.SetPanel(kStatusPanel, "Settings unreadable: " + key_.Error());
}

void MailSettingsStore::Startup() {
    mailSettings_.clear();
    recipients_.clear();
    texts_ = {};
    flags_.Reset();
    settingsLoaded_ = false;
    emailSend_ = 0;
    filePath_ = key_.Directory();

    const RegistryKey::Presence presence = key_.Probe();
    keyPresent_ = presence == RegistryKey::Presence::Present;
    if (presence == RegistryKey::Presence::Unreadable) {
        // Probe leaves no reason behind; Open finds it again.
        key_.Open(false);
        ReportUnreadableKeyOnce();
        return;
    }
    if (!keyPresent_) return;
    if (!key_.Open(true)) {
        keyPresent_ = false;
        ReportUnreadableKeyOnce();
        return;
    }
    const std::vector<std::string> names = key_.ValueNames();
    if (std::find(names.begin(), names.end(), "EMailSend") == names.end()) {
        key_.WriteInteger("EMailSend", 0);
        // A file the key cannot write back unchanged keeps what it holds.
        if (!key_.Flush()) {
            statusBar_.SetPanel(kStatusPanel, "Settings not saved: " + key_.Error());
            key_.DiscardPendingWrites();
        }
    }
    RequestReload();
}

void MailSettingsStore::RequestReload() {
    flags_.Set(mail_flag::kReloadSettings);
    settingsLoaded_ = false;
}

std::string MailSettingsStore::TextFilePath(const std::string& name) const {
    std::string folder = filePath_;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + name;
}

void MailSettingsStore::LoadTextFile(const std::string& name, std::vector<std::string>& lines) {
    TextFileRead read = ReadTextLines(TextFilePath(name));
    if (!read.error.empty()) statusBar_.SetPanel(kStatusPanel, "Cannot read " + name + ": " + read.error);
    else if (read.truncated) statusBar_.SetPanel(kStatusPanel, name + " is too large; its first 1 MB is used");
    lines = std::move(read.lines);
}

void MailSettingsStore::LoadMailSettings() {
    // The message pump below may run this again or run a save; a nested
    // load has nothing to add, and a save inside keeps its reload request.
    if (loading_) return;
    loading_ = true;
    const uint64_t savesBefore = saves_;

    if (key_.IsOpen() && !key_.Reload()) ReportUnreadableKeyOnce();

    const int32_t count = key_.ReadInteger("ToAddrCount").value_or(0);
    toAddrCount_ = static_cast<uint32_t>(std::clamp<int32_t>(count, 0, static_cast<int32_t>(kMaxRecipients)));
    emailSend_ = static_cast<uint32_t>(key_.ReadInteger("EMailSend").value_or(0));
    // The alert texts stay beside the settings unless "FilePath" names an
    // absolute folder; a relative one would depend on the working directory.
    const std::string folder = key_.ReadString("FilePath").value_or("");
    filePath_ = key_.Directory();
    if (!folder.empty() && folder.front() == '/' && folder.find('\0') == std::string::npos) filePath_ = folder;
    else if (!folder.empty()) statusBar_.SetPanel(kStatusPanel, "FilePath unusable; alert texts read from " + filePath_);

    mailSettings_.clear();
    for (const TextSetting& setting : kTextSettings) mailSettings_.push_back(key_.ReadString(setting.name).value_or(""));
    const std::string& sender = mailSettings_[kAddrSetting];
    if (!sender.empty() && !MailAddressProblem(sender).empty())
        statusBar_.SetPanel(kStatusPanel, "Addr is not usable as a sender: " + MailAddressProblem(sender) + "; no alert mail is sent");
    requireTls_ = key_.ReadInteger(kRequireTlsValue).value_or(0) != 0;
    caFile_ = key_.ReadString(kCaFileValue).value_or("");

    const std::vector<uint8_t> productId = key_.ReadBinary("ProductID").value_or(std::vector<uint8_t>{});
    DecodedPassword password = UnscramblePassword(productId);
    if (password.salt) salt_ = *password.salt;
    mailSettings_.push_back(std::move(password.text));
    authSwitch_ = password.authSwitch;

    recipients_.clear();
    for (size_t j = 0; j < toAddrCount_; ++j) {
        const std::string name = RecipientValueName(j);
        std::optional<std::string> address = key_.ReadString(name);
        if (!address || address->empty()) continue;
        if (const std::string problem = MailAddressProblem(*address); !problem.empty()) {
            statusBar_.SetPanel(kStatusPanel, name + " is not used: " + problem);
            continue;
        }
        recipients_.push_back(std::move(*address));
    }

    for (int kind = 1; kind <= kAlertKindCount; ++kind) {
        pumpMessages_();
        EventTexts& texts = texts_[static_cast<size_t>(kind - 1)];
        LoadTextFile(SubjectFileName(kind), texts.subject);
        LoadTextFile(ContentsFileName(kind), texts.contents);
    }

    if (saves_ == savesBefore) {
        settingsLoaded_ = true;
        flags_.Clear(mail_flag::kReloadSettings);
    }
    loading_ = false;
}

SaveOutcome MailSettingsStore::SaveMailSettings(const MailPageFields& page) {
    ++saves_;
    SaveOutcome outcome;
    outcome.fieldChanged = page.fieldChanged;

    // Refused before anything is written, so the key never holds half of it.
    auto refuse = [&](const std::string& why) {
        messages_.Show(why + " Nothing was saved.", "Error");
        return outcome;
    };
    if (page.fields[kPasswordSetting].size() > kPasswordMaxLength)
        return refuse("The SMTP password is too long: at most 15 characters can be stored.");
    if (page.addresses.size() > kMaxRecipients) return refuse("At most 10 e-mail addresses can be stored.");
    const std::string& sender = page.fields[kAddrSetting];
    if (!sender.empty() && !MailAddressProblem(sender).empty())
        return refuse("The e-mail address \"" + sender + "\" cannot be used: " + MailAddressProblem(sender) + ".");
    for (const std::string& address : page.addresses) {
        if (const std::string problem = MailAddressProblem(address); !problem.empty())
            return refuse("The e-mail address \"" + address + "\" cannot be used: " + problem + ".");
    }

    std::array<std::string, kMailSettingCount> fields = page.fields;
    if (fields[kPortSetting].empty()) fields[kPortSetting] = "25";
    if (fields[kTimeOutSetting].empty()) fields[kTimeOutSetting] = "0";

    const bool fresh = !keyPresent_;
    if (fresh && !key_.IsOpen() && !key_.Open(true)) return refuse("The e-mail settings were not saved: " + key_.Error() + ".");

    // The alert texts of kinds 1 and 2 (an empty field removes the file),
    // written aside first.
    std::vector<TextFileChange> files;
    for (int kind = 1; kind <= 2; ++kind) {
        const size_t k = static_cast<size_t>(kind - 1);
        std::vector<std::string> subject;
        if (!page.subjects[k].empty()) subject = {page.subjects[k]};
        files.emplace_back(TextFilePath(SubjectFileName(kind)), std::move(subject));
        files.emplace_back(TextFilePath(ContentsFileName(kind)), page.contents[k]);
    }
    for (TextFileChange& file : files) {
        if (const std::string error = file.Prepare(); !error.empty())
            return refuse("The e-mail settings were not saved: " + error + ".");
    }

    for (size_t i = 0; i < kTextSettings.size(); ++i) {
        if (fresh || (outcome.fieldChanged & kTextSettings[i].changedBit))
            key_.WriteString(kTextSettings[i].name, fields[i]);
    }

    const uint32_t mask = (emailSend_ & ~3u) | (page.dontSend[0] ? 1u : 0u) | (page.dontSend[1] ? 2u : 0u);
    key_.WriteInteger("EMailSend", mask);

    // Written only when the page changes them, so a file that never had
    // them keeps to the values it had.
    const bool requireTls = page.requireTls.value_or(requireTls_);
    const std::string caFile = page.caFile.value_or(caFile_);
    if (requireTls != requireTls_ || caFile != caFile_) {
        key_.WriteInteger(kRequireTlsValue, requireTls ? 1u : 0u);
        key_.WriteString(kCaFileValue, caFile);
    }

    if (page.authentication != ((authSwitch_ & 1) != 0)) outcome.fieldChanged |= field_changed::kPassword;
    if ((outcome.fieldChanged & kSettingBits) || fresh) {
        const auto productId = ScramblePassword(fields[kPasswordSetting], salt_, page.authentication);
        key_.WriteBinary("ProductID", std::vector<uint8_t>(productId.begin(), productId.end()));
    }

    if (page.addresses != recipients_) {
        key_.WriteInteger("ToAddrCount", static_cast<uint32_t>(page.addresses.size()));
        for (size_t j = 0; j < page.addresses.size(); ++j) key_.WriteString(RecipientValueName(j), page.addresses[j]);
        outcome.fieldChanged |= field_changed::kAddresses;
    } else if (fresh) {
        key_.WriteInteger("ToAddrCount", static_cast<uint32_t>(page.addresses.size()));
    }

    key_.WriteString("FilePath", filePath_);
    // With the key unwritten nothing changes: the loaded copy stays in use,
    // and the values typed on the page are written by the next store.
    if (!key_.Flush()) {
        key_.DiscardPendingWrites();
        outcome.fieldChanged = page.fieldChanged;
        return refuse("The e-mail settings were not saved: " + key_.Error() + ".");
    }

    emailSend_ = mask;
    std::vector<std::string> failures;
    for (TextFileChange& file : files) {
        if (const std::string error = file.Apply(); !error.empty()) failures.push_back(error);
    }
    RequestReload();
    keyPresent_ = true;
    if (!failures.empty()) {
        std::string text = "The e-mail settings were saved, but not every alert text:";
        for (const std::string& failure : failures) text += "\n" + failure;
        messages_.Show(text, "Error");
    }
    outcome.ok = failures.empty();
    return outcome;
}

}  // namespace kestrel
