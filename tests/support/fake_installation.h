// A fake Windows installation for the tests: the folders in mixed letter case as an NTUSER.DAT
// mount shows them, an empty SOFTWARE hive with a profile list, and empty user hives.
#pragma once

#include <filesystem>

namespace quorvane::testing {

// Under `root`: WINDOWS/system32/Config/SOFTWARE, whose profile list names ann
// (users/Ann/NTUSER.DAT), bob (no hive: his profile folder is gone) and the system profile;
// and the default profile users/default/ntuser.dat.
struct FakeInstallation {
    std::filesystem::path software;
    std::filesystem::path ann;
    std::filesystem::path defaultProfile;
};
FakeInstallation makeFakeInstallation(const std::filesystem::path& root);

}  // namespace quorvane::testing
