#include "tests/support/fake_installation.h"

#include <stdexcept>

#include "platform/offline_registry.h"
#include "tests/support/empty_hive.h"

namespace quorvane::testing {

FakeInstallation makeFakeInstallation(const std::filesystem::path& root) {
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
    for (const auto& [sid, path] :
         {std::pair{"S-1-5-18", "%systemroot%\\system32\\config\\systemprofile"},
          std::pair{"S-1-5-21-1-2-3-1001", "C:\\Users\\ann"},
          std::pair{"S-1-5-21-1-2-3-1002", "C:\\Users\\bob"}}) {
        const std::string value = std::string(path) + '\0';
        platform::KeyHandle key = 0;
        if (registry.createKey(platform::kLocalMachine, list + sid, key) != platform::kSuccess ||
            registry.setValue(key, "ProfileImagePath", platform::kRegExpandSz,
                              reinterpret_cast<const std::uint8_t*>(value.data()),
                              static_cast<std::uint32_t>(value.size())) != platform::kSuccess) {
            throw std::runtime_error("cannot write the profile list: " + registry.lastFailure());
        }
        registry.closeKey(key);
    }
    std::filesystem::remove_all(root / "setup-backups");
    return made;
}

}  // namespace quorvane::testing
