#include "platform/windows_installation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "formats/file_access.h"
#include "platform/hive_store.h"
#include "platform/letter_case.h"
#include "platform/offline_hive_file.h"
#include "platform/offline_registry.h"

namespace quorvane::platform {

namespace {

namespace fs = std::filesystem;

// The most entries a folder on the way to a hive is searched among: a Windows folder holds far
// fewer.
constexpr std::size_t kMostEntries = 100000;

constexpr const char* kProfileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr const char* kCryptography = "Software\\Microsoft\\Cryptography";

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

struct Profiles {
    std::vector<std::pair<std::string, std::string>> users;  // SID and profile folder name
    std::optional<std::string> machineGuid;
    std::shared_ptr<const HiveRead> read;  // SOFTWARE as it was read
};

// What SOFTWARE says of the installation: its profile list's users and its machine GUID.
Profiles profiles(const fs::path& software) {
    OfflineRegistry registry({{software, "SOFTWARE"}, std::nullopt, {}});
    Profiles found;
    found.read = registry.softwareRead();
    KeyHandle key = 0;
    if (registry.openKey(kLocalMachine, kCryptography, kKeyRead, key) == kSuccess) {
        found.machineGuid = text(registry, key, "MachineGuid");
        registry.closeKey(key);
    }
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
            found.users.emplace_back(sid, lastFolder(*path));
        }
        registry.closeKey(profile);
    }
    registry.closeKey(list);
    return found;
}

// The installation's identity: its machine GUID, else its profile list's users.
std::string identityOf(const Profiles& found) {
    std::string guid = found.machineGuid.value_or("");
    guid.erase(std::remove_if(guid.begin(), guid.end(),
                              [](char c) { return c == '{' || c == '}' || c == ' '; }),
               guid.end());
    if (!guid.empty()) {
        return "machine-" + lowerCase(guid);
    }
    std::vector<std::string> sids;
    for (const auto& [sid, folder] : found.users) {
        sids.push_back(foldedCase(sid) + '\n');
    }
    std::sort(sids.begin(), sids.end());
    std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
    for (const std::string& sid : sids) {
        for (const char c : sid) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
        }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("profiles-") + text;
}

bool hibernated(const fs::path& root) {
    const auto file = findIgnoringCase(root, {"hiberfil.sys"});
    if (!file) {
        return false;
    }
    const auto folder = formats::Folder::open(root);
    return folder && offline::saysHibernated(*folder, file->filename().string());
}

}  // namespace

std::optional<fs::path> findIgnoringCase(const fs::path& base,
                                         const std::vector<std::string>& names) {
    // A folder that is not there holds nothing; one that cannot be read is not "nothing".
    const auto missing = [](const Failure& failure) {
        return failure.error == ENOENT || failure.error == ENOTDIR;
    };
    const auto folder = formats::Folder::open(base);
    if (!folder) {
        if (missing(folder.failure())) {
            return std::nullopt;
        }
        throw StoreError(base.string() + " " + folder.failure().reason + ".");
    }
    fs::path relative;
    for (const std::string& name : names) {
        if (const auto exact = folder->examine(relative / name); exact && *exact) {
            relative /= name;
            continue;
        }
        const auto listing = folder->list(relative, kMostEntries);
        if (!listing) {
            if (missing(listing.failure())) {
                return std::nullopt;
            }
            throw StoreError(folder->pathOf(relative).string() + " " + listing.failure().reason +
                             ".");
        }
        const auto match = std::find_if(
            listing->entries.begin(), listing->entries.end(),
            [&](const formats::Entry& entry) { return equalIgnoringCase(entry.name, name); });
        if (match == listing->entries.end()) {
            return std::nullopt;
        }
        relative /= match->name;
    }
    return base / relative;
}

WindowsInstallation findWindowsInstallation(const fs::path& root) {
    WindowsInstallation installation{root, {}, {}, {}, false};
    const auto software = findIgnoringCase(root, {"Windows", "System32", "config", "SOFTWARE"});
    const auto config = software ? formats::Folder::open(software->parent_path())
                                 : Result<formats::Folder>(Failure{});
    const auto hive = config ? config->examine(software->filename())
                             : Result<std::optional<formats::FileSignature>>(config.failure());
    if (!hive || !*hive || !(*hive)->regular()) {
        throw StoreError("No Windows installation in " + root.string() +
                         ": Windows/System32/config/SOFTWARE is not there.");
    }
    installation.software = *software;
    const Profiles found = profiles(*software);
    installation.identity = identityOf(found);
    installation.softwareRead = found.read;
    installation.hibernated = hibernated(root);
    for (const auto& [sid, folder] : found.users) {
        const auto hive = findIgnoringCase(root, {"Users", folder, "NTUSER.DAT"});
        if (hive && !equalIgnoringCase(folder, "Default")) {
            installation.users.push_back({hive->parent_path().filename().string(), *hive, sid});
        }
    }
    std::sort(installation.users.begin(), installation.users.end(),
              [](const WindowsUser& a, const WindowsUser& b) {
                  return foldedCase(a.name) < foldedCase(b.name);
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

const WindowsUser* onlyUser(const WindowsInstallation& installation) {
    const WindowsUser* only = nullptr;
    for (const WindowsUser& user : installation.users) {
        if (!user.sid.empty()) {
            if (only != nullptr) {
                return nullptr;
            }
            only = &user;
        }
    }
    return only;
}

OfflineHives hivesOf(const WindowsInstallation& installation, const WindowsUser& user,
                     const fs::path& backups) {
    return {{installation.software, "SOFTWARE", false, installation.softwareRead},
            OfflineHive{user.hive, "NTUSER-" + offline::fileNameOf(user.name)},
            backups,
            installation.hibernated};
}

}  // namespace quorvane::platform
