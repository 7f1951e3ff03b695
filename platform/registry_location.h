// Which registry Quorvane works on: the real one on Windows; elsewhere a directory of hive files.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry_api.h"

namespace quorvane::platform {

struct RegistryLocation {
    enum class Kind { OwnStore, WinePrefix, Configured };
    Kind kind = Kind::OwnStore;
    std::filesystem::path directory;

    std::string describe() const;
};

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
std::optional<std::string> processEnvironment(const std::string& name);

// The configured directory wins; then the Wine prefix named by WINEPREFIX; else Quorvane's own
// store in $XDG_DATA_HOME/Quorvane/registry ($HOME/.local/share when XDG_DATA_HOME is unset).
RegistryLocation locateRegistry(const std::string& configuredDirectory,
                                const EnvironmentLookup& environment = processEnvironment);

// The real registry on Windows; the hive store of `location` elsewhere (which creates its own
// store on first use). Throws StoreError when the hive store cannot be used.
std::unique_ptr<RegistryApi> openRegistry(const RegistryLocation& location);

struct ReadingRegistry {
    std::unique_ptr<RegistryApi> registry;
    std::string note;  // one line for the user, or empty
};
// For commands that only read: creates nothing, takes no lock and refuses every write; beside a
// running wineserver it reads all the same, and `note` says that the server may hold newer
// changes. Throws StoreError.
ReadingRegistry openRegistryToRead(const RegistryLocation& location);

}  // namespace quorvane::platform
