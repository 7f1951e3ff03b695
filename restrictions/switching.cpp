#include <array>

#include "restrictions/failure_mode.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"

namespace quorvane::restrictions {

namespace {

constexpr const char* kSystemPoliciesCreated =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

struct PolicyKey {
    const char* hive;
    const char* subKey;
};

// In the order in which they are created.
constexpr std::array<PolicyKey, 8> kPolicyKeys = {{
    {kCurrentUserPrefix, kRestrictionsKey},
    {kCurrentUserPrefix, kControlPanelKey},
    {kLocalMachinePrefix, kToolbarRestrictionsKey},
    {kLocalMachinePrefix, kRestrictionsKey},
    {kLocalMachinePrefix, kControlPanelKey},
    {kCurrentUserPrefix, kToolbarRestrictionsKey},
    {kCurrentUserPrefix, kSystemPoliciesCreated},
    {kLocalMachinePrefix, kSystemPoliciesCreated},
}};

}  // namespace

RestrictionManager::RestrictionManager(Services services) : services_(std::move(services)) {}

void RestrictionManager::finishBatch(platform::BatchScope& batch) {
    const platform::StoreFailures failures = batch.finish();
    lastStoreFailure_ = failures.empty() ? std::string() : failures.front().reason;
}

void RestrictionManager::showWhenStored(const std::string& text, const char* title) {
    if (const platform::StoreFailures failures = services_.platform.storePending();
        !failures.empty()) {
        lastStoreFailure_ = failures.front().reason;
    }
    skipOnFailure([&] { services_.messages.show(text, toolkit::kInformation, title); });
}

void RestrictionManager::EnsurePolicyKeys() {
    std::string marker;
    skipOnFailure([&] {
        marker = services_.settings.read(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey);
    });
    if (marker == "1") {
        return;
    }
    for (const PolicyKey& key : kPolicyKeys) {
        skipOnFailure([&] {
            std::string path = std::string(key.hive) + key.subKey;
            services_.registry.CreateKey(path);
        });
    }
    skipOnFailure([&] {
        services_.settings.write(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey, "1");
    });
}

void RestrictionManager::SwitchRestriction(int number) {
    const auto restriction = restrictionByNumber(number);
    if (!restriction) {
        return;
    }
    platform::BatchScope batch(services_.platform);
    if (restriction->kind == Kind::Dword) {
        EnsurePolicyKeys();
        services_.events.processPendingEvents();
    }
    // The box is read only now: events run above may have changed it.
    if (services_.boxes.state(number) == toolkit::kChecked) {
        impose(*restriction);
    } else {
        lift(*restriction);
    }
    finishBatch(batch);
}

void RestrictionManager::impose(const Restriction& restriction) {
    if (restriction.kind == Kind::String) {
        return;  // a custom window title is only ever removed
    }
    const std::int32_t one = 1;
    for (const char* hive : {kCurrentUserPrefix, kLocalMachinePrefix}) {
        std::string path = std::string(hive) + restriction.subKey;
        services_.registry.SetDwordValue(path, restriction.valueName, one);
    }
}

void RestrictionManager::lift(const Restriction& restriction) {
    for (const registry::Hive hive : {registry::kHiveCurrentUser, registry::kHiveLocalMachine}) {
        services_.registry.DeleteValue(hive, restriction.subKey, restriction.valueName);
    }
}

}  // namespace quorvane::restrictions
