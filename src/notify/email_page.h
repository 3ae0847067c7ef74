#pragma once
// The E-mail page's behaviour without its widgets: the fields as typed,
// the working recipient list that both address grids show, the sub-page
// selection, and storing or reverting through the settings store. The
// window mirrors State() and forwards its handlers here.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "notify/mail_settings_store.h"
#include "platform/user_interface.h"

namespace kestrel {

enum EmailSubPage : int { kEmailSetup = 0, kEmailHddFail = 1, kEmailDeviceRemove = 2 };

inline constexpr const char* kAddressErrorText = "E-Mail Address formula error!";
inline constexpr const char* kAddressErrorCaption = "E-Mail Message";
inline constexpr int kAddressGridRows = 10;
inline constexpr size_t kTimeOutMaxLength = 2;

struct EmailPageState {
    // Edit1 … Edit5 and Edit8, in MailSettings order.
    std::array<std::string, kMailSettingCount> fields;
    bool authentication = false;             // CheckBox8; Edit8 is shown only while set
    bool requireTls = false;                 // CheckBox_RequireTls
    std::string caFile;                      // Edit_CAFile
    std::array<bool, 2> dontSend{};          // CheckBox2, CheckBox4
    std::array<std::string, 2> subjects;     // Edit10, Edit11
    std::array<std::vector<std::string>, 2> contents;  // Memo6, Memo4
    std::array<std::string, 2> entries;      // Edit7 (HDD_Fail), Edit6 (DeviceRemove)
    std::array<int, 2> selectedRows{-1, -1}; // StringGrid1, StringGrid2
    std::vector<std::string> addresses;      // Memo7, shown by both grids
    int subPage = kEmailSetup;
    uint8_t fieldChanged = 0;
};

class EmailPage {
public:
    EmailPage(MailSettingsStore& store, MessageBoxes& messages) : store_(store), messages_(messages) {}

    const EmailPageState& State() const { return state_; }

    // Image_EmailClick, once navigation has allowed it.
    void Open();
    // Image3_SetupClick, Image3_HDDFailClick, Image3_DeviceRemoveClick.
    void SelectSubPage(int subPage);
    // Image3_1PClick / Image3_1MClick (both pairs of images).
    void Image3_1PClick();
    void Image3_1MClick();
    // StringGrid1SelectCell / StringGrid2SelectCell: grid 0 or 1.
    void StringGridSelectCell(int grid, int row);
    // Edit1Change … Edit5Change, Edit8Change.
    void FieldEdited(size_t index, const std::string& text);
    void CheckBox8Click(bool checked) { state_.authentication = checked; unstored_ = true; }
    void SetRequireTls(bool on) { state_.requireTls = on; unstored_ = true; }
    void SetCaFile(const std::string& path) { state_.caFile = path; unstored_ = true; }
    void SetDontSend(size_t kindIndex, bool checked) { state_.dontSend.at(kindIndex) = checked; unstored_ = true; }
    void SetSubject(size_t kindIndex, const std::string& text) { state_.subjects.at(kindIndex) = text; unstored_ = true; }
    void SetContents(size_t kindIndex, std::vector<std::string> lines) {
        state_.contents.at(kindIndex) = std::move(lines);
        unstored_ = true;
    }
    void SetEntry(size_t kindIndex, const std::string& text) { state_.entries.at(kindIndex) = text; }
    // Stores through the settings store; true when everything was stored.
    bool Image3_OKClick();
    // Back to what is stored; the "Don't send" ticks stay as they are.
    void Image3_IgnoreClick();

    // Something was edited since the page was filled or stored.
    bool Unstored() const { return unstored_; }

    // What a grid row shows: the address, or empty past the last one.
    std::string GridCell(int row) const;
    // An address needs an at sign and nothing that would break the SMTP
    // envelope (a blank, "<", ">", a control character).
    static bool AddressAcceptable(const std::string& address);

private:
    void Fill(bool keepDontSend);
    // The entry box and grid of the current sub-page; -1 on Setup.
    int CurrentList() const;

    MailSettingsStore& store_;
    MessageBoxes& messages_;
    EmailPageState state_;
    bool unstored_ = false;
};

}  // namespace kestrel
