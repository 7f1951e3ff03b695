// The 24 restrictions Quorvane manages: one fixed table, one row per restriction, numbered 1 to
// 24. Restriction N is shown by the check box named "Check" followed by N.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::restrictions {

enum class Kind { Dword, String };

struct Restriction {
    int number;
    const char* caption;
    const char* tooltip;  // empty for all but the last row
    int position;         // tab order, and reading order on the window: 1 to 24
    int tab;              // 1 to 3
    int column;           // 1 or 2
    int row;              // 1 to 4
    const char* subKey;   // below HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE
    const char* valueName;
    Kind kind;
};

inline constexpr int kRestrictionCount = 24;
// The only string restriction, a custom title for the browser's windows: read from the machine
// hive, and only ever lifted.
inline constexpr int kWindowTitleRestriction = 24;

inline constexpr const char* kControlPanelKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
inline constexpr const char* kRestrictionsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
inline constexpr const char* kToolbarRestrictionsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars\\Restrictions";
// Restriction 23 spells its key in upper case; key names compare without case, so it is the
// same key that the key set-up and remove-all spell as kSystemPoliciesSetUpKey.
inline constexpr const char* kSystemPoliciesKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr const char* kSystemPoliciesSetUpKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr const char* kBrowserMainKey = "Software\\Microsoft\\Internet Explorer\\Main";

// The values of the two restrictions that live outside the policy keys (rows 23 and 24).
inline constexpr const char* kRegistryToolsValue = "DisableRegistryTools";
inline constexpr const char* kWindowTitleValue = "Window Title";

extern const std::array<Restriction, kRestrictionCount> kCatalogue;
extern const std::array<const char*, 3> kTabCaptions;

// The row of restriction `number`; nullopt outside 1 to 24.
std::optional<Restriction> restrictionByNumber(int number);
// The row whose value name is `valueName`, in any letter case.
std::optional<Restriction> restrictionByValueName(std::string_view valueName);

// Placement of a restriction's check box on its tab, in twips.
struct Placement {
    int left;
    int top;
    int width;
    int height;
};
Placement placementOf(const Restriction& restriction);

}  // namespace quorvane::restrictions
