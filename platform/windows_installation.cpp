#include "platform/windows_installation.h"

#include <algorithm>
#include <system_error>

#include "platform/hive_store.h"
#include "platform/letter_case.h"
#include "platform/offline_registry.h"

namespace quorvane::platform {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProfileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A string value, or nothing.
std::optional<std::string> text(RegistryApi& registry, KeyHandle key, const std::string& name) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry.queryValue(key, name, &type, nullptr, &size) != kSuccess || !isStringType(type)) {
        return std::nullopt;
    }
    std::string data(size, '\0');
    if (registry.queryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(data.data()),
                            &size) != kSuccess) {
        return std::nullopt;
    }
    data.resize(size);
    return data.substr(0, data.find('\0'));
}

// The last folder of a Windows path ("C:\Users\ann", "%SystemDrive%\Users\ann\").
std::string lastFolder(std::string path) {
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The profile list's users: SID and profile folder name.
std::vector<std::pair<std::string, std::string>> profiles(const fs::path& software) {
    OfflineRegistry registry({{software, "SOFTWARE"}, std::nullopt, {}});
    std::vector<std::pair<std::string, std::string>> found;
    KeyHandle list = 0;
    if (registry.openKey(kLocalMachine, kProfileList, kKeyRead, list) != kSuccess) {
        return found;
    }
    std::string sid;
    for (std::uint32_t index = 0; registry.enumKey(list, index, sid) == kSuccess; ++index) {
        KeyHandle profile = 0;
        if (registry.openKey(list, sid, kKeyRead, profile) != kSuccess) {
            continue;
        }
        if (const auto path = text(registry, profile, "ProfileImagePath")) {
            found.emplace_back(sid, lastFolder(*path));
        }
        registry.closeKey(profile);
    }
    registry.closeKey(list);
    return found;
}

}  // namespace

std::optional<fs::path> findIgnoringCase(const fs::path& base,
                                         const std::vector<std::string>& names) {
    fs::path path = base;
    for (const std::string& name : names) {
        std::error_code error;
        if (fs::exists(path / name, error)) {
            path /= name;
            continue;
        }
        std::optional<fs::path> match;
        for (const auto& entry : fs::directory_iterator(path, error)) {
            if (equalIgnoringCase(entry.path().filename().string(), name)) {
                match = entry.path();
                break;
            }
        }
        if (!match) {
            return std::nullopt;
        }
        path = *match;
    }
    return path;
}

WindowsInstallation findWindowsInstallation(const fs::path& root) {
    WindowsInstallation installation{root, {}, {}};
    const auto software = findIgnoringCase(root, {"Windows", "System32", "config", "SOFTWARE"});
    if (!software || !fs::is_regular_file(*software)) {
        throw StoreError("No Windows installation in " + root.string() +
                         ": Windows/System32/config/SOFTWARE is not there.");
    }
    installation.software = *software;
    for (const auto& [sid, folder] : profiles(*software)) {
        const auto hive = findIgnoringCase(root, {"Users", folder, "NTUSER.DAT"});
        if (hive && !equalIgnoringCase(folder, "Default")) {
            installation.users.push_back({hive->parent_path().filename().string(), *hive, sid});
        }
    }
    std::sort(installation.users.begin(), installation.users.end(),
              [](const WindowsUser& a, const WindowsUser& b) {
                  return lowerCase(a.name) < lowerCase(b.name);
              });
    if (const auto hive = findIgnoringCase(root, {"Users", "Default", "NTUSER.DAT"})) {
        installation.users.push_back({hive->parent_path().filename().string(), *hive, {}});
    }
    return installation;
}

const WindowsUser* findUser(const WindowsInstallation& installation, const std::string& name) {
    for (const WindowsUser& user : installation.users) {
        if (equalIgnoringCase(user.name, name)) {
            return &user;
        }
    }
    return nullptr;
}

}  // namespace quorvane::platform
