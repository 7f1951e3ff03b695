#include <array>

#include "registry/registry_settings_store.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"

namespace quorvane::restrictions {

namespace {

constexpr std::array<PolicyKey, 6> kDeletedKeys = {{
    {registry::kHiveCurrentUser, kRestrictionsKey},
    {registry::kHiveCurrentUser, kControlPanelKey},
    {registry::kHiveLocalMachine, kRestrictionsKey},
    {registry::kHiveLocalMachine, kControlPanelKey},
    {registry::kHiveLocalMachine, kToolbarRestrictionsKey},
    {registry::kHiveCurrentUser, kToolbarRestrictionsKey},
}};

struct DeletedValue {
    registry::Hive hive;
    const char* subKey;
    const char* valueName;
};

// The two restrictions that live outside the deleted keys.
constexpr std::array<DeletedValue, 4> kDeletedValues = {{
    {registry::kHiveLocalMachine, kSystemPoliciesSetUpKey, kRegistryToolsValue},
    {registry::kHiveCurrentUser, kSystemPoliciesSetUpKey, kRegistryToolsValue},
    {registry::kHiveCurrentUser, kBrowserMainKey, kWindowTitleValue},
    {registry::kHiveLocalMachine, kBrowserMainKey, kWindowTitleValue},
}};

std::vector<PlannedChange> removeAllPlan() {
    std::vector<PlannedChange> plan;
    for (const PolicyKey& key : kDeletedKeys) {
        plan.push_back(PlannedChange::deleteKey(key.hive, key.subKey));
    }
    for (const DeletedValue& value : kDeletedValues) {
        plan.push_back(PlannedChange::deleteValue(value.hive, value.subKey, value.valueName));
    }
    plan.push_back(PlannedChange::setText(
        registry::kHiveCurrentUser,
        registry::settingsKey(toolkit::kApplicationTitle, kMarkerSection), kMarkerKey, "0"));
    // The lifting actions of the boxes that were checked make the policy keys again and set the
    // marker back to "1": all of it is recorded now, before the first deletion.
    const std::vector<PlannedChange> keys = policyKeysPlan();
    plan.insert(plan.end(), keys.begin(), keys.end());
    return plan;
}

std::vector<Change> removeAllChanges() {
    std::vector<Change> changes;
    for (const PolicyKey& key : kDeletedKeys) {
        changes.push_back({key.hive, "delete key", key.subKey, platform::kSuccess, {}});
    }
    for (const DeletedValue& value : kDeletedValues) {
        changes.push_back({value.hive, "delete", value.valueName, platform::kSuccess, {}});
    }
    return changes;
}

}  // namespace

Outcome RestrictionManager::RemoveAllRestrictions() {
    Outcome outcome;
    {
        Collecting collecting(*this, outcome);
        JournalEntry entry(services_.journal, "remove all restrictions");
        platform::BatchScope batch(services_.platform);
        if (backedUp(removeAllPlan(), removeAllChanges())) {
            removeAllSteps();
        }
        outcome.storeFailed(batch.finish());
    }
    storeNestedChanges(outcome);
    // The boxes show what is in force now, not what should have been.
    if (!outcome.allDone()) {
        showRegistryState();
    }
    tell(outcome, std::string("All Restrictions have been removed!\r\n\r\n") + kStartupHint,
         "Restrictions Removed", kRemoveAllRefused, kRemoveAllRefusedTitle);
    return outcome;
}

void RestrictionManager::removeAllSteps() {
    for (const PolicyKey& key : kDeletedKeys) {
        recordDeletion(key.hive, "delete key", key.subKey, key.subKey, nullptr,
                       registry_.DeleteKey(fullRegistryPath(key.hive, key.subKey)));
    }
    for (const DeletedValue& value : kDeletedValues) {
        recordDeletion(value.hive, "delete", value.valueName, value.subKey, value.valueName,
                       registry_.DeleteValue(value.hive, value.subKey, value.valueName));
    }
    // "0": the policy keys must be made again before the next switch. A marker that was not kept
    // is skipped like any other step that fails: the switch reads every change back and says
    // what did not take effect.
    static_cast<void>(
        services_.settings.write(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey, "0"));
    services_.events.processPendingEvents();
    // Each box that was checked runs its lifting action; the first of rows 1 to 23 finds the
    // marker at "0" and makes the eight policy keys again.
    clear_Check_controls(services_.boxes);
    services_.events.processPendingEvents();
}

}  // namespace quorvane::restrictions
