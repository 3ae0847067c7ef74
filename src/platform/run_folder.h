#pragma once
// Where the single-instance lock and the published state live. One folder
// for the whole machine when the package made it (root-owned and writable
// only by the group that may reach the disks), so that a service and a
// user's window never poll the same enclosures at once. Without it (a run
// from the build folder) a folder only this user can write; never a shared
// temporary folder, where another user could plant the lock.
#include <string>

namespace kestrel {

inline constexpr const char* kMachineRunFolder = "/run/kestrel";

struct RunFolder {
    std::string path;          // empty: no usable folder, see error
    bool machineWide = false;  // the package's folder under /run
    std::string error;
};

// Inputs of the choice, so that tests can give their own.
struct RunFolderInputs {
    std::string overrideDir;   // KESTREL_RUN_DIR: tests, a second copy on a simulator
    std::string machineDir = kMachineRunFolder;
    std::string runtimeDir;    // XDG_RUNTIME_DIR
    std::string homeDir;       // HOME
};
RunFolderInputs RunFolderInputsFromEnvironment();

// Creates the per-user fallback when it is missing; checks every folder it
// returns: a real directory, owned by root (machine-wide) or by this user,
// and writable by nobody else (the machine folder: not by everybody).
RunFolder ChooseRunFolder(const RunFolderInputs& inputs);

}  // namespace kestrel
