// A fake Windows installation for the tests: the folders in mixed letter case as an NTUSER.DAT
// mount shows them, an empty SOFTWARE hive with a profile list, and empty user hives.
#pragma once

#include <filesystem>
#include <string>

namespace quorvane::testing {

// Under `root`: WINDOWS/system32/Config/SOFTWARE, whose profile list names ann
// (users/Ann/NTUSER.DAT), bob (no hive: his profile folder is gone) and the system profile, and
// which says the installation's MachineGuid; and the default profile users/default/ntuser.dat.
struct FakeInstallation {
    std::filesystem::path software;
    std::filesystem::path ann;
    std::filesystem::path defaultProfile;
};
inline constexpr const char* kFakeMachineGuid = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
FakeInstallation makeFakeInstallation(const std::filesystem::path& root,
                                      const std::string& machineGuid = kFakeMachineGuid);

}  // namespace quorvane::testing
