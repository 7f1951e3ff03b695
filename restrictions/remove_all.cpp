#include <array>

#include "restrictions/failure_mode.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"

namespace quorvane::restrictions {

namespace {

struct DeletedKey {
    registry::Hive hive;
    const char* subKey;
};

constexpr std::array<DeletedKey, 6> kDeletedKeys = {{
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
    {registry::kHiveLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
     "DisableRegistryTools"},
    {registry::kHiveCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
     "DisableRegistryTools"},
    {registry::kHiveCurrentUser, kBrowserMainKey, "Window Title"},
    {registry::kHiveLocalMachine, kBrowserMainKey, "Window Title"},
}};

}  // namespace

Outcome RestrictionManager::RemoveAllRestrictions() {
    Outcome outcome;
    {
        Collecting collecting(*this, outcome);
        platform::BatchScope batch(services_.platform);
        for (const DeletedKey& key : kDeletedKeys) {
            const auto refusal = traced([&] {
                std::string path = fullPath(key.hive, key.subKey);
                registry_.DeleteKey(path);
            });
            recordDeletion(key.hive, "delete key", key.subKey, key.subKey, nullptr, refusal);
        }
        for (const DeletedValue& value : kDeletedValues) {
            const auto refusal =
                traced([&] { registry_.DeleteValue(value.hive, value.subKey, value.valueName); });
            recordDeletion(value.hive, "delete", value.valueName, value.subKey, value.valueName,
                           refusal);
        }
        // "0": the policy keys must be made again before the next switch.
        skipOnFailure([&] {
            services_.settings.write(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey, "0");
        });
        skipOnFailure([&] { services_.events.processPendingEvents(); });
        // Each box that was checked runs its lifting action; the first of rows 1 to 23 finds the
        // marker at "0" and makes the eight policy keys again.
        skipOnFailure([&] { clear_Check_controls(services_.boxes); });
        skipOnFailure([&] { services_.events.processPendingEvents(); });
        outcome.storeFailed(batch.finish());
    }
    storeNestedChanges(outcome);
    // The boxes show what is in force now, not what should have been.
    if (!outcome.allDone()) {
        for (const Restriction& restriction : kCatalogue) {
            settle(restriction);
        }
    }
    tell(outcome, std::string("All Restrictions have been removed!\r\n\r\n") + kStartupHint,
         kRemoveAllRefused, "Restrictions Removed");
    return outcome;
}

}  // namespace quorvane::restrictions
