#include "tests/support/fake_installation.h"

#include <stdexcept>
#include <tuple>

#include "platform/offline_registry.h"
#include "tests/support/empty_hive.h"

namespace quorvane::testing {

FakeInstallation makeFakeInstallation(const std::filesystem::path& root,
                                      const std::string& machineGuid) {
    const FakeInstallation made{root / "WINDOWS" / "system32" / "Config" / "SOFTWARE",
                                root / "users" / "Ann" / "NTUSER.DAT",
                                root / "users" / "default" / "ntuser.dat"};
    for (const auto& hive : {made.software, made.ann, made.defaultProfile}) {
        std::filesystem::create_directories(hive.parent_path());
        writeEmptyHive(hive);
    }
    platform::OfflineRegistry registry(
        {{made.software, "SOFTWARE"}, std::nullopt, root / "setup-backups"});
    const std::string list = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
    for (const auto& [key, name, path] :
         {std::tuple{list + "S-1-5-18", "ProfileImagePath",
                     std::string("%systemroot%\\system32\\config\\systemprofile")},
          std::tuple{list + "S-1-5-21-1-2-3-1001", "ProfileImagePath",
                     std::string("C:\\Users\\ann")},
          std::tuple{list + "S-1-5-21-1-2-3-1002", "ProfileImagePath",
                     std::string("C:\\Users\\bob")},
          std::tuple{std::string("Software\\Microsoft\\Cryptography"), "MachineGuid",
                     machineGuid}}) {
        const std::string value = path + '\0';
        platform::KeyHandle made = 0;
        if (registry.createKey(platform::kLocalMachine, key, made) != platform::kSuccess ||
            registry.setValue(
                made, name,
                name == std::string("MachineGuid") ? platform::kRegSz : platform::kRegExpandSz,
                reinterpret_cast<const std::uint8_t*>(value.data()),
                static_cast<std::uint32_t>(value.size())) != platform::kSuccess) {
            throw std::runtime_error("cannot write the profile list: " + registry.lastFailure());
        }
        registry.closeKey(made);
    }
    std::filesystem::remove_all(root / "setup-backups");
    return made;
}

}  // namespace quorvane::testing
