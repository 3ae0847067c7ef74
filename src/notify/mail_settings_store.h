#pragma once
// The e-mail notification settings: the in-memory copy that alert
// composition and delivery read, its load from the settings key and the
// alert text files, and the store that the E-mail page calls.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "notify/alert_text_files.h"
#include "notify/mail_flags.h"
#include "notify/password_scramble.h"
#include "platform/registry_key.h"
#include "platform/smtp_client.h"
#include "platform/user_interface.h"

namespace kestrel {

// Positions in MailSettings.
enum MailSettingIndex : size_t {
    kPortSetting = 0,
    kSmtpSetting = 1,
    kUserNameSetting = 2,
    kAddrSetting = 3,
    kTimeOutSetting = 4,
    kPasswordSetting = 5,
    kMailSettingCount = 6,
};

// The E-mail page's changed bits (FieldChanged).
namespace field_changed {
inline constexpr uint8_t kPort = 0x01;
inline constexpr uint8_t kHost = 0x02;
inline constexpr uint8_t kUserName = 0x04;
inline constexpr uint8_t kAddr = 0x08;
inline constexpr uint8_t kTimeOut = 0x10;
inline constexpr uint8_t kPassword = 0x20;   // also: the authentication switch changed
inline constexpr uint8_t kAddresses = 0x40;  // the address list was rewritten
}  // namespace field_changed

inline constexpr size_t kMaxRecipients = 10;

// Values kept beside the E-mail page's ones, set by hand (docs/settings.md):
// 1 asks for TLS with a verified certificate, or no mail at all; the CA
// file, when named, is trusted instead of the system's certificates.
inline constexpr const char* kRequireTlsValue = "SMTPRequireTLS";
inline constexpr const char* kCaFileValue = "SMTPCAFile";

// What the E-mail page hands to the store.
struct MailPageFields {
    // Port, host, name, address, time-out and password, in MailSettings order.
    std::array<std::string, kMailSettingCount> fields;
    uint8_t fieldChanged = 0;
    std::array<bool, 2> dontSend{};  // "Don't send EMail for this event." of kinds 1 and 2
    bool authentication = false;     // "SMTP Login Authentication"
    // Mail only over TLS with a verified certificate, against caFile or the
    // system's certificates; left as stored when not given.
    std::optional<bool> requireTls;
    std::optional<std::string> caFile;
    std::vector<std::string> addresses;
    std::array<std::string, 2> subjects;                // kinds 1 and 2
    std::array<std::vector<std::string>, 2> contents;   // kinds 1 and 2
};

struct SaveOutcome {
    bool ok = false;           // false: a message box said what was not saved
    uint8_t fieldChanged = 0;  // the page's bits, with the ones the store adds
};

class MailSettingsStore {
public:
    // pumpMessages lets the user interface process pending messages while
    // the alert texts load; empty: QCoreApplication::processEvents.
    MailSettingsStore(RegistryKey& key, MailFlags& flags, StatusBar& statusBar, MessageBoxes& messages,
                      std::function<void()> pumpMessages = {});

    // At start-up: finds out whether the key exists and, if so, asks for a load.
    void Startup();
    // Closing: the settings, recipients and alert texts are let go.
    void ReleaseLists() {
        mailSettings_ = {};
        recipients_ = {};
        texts_ = {};
        settingsLoaded_ = false;
    }
    // On the user-interface thread, from the mail step when ReloadSettings is set.
    void LoadMailSettings();
    void RequestReload();
    // The E-mail page's store button.
    SaveOutcome SaveMailSettings(const MailPageFields& page);

    bool KeyPresent() const { return keyPresent_; }
    bool SettingsLoaded() const { return settingsLoaded_; }
    // Empty until the first load; then always six entries.
    const std::vector<std::string>& MailSettings() const { return mailSettings_; }
    // "" for an index without a text.
    const std::string& MailSetting(size_t index) const;
    uint8_t AuthSwitch() const { return authSwitch_; }
    uint32_t EMailSend() const { return emailSend_; }
    // "ToAddrCount" as the last load used it (0..10).
    uint32_t ToAddrCount() const { return toAddrCount_; }
    const std::vector<std::string>& RecipientList() const { return recipients_; }
    // Kinds 1..4; any other kind has empty lists.
    const std::vector<std::string>& SubjectList(int kind) const;
    const std::vector<std::string>& ContentsList(int kind) const;
    const std::string& FilePath() const { return filePath_; }
    bool RequireTls() const { return requireTls_; }
    const std::string& CaFile() const { return caFile_; }
    uint8_t Salt() const { return salt_; }

private:
    struct EventTexts {
        std::vector<std::string> subject;
        std::vector<std::string> contents;
    };

    std::string TextFilePath(const std::string& name) const;
    void LoadTextFile(const std::string& name, std::vector<std::string>& lines);
    void ReportUnreadableKeyOnce();

    RegistryKey& key_;
    MailFlags& flags_;
    StatusBar& statusBar_;
    MessageBoxes& messages_;
    std::function<void()> pumpMessages_;

    bool keyPresent_ = false;
    bool settingsLoaded_ = false;
    bool unreadableReported_ = false;
    bool loading_ = false;
    uint64_t saves_ = 0;  // counts saves, so a load can tell that one ran inside it

    std::vector<std::string> mailSettings_;
    uint8_t authSwitch_ = kAuthOff;
    uint32_t emailSend_ = 0;
    uint32_t toAddrCount_ = 0;
    uint8_t salt_ = 0;
    std::vector<std::string> recipients_;
    std::array<EventTexts, kAlertKindCount> texts_;
    std::string filePath_;
    bool requireTls_ = false;
    std::string caFile_;
};

}  // namespace kestrel
