#include <algorithm>
#include <array>

#include "registry/registry_settings_store.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"

namespace quorvane::restrictions {

namespace {

// In the order in which they are created.
constexpr std::array<PolicyKey, 8> kPolicyKeys = {{
    {registry::kHiveCurrentUser, kRestrictionsKey},
    {registry::kHiveCurrentUser, kControlPanelKey},
    {registry::kHiveLocalMachine, kToolbarRestrictionsKey},
    {registry::kHiveLocalMachine, kRestrictionsKey},
    {registry::kHiveLocalMachine, kControlPanelKey},
    {registry::kHiveCurrentUser, kToolbarRestrictionsKey},
    {registry::kHiveCurrentUser, kSystemPoliciesSetUpKey},
    {registry::kHiveLocalMachine, kSystemPoliciesSetUpKey},
}};

constexpr registry::Hive kBothHives[] = {registry::kHiveCurrentUser, registry::kHiveLocalMachine};

const char* actionOf(bool imposing) {
    return imposing ? "impose" : "lift";
}

// What imposing or lifting `restriction` does to its value in both hives.
std::vector<PlannedChange> valuePlan(const Restriction& restriction, bool imposing) {
    std::vector<PlannedChange> plan;
    if (imposing && restriction.kind == Kind::String) {
        return plan;  // a custom window title is only ever removed
    }
    for (const registry::Hive hive : kBothHives) {
        plan.push_back(
            imposing ? PlannedChange::setValue(hive, restriction.subKey, restriction.valueName,
                                               platform::kRegDword, std::string("\1\0\0\0", 4))
                     : PlannedChange::deleteValue(hive, restriction.subKey, restriction.valueName));
    }
    return plan;
}

std::vector<Change> valueChanges(const Restriction& restriction, bool imposing) {
    std::vector<Change> changes;
    for (const registry::Hive hive : kBothHives) {
        changes.push_back(
            {hive, actionOf(imposing), restriction.valueName, platform::kSuccess, {}});
    }
    return changes;
}

}  // namespace

std::vector<PlannedChange> policyKeysPlan() {
    std::vector<PlannedChange> plan;
    for (const PolicyKey& key : kPolicyKeys) {
        plan.push_back(PlannedChange::createKey(key.hive, key.subKey));
    }
    plan.push_back(PlannedChange::setText(
        registry::kHiveCurrentUser,
        registry::settingsKey(toolkit::kApplicationTitle, kMarkerSection), kMarkerKey, "1"));
    return plan;
}

bool RestrictionManager::policyKeysExist() {
    return std::all_of(kPolicyKeys.begin(), kPolicyKeys.end(),
                       [this](const PolicyKey& key) { return present(key.hive, key.subKey); });
}

void RestrictionManager::EnsurePolicyKeys() {
    const std::string marker =
        services_.settings.read(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey);
    if (marker == "1") {
        return;
    }
    for (const PolicyKey& key : kPolicyKeys) {
        static_cast<void>(registry_.CreateKey(fullRegistryPath(key.hive, key.subKey)));
    }
    // A key that could not be made, or a marker that could not be kept, is tried again at the
    // next switch.
    if (policyKeysExist()) {
        static_cast<void>(
            services_.settings.write(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey, "1"));
    }
}

Outcome RestrictionManager::SwitchRestriction(int number) {
    const auto restriction = restrictionByNumber(number);
    if (!restriction) {
        return {};
    }
    Outcome outcome;
    Outcome* enclosing = nullptr;
    {
        Collecting collecting(*this, outcome);
        enclosing = collecting.enclosing();
        const bool imposing = services_.boxes.state(number) == toolkit::kChecked;
        JournalEntry entry(services_.journal,
                           std::string(actionOf(imposing)) + " " + restriction->valueName);
        platform::BatchScope batch(services_.platform);
        std::vector<PlannedChange> plan = valuePlan(*restriction, imposing);
        if (restriction->kind == Kind::Dword) {
            const std::vector<PlannedChange> keys = policyKeysPlan();
            plan.insert(plan.end(), keys.begin(), keys.end());
        }
        if (backedUp(plan, valueChanges(*restriction, imposing))) {
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
        }
        outcome.storeFailed(batch.finish());
    }
    // A window title is never imposed: a box checked for one shows what the registry holds.
    const bool titleAsked =
        restriction->kind == Kind::String && services_.boxes.state(number) == toolkit::kChecked;
    if (!outcome.allDone() || titleAsked) {
        settle(*restriction);
    }
    if (enclosing != nullptr) {
        enclosing->merge(outcome);
    }
    return outcome;
}

void RestrictionManager::RestrictionClicked(int number) {
    const bool nested = collecting_ != nullptr;
    const Outcome outcome = SwitchRestriction(number);
    if (!nested) {
        warnOfRefusals(outcome);
    }
}

void RestrictionManager::impose(const Restriction& restriction) {
    if (restriction.kind == Kind::String) {
        return;  // a custom window title is only ever removed
    }
    // Events run since the switch began may have turned the box: this value may be new to the
    // entry.
    if (!backedUp(valuePlan(restriction, true), valueChanges(restriction, true))) {
        return;
    }
    const std::int32_t one = 1;
    for (const registry::Hive hive : kBothHives) {
        const bool needed = !holdsOne(hive, restriction);
        const std::string path = fullRegistryPath(hive, restriction.subKey);
        Result<void> result = registry_.SetDwordValue(path, restriction.valueName, one);
        // The marker vouched for a key that is gone (deleted by another program, or its hive
        // file never written): made now, so that the restriction is stored after all.
        if (!result && result.failure().status == platform::kFileNotFound) {
            const Result<void> made = registry_.CreateKey(path);
            result = registry_.SetDwordValue(path, restriction.valueName, one);
            if (!made) {
                result = made;
            }
        }
        // A refused rewrite of what is there already changed nothing: the restriction is in
        // force as asked (load-time detection rewrites every restriction it finds).
        if (!result && holdsOne(hive, restriction)) {
            result = {};
        }
        record(hive, "impose", restriction.valueName, result, needed);
    }
}

void RestrictionManager::lift(const Restriction& restriction) {
    if (!backedUp(valuePlan(restriction, false), valueChanges(restriction, false))) {
        return;
    }
    for (const registry::Hive hive : kBothHives) {
        recordDeletion(hive, "lift", restriction.valueName, restriction.subKey,
                       restriction.valueName,
                       registry_.DeleteValue(hive, restriction.subKey, restriction.valueName));
    }
}

}  // namespace quorvane::restrictions
