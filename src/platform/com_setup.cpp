#include "platform/com_setup.h"

namespace kestrel {

ComSetup::ComSetup(Security security) : security_(security) {}

bool ComSetup::InitializeSecurity() { return security_ == Security::Succeeds; }

bool InitializeComSecurity(ComSetup& com, MessageBoxes& messages) {
    if (com.InitializeSecurity()) return true;
    // Shown before the window has a title, so the box has no caption of its own.
    messages.Show(kComSecurityError, "");
    return false;
}

}  // namespace kestrel
