// Where the lock lives: the machine folder when present and sound, else a
// folder only this user can write; never a shared temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "platform/run_folder.h"

namespace kestrel {
namespace {

std::string Make(const QTemporaryDir& base, const char* name, mode_t mode) {
    const std::string dir = base.path().toStdString() + "/" + name;
    ::mkdir(dir.c_str(), 0700);
    ::chmod(dir.c_str(), mode);
    return dir;
}

TEST(RunFolder, PrefersTheMachineFolderAndRefusesAnUnsafeOne) {
    QTemporaryDir base;
    RunFolderInputs in;
    in.runtimeDir = Make(base, "runtime", 0700);
    in.homeDir = Make(base, "home", 0700);

    in.machineDir = base.path().toStdString() + "/absent";
    RunFolder f = ChooseRunFolder(in);
    EXPECT_EQ(f.path, in.runtimeDir);
    EXPECT_FALSE(f.machineWide);

    if (::geteuid() != 0) GTEST_SKIP() << "a root-owned machine folder needs root";
    in.machineDir = Make(base, "machine", 03775);
    f = ChooseRunFolder(in);
    EXPECT_EQ(f.path, in.machineDir);
    EXPECT_TRUE(f.machineWide);

    // Its group may write it but without the sticky bit: one member could
    // remove or replace another's lock or state.
    ::chmod(in.machineDir.c_str(), 02775);
    f = ChooseRunFolder(in);
    EXPECT_TRUE(f.path.empty());
    EXPECT_NE(f.error.find("no sticky bit"), std::string::npos) << f.error;

    // Everybody may write it: refused, with no fallback that would let a
    // second monitor run beside the first.
    ::chmod(in.machineDir.c_str(), 01777);
    f = ChooseRunFolder(in);
    EXPECT_TRUE(f.path.empty());
    EXPECT_NE(f.error.find("writable by every user"), std::string::npos) << f.error;

    // A link planted at the name is refused too.
    in.machineDir = base.path().toStdString() + "/link";
    ASSERT_EQ(::symlink(in.runtimeDir.c_str(), in.machineDir.c_str()), 0);
    f = ChooseRunFolder(in);
    EXPECT_TRUE(f.path.empty());
    EXPECT_NE(f.error.find("not a directory"), std::string::npos) << f.error;
}

TEST(RunFolder, FallsBackToAPrivateFolderInTheHomeNeverToTmp) {
    QTemporaryDir base;
    RunFolderInputs in;
    in.machineDir = base.path().toStdString() + "/absent";
    in.homeDir = Make(base, "home", 0700);

    // No runtime folder, as for a service: the home's own folder, made private.
    RunFolder f = ChooseRunFolder(in);
    EXPECT_EQ(f.path, in.homeDir + "/.cache/kestrel");
    struct stat st {};
    ASSERT_EQ(::stat(f.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A runtime folder others may write is passed over.
    in.runtimeDir = Make(base, "shared", 0777);
    EXPECT_EQ(ChooseRunFolder(in).path, in.homeDir + "/.cache/kestrel");

    // Neither: no folder at all rather than a shared one.
    in.runtimeDir.clear();
    in.homeDir.clear();
    f = ChooseRunFolder(in);
    EXPECT_TRUE(f.path.empty());
    EXPECT_FALSE(f.error.empty());
}

}  // namespace
}  // namespace kestrel
