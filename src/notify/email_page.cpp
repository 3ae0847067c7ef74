#include "notify/email_page.h"

#include "platform/smtp_client.h"

namespace kestrel {

namespace {

// The changed bit that each editable field sets.
constexpr std::array<uint8_t, kMailSettingCount> kFieldBits = {
    field_changed::kPort,     field_changed::kHost,    field_changed::kUserName,
    field_changed::kAddr,     field_changed::kTimeOut, field_changed::kPassword,
};

}  // namespace

bool EmailPage::AddressAcceptable(const std::string& address) {
    return address.find('@') != std::string::npos && MailAddressProblem(address).empty();
}

void EmailPage::Open() {
    Fill(false);
    SelectSubPage(state_.subPage);
    state_.fieldChanged = 0;
}

void EmailPage::Fill(bool keepDontSend) {
    // A store asks for a reload that the mail thread may not have run yet;
    // filling from the copy before it would show the values of before.
    if (store_.KeyPresent() && !store_.SettingsLoaded()) store_.LoadMailSettings();

    if (store_.KeyPresent()) {
        for (size_t i = 0; i < kMailSettingCount; ++i) state_.fields[i] = store_.MailSetting(i);
        if (!keepDontSend) {
            state_.dontSend[0] = (store_.EMailSend() & 1u) != 0;
            state_.dontSend[1] = (store_.EMailSend() & 2u) != 0;
        }
        state_.authentication = (store_.AuthSwitch() & 1u) != 0;
        state_.requireTls = store_.RequireTls();
        state_.caFile = store_.CaFile();
        for (int kind = 1; kind <= 2; ++kind) {
            const size_t k = static_cast<size_t>(kind - 1);
            const std::vector<std::string>& subject = store_.SubjectList(kind);
            state_.subjects[k] = subject.empty() ? std::string() : subject.front();
            state_.contents[k] = store_.ContentsList(kind);
        }
        state_.addresses = store_.RecipientList();
    } else {
        // Nothing stored: the defaults, and nothing typed survives a revert.
        state_.fields = {"25", "", "", "", "0", ""};
        state_.authentication = false;
        state_.requireTls = false;
        state_.caFile.clear();
        if (!keepDontSend) state_.dontSend = {};
        state_.subjects = {};
        state_.contents = {};
        state_.addresses.clear();
    }
    state_.selectedRows = {-1, -1};
    state_.fieldChanged = 0;
    unstored_ = false;
}

void EmailPage::SelectSubPage(int subPage) {
    if (subPage < kEmailSetup || subPage > kEmailDeviceRemove) return;
    state_.subPage = subPage;
    state_.entries = {};
}

int EmailPage::CurrentList() const {
    if (state_.subPage == kEmailHddFail) return 0;
    if (state_.subPage == kEmailDeviceRemove) return 1;
    return -1;
}

void EmailPage::Image3_1PClick() {
    const int list = CurrentList();
    if (list < 0) return;
    std::string& entry = state_.entries[static_cast<size_t>(list)];
    if (entry.empty() || state_.addresses.size() >= kMaxRecipients) return;
    if (AddressAcceptable(entry)) {
        state_.addresses.push_back(entry);
        unstored_ = true;
    } else {
        messages_.Show(kAddressErrorText, kAddressErrorCaption, MessageButtons::Ok);
    }
    entry.clear();
}

void EmailPage::Image3_1MClick() {
    const int list = CurrentList();
    if (list < 0) return;
    const size_t l = static_cast<size_t>(list);
    const int row = state_.selectedRows[l];
    if (row >= 0 && static_cast<size_t>(row) < state_.addresses.size()) {
        state_.addresses.erase(state_.addresses.begin() + row);
        unstored_ = true;
    }
    state_.entries[l].clear();
}

void EmailPage::StringGridSelectCell(int grid, int row) {
    if (grid < 0 || grid > 1 || row < 0 || row >= kAddressGridRows) return;
    state_.selectedRows[static_cast<size_t>(grid)] = row;
    state_.entries[static_cast<size_t>(grid)] = GridCell(row);
}

std::string EmailPage::GridCell(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= state_.addresses.size()) return {};
    return state_.addresses[static_cast<size_t>(row)];
}

void EmailPage::FieldEdited(size_t index, const std::string& text) {
    if (index >= kMailSettingCount) return;
    state_.fields[index] = text;
    state_.fieldChanged |= kFieldBits[index];
    unstored_ = true;
}

bool EmailPage::Image3_OKClick() {
    MailPageFields page;
    page.fields = state_.fields;
    page.fieldChanged = state_.fieldChanged;
    page.dontSend = state_.dontSend;
    page.authentication = state_.authentication;
    page.requireTls = state_.requireTls;
    page.caFile = state_.caFile;
    page.addresses = state_.addresses;
    page.subjects = state_.subjects;
    page.contents = state_.contents;
    const SaveOutcome outcome = store_.SaveMailSettings(page);
    // Stored: the next store writes only what changes after this one.
    state_.fieldChanged = outcome.ok ? 0 : outcome.fieldChanged;
    if (outcome.ok) unstored_ = false;
    return outcome.ok;
}

void EmailPage::Image3_IgnoreClick() {
    Fill(true);
    SelectSubPage(state_.subPage);
    state_.fieldChanged = 0;
}

}  // namespace kestrel
