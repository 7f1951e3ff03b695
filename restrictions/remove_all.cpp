#include <array>

#include "restrictions/failure_mode.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"

namespace quorvane::restrictions {

namespace {

constexpr std::array<const char*, 6> kDeletedKeys = {
    "HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions",
    "HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel",
    "HKEY_LOCAL_MACHINE\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions",
    "HKEY_LOCAL_MACHINE\\Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel",
    "HKEY_LOCAL_MACHINE\\Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars\\Restrictions",
    "HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars\\Restrictions",
};

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

void RestrictionManager::RemoveAllRestrictions() {
    platform::BatchScope batch(services_.platform);
    for (const char* key : kDeletedKeys) {
        skipOnFailure([&] {
            std::string path = key;
            services_.registry.DeleteKey(path);
        });
    }
    for (const DeletedValue& value : kDeletedValues) {
        skipOnFailure(
            [&] { services_.registry.DeleteValue(value.hive, value.subKey, value.valueName); });
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
    finishBatch(batch);
    showWhenStored(std::string("All Restrictions have been removed!\r\n\r\n") + kStartupHint,
                   "Restrictions Removed");
}

}  // namespace quorvane::restrictions
