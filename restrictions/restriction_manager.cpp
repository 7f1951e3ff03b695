#include "restrictions/restriction_manager.h"

#include <algorithm>
#include <optional>

#include "toolkit/application.h"

namespace quorvane::restrictions {

RestrictionManager::RestrictionManager(Services services)
    : services_(std::move(services)), registry_(services_.platform, services_.messages) {}

void RestrictionManager::add(Change change) {
    if (collecting_ != nullptr) {
        collecting_->add(std::move(change));
    }
}

void RestrictionManager::record(registry::Hive hive, const char* action, const std::string& item,
                                const Result<void>& result, bool needed) {
    Change change{hive, action, item, platform::kSuccess, {}, needed};
    if (!result) {
        change.status = result.failure().status;
        change.reason = refusalReason(hive, change.status, result.failure().reason);
    }
    add(std::move(change));
}

void RestrictionManager::recordDeletion(registry::Hive hive, const char* action,
                                        const std::string& item, const char* subKey,
                                        const char* valueName, const Result<void>& result) {
    // What is not there is deleted, whether or not the registry would have let us.
    const bool nothingThere = !result && (result.failure().status == platform::kFileNotFound ||
                                          !present(hive, subKey, valueName));
    if (nothingThere) {
        record(hive, action, item, {}, false);
    } else if (!result && valueName == nullptr &&
               result.failure().status == platform::kAccessDenied && heldBySubKeys(hive, subKey)) {
        add({hive, action, item, platform::kAccessDenied, "it has sub-keys"});
    } else {
        record(hive, action, item, result);
    }
}

bool RestrictionManager::heldBySubKeys(registry::Hive hive, const char* subKey) {
    platform::RegistryApi& registry = services_.platform;
    platform::KeyHandle root = 0;
    if (registry.openKey(hive, "", platform::kKeyWrite, root) != platform::kSuccess) {
        return false;  // the whole hive is refused
    }
    registry.closeKey(root);
    platform::KeyHandle key = 0;
    if (registry.openKey(hive, subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return false;
    }
    std::string name;
    const bool hasSubKeys = registry.enumKey(key, 0, name) == platform::kSuccess;
    registry.closeKey(key);
    return hasSubKeys;
}

bool RestrictionManager::present(registry::Hive hive, const char* subKey, const char* valueName) {
    platform::KeyHandle key = 0;
    const platform::Status opened =
        services_.platform.openKey(hive, subKey, platform::kKeyRead, key);
    if (opened != platform::kSuccess) {
        return opened != platform::kFileNotFound;
    }
    std::uint32_t size = 0;
    const platform::Status queried =
        valueName == nullptr
            ? platform::kSuccess
            : services_.platform.queryValue(key, valueName, nullptr, nullptr, &size);
    services_.platform.closeKey(key);
    return queried != platform::kFileNotFound;
}

bool RestrictionManager::holds(registry::Hive hive, const char* subKey, const char* valueName,
                               std::uint32_t type, const std::string& data) {
    platform::KeyHandle key = 0;
    if (services_.platform.openKey(hive, subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return false;
    }
    std::uint32_t storedType = 0;
    std::uint32_t size = 0;
    std::string bytes;
    platform::Status queried =
        services_.platform.queryValue(key, valueName, &storedType, nullptr, &size);
    if (queried == platform::kSuccess) {
        bytes.resize(size);
        queried = services_.platform.queryValue(
            key, valueName, &storedType, reinterpret_cast<std::uint8_t*>(bytes.data()), &size);
        bytes.resize(size);
    }
    services_.platform.closeKey(key);
    if (platform::isStringType(type) && !bytes.empty() && bytes.back() == '\0') {
        bytes.pop_back();
    }
    return queried == platform::kSuccess && storedType == type && bytes == data;
}

bool RestrictionManager::holdsOne(registry::Hive hive, const Restriction& restriction) {
    return holds(hive, restriction.subKey, restriction.valueName, platform::kRegDword,
                 std::string("\1\0\0\0", 4));
}

void RestrictionManager::settle(const Restriction& restriction) {
    const int state = isInForce(registry_, restriction) ? toolkit::kChecked : toolkit::kUnchecked;
    services_.boxes.setQuietly(restriction.number, state);
}

bool RestrictionManager::backedUp(const std::vector<PlannedChange>& plan,
                                  const std::vector<Change>& refused) {
    if (services_.journal == nullptr) {
        return true;
    }
    const Result<void> recorded = services_.journal->record(plan);
    if (recorded) {
        return true;
    }
    for (Change change : refused) {
        change.status = kNoBackup;
        change.reason = "changed nothing without a backup: " + recorded.failure().reason;
        add(std::move(change));
    }
    return false;
}

void RestrictionManager::showRegistryState() {
    for (const Restriction& restriction : kCatalogue) {
        settle(restriction);
    }
}

void RestrictionManager::warnOfRefusals(const Outcome& outcome) {
    if (outcome.allDone()) {
        return;
    }
    services_.messages.show(warningText(kChangesRefused, outcome), toolkit::kExclamation,
                            toolkit::kApplicationTitle);
}

void RestrictionManager::storeNestedChanges(Outcome& outcome) {
    outcome.storeFailed(services_.platform.storePending());
}

void RestrictionManager::tell(const Outcome& outcome, const std::string& success, const char* title,
                              const char* refused, const char* refusedTitle) {
    const bool allDone = outcome.allDone();
    const std::string text =
        allDone ? success : warningText(refused, outcome) + "\r\n\r\n" + kStartupHint;
    services_.messages.show(text, allDone ? toolkit::kInformation : toolkit::kExclamation,
                            allDone ? title : refusedTitle);
}

}  // namespace quorvane::restrictions
