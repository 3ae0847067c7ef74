#pragma once
// Stores mail settings into a settings file the way the E-mail page does, for
// tests that then run the program on that file.
#include <gtest/gtest.h>

#include <QString>

#include "notify/mail_settings_store.h"
#include "platform/headless_ui.h"
#include "platform/registry_key.h"
#include "support/recording_ui.h"

namespace kestrel::testing {

// A page for the server on 127.0.0.1:port with the sender "RAID box"
// <raid@example.com>, all fields marked changed, LOGIN when a password is given.
inline MailPageFields LocalServerPage(int port, const std::string& password = "") {
    MailPageFields page;
    page.fields = {std::to_string(port), "127.0.0.1", "RAID box", "raid@example.com", "", password};
    page.fieldChanged = 0x3F;
    page.authentication = !password.empty();
    return page;
}

inline void StoreAsThePageDoes(const QString& registry, const MailPageFields& page) {
    RegistryKey key(registry.toStdString());
    MailFlags flags;
    MemoryStatusBar bar;
    RecordingMessageBoxes boxes;
    MailSettingsStore store(key, flags, bar, boxes, [] {});
    store.Startup();
    ASSERT_TRUE(store.SaveMailSettings(page).ok);
    key.Close();
}

}  // namespace kestrel::testing
