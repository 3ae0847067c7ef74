#include "platform/run_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The folder exists as a directory (not a link to one) that only its owner
// (and, machine-wide, its group) may change.
std::string Unsafe(const std::string& dir, bool machineWide) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return dir + " is not a directory";
    if (machineWide) {
        if (st.st_uid != 0) return dir + " is not owned by root";
        if (st.st_mode & S_IWOTH) return dir + " is writable by every user";
        // Its group may write it; the sticky bit keeps each member from
        // removing or replacing the others' files (the lock, a state).
        if ((st.st_mode & S_IWGRP) && !(st.st_mode & S_ISVTX))
            return dir + " is writable by its group but has no sticky bit";
    } else {
        if (st.st_uid != ::geteuid()) return dir + " belongs to another user";
        if (st.st_mode & (S_IWGRP | S_IWOTH)) return dir + " is writable by other users";
    }
    return {};
}

bool MakePrivate(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return true;
    if (errno != ENOENT) return false;
    const size_t slash = dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    return MakePrivate(dir.substr(0, slash)) && (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
}

RunFolder Checked(const std::string& dir, bool machineWide) {
    RunFolder f;
    f.error = Unsafe(dir, machineWide);
    if (f.error.empty()) {
        f.path = dir;
        f.machineWide = machineWide;
    } else {
        struct stat st {};
        f.error = (::lstat(dir.c_str(), &st) == 0 ? "unsafe lock folder: " : "no lock folder: ") + f.error;
    }
    return f;
}

}  // namespace

RunFolderInputs RunFolderInputsFromEnvironment() {
    RunFolderInputs in;
    in.overrideDir = Env("KESTREL_RUN_DIR");
    in.runtimeDir = Env("XDG_RUNTIME_DIR");
    in.homeDir = Env("HOME");
    return in;
}

RunFolder ChooseRunFolder(const RunFolderInputs& in) {
    if (!in.overrideDir.empty()) {
        MakePrivate(in.overrideDir);
        // A root-owned folder is held to the machine folder's rule.
        struct stat own {};
        const bool rootOwned = ::lstat(in.overrideDir.c_str(), &own) == 0 && own.st_uid == 0 && ::geteuid() != 0;
        return Checked(in.overrideDir, rootOwned || (own.st_uid == 0 && (own.st_mode & S_IWGRP)));
    }
    struct stat st {};
    // The package's folder decides as soon as something is at its name: a
    // planted or damaged one is refused rather than worked around.
    if (!in.machineDir.empty() && ::lstat(in.machineDir.c_str(), &st) == 0) return Checked(in.machineDir, true);
    if (!in.runtimeDir.empty() && Unsafe(in.runtimeDir, false).empty()) return Checked(in.runtimeDir, false);
    if (in.homeDir.empty()) return RunFolder{{}, false, "no folder for the lock: neither XDG_RUNTIME_DIR nor HOME is set"};
    const std::string dir = in.homeDir + "/.cache/kestrel";
    if (!MakePrivate(dir)) return RunFolder{{}, false, "cannot create " + dir + ": " + std::strerror(errno)};
    return Checked(dir, false);
}

}  // namespace kestrel
