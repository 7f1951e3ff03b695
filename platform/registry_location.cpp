#include "platform/registry_location.h"

#include <cstdlib>

#ifdef _WIN32
#include "platform/win32_registry.h"
#else
#include "platform/hive_store.h"
#endif

namespace quorvane::platform {

namespace {

std::optional<std::string> nonEmpty(const EnvironmentLookup& environment, const char* name) {
    auto value = environment(name);
    return value && !value->empty() ? value : std::nullopt;
}

}  // namespace

std::optional<std::string> processEnvironment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

std::string RegistryLocation::describe() const {
    switch (kind) {
        case Kind::Configured:
            return "the configured hive directory " + directory.string();
        case Kind::WinePrefix:
            return "the Wine prefix " + directory.string();
        case Kind::OwnStore:
            break;
    }
    return "Quorvane's own registry store " + directory.string();
}

RegistryLocation locateRegistry(const std::string& configuredDirectory,
                                const EnvironmentLookup& environment) {
    if (!configuredDirectory.empty()) {
        return {RegistryLocation::Kind::Configured, configuredDirectory};
    }
    if (const auto prefix = nonEmpty(environment, "WINEPREFIX")) {
        return {RegistryLocation::Kind::WinePrefix, *prefix};
    }
    std::filesystem::path data;
    if (const auto xdg = nonEmpty(environment, "XDG_DATA_HOME")) {
        data = *xdg;
    } else {
        data = std::filesystem::path(nonEmpty(environment, "HOME").value_or(".")) / ".local/share";
    }
    return {RegistryLocation::Kind::OwnStore, data / "Quorvane" / "registry"};
}

std::unique_ptr<RegistryApi> openRegistry([[maybe_unused]] const RegistryLocation& location) {
#ifdef _WIN32
    return std::make_unique<Win32Registry>();
#else
    return std::make_unique<HiveStore>(location.directory,
                                       location.kind == RegistryLocation::Kind::OwnStore
                                           ? HiveStore::Creation::CreateIfMissing
                                           : HiveStore::Creation::UseExisting);
#endif
}

ReadingRegistry openRegistryToRead([[maybe_unused]] const RegistryLocation& location) {
#ifdef _WIN32
    return {std::make_unique<Win32Registry>(), {}};
#else
    auto store = std::make_unique<HiveStore>(location.directory,
                                             location.kind == RegistryLocation::Kind::OwnStore
                                                 ? HiveStore::Creation::CreateIfMissing
                                                 : HiveStore::Creation::UseExisting,
                                             HiveStore::Use::ReadOnly);
    std::string note = store->readingNote();
    return {std::move(store), std::move(note)};
#endif
}

}  // namespace quorvane::platform
