#pragma once
// The component-services set-up the main window makes before its creation
// handler runs, and undoes when it is destroyed. Nothing on this platform
// needs it, so initialisation always holds and the security call succeeds,
// unless the owner asks for it to fail (how start-up reacts is tested that
// way).
#include <string>

#include "platform/user_interface.h"

namespace kestrel {

inline constexpr char kComSecurityError[] = "CoInitializeSecurity error!";

class ComSetup {
public:
    enum class Security { Succeeds, Fails };

    // Initialises; the destructor releases (nothing is held on this platform).
    explicit ComSetup(Security security = Security::Succeeds);
    ~ComSetup() = default;
    ComSetup(const ComSetup&) = delete;
    ComSetup& operator=(const ComSetup&) = delete;

    // The process-wide security settings; false when they could not be set.
    bool InitializeSecurity();

private:
    Security security_;
};

// The security call as start-up makes it: on failure the user is told, and
// false means the program must end.
bool InitializeComSecurity(ComSetup& com, MessageBoxes& messages);

}  // namespace kestrel
