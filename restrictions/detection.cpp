#include "platform/letter_case.h"
#include "restrictions/restriction_manager.h"

namespace quorvane::restrictions {

namespace {

bool readsAsError(const std::string& text) {
    return platform::equalIgnoringCase(text, "ERROR");
}

}  // namespace

bool isInForce(registry::General2& registry, const Restriction& restriction) {
    return isInForceIn(registry, restriction,
                       restriction.kind == Kind::String ? registry::kHiveLocalMachine
                                                        : registry::kHiveCurrentUser);
}

bool isInForceIn(registry::General2& registry, const Restriction& restriction,
                 registry::Hive hive) {
    const std::string key = fullRegistryPath(hive, restriction.subKey);
    if (restriction.kind == Kind::String) {
        const registry::ReadResult title = registry.GetStringValue(key, restriction.valueName);
        return title.isText() && !title.asText().empty() && !readsAsError(title.asText());
    }
    const registry::ReadResult flag = registry.GetDwordValue(key, restriction.valueName);
    return flag.isNumber() && flag.asNumber() > 0;
}

Outcome RestrictionManager::RefreshRestrictionStates() {
    Outcome outcome;
    {
        Collecting collecting(*this, outcome);
        // The rewrites that the assignments cause record what they change in this one entry.
        JournalEntry entry(services_.journal, "rewrite the restrictions found at start");
        platform::BatchScope batch(services_.platform);
        for (const Restriction& restriction : kCatalogue) {
            const int state =
                isInForce(registry_, restriction) ? toolkit::kChecked : toolkit::kUnchecked;
            // Assigning checked runs the box's imposing action, which rewrites the restriction
            // with 1 in both hives.
            services_.boxes.assign(restriction.number, state);
        }
        outcome.storeFailed(batch.finish());
    }
    Outcome told;
    for (const Change& change : outcome.changes()) {
        if (!change.needsAdministrator()) {
            told.add(change);
        }
    }
    warnOfRefusals(told);
    return outcome;
}

void RestrictionManager::clear_Check_controls(toolkit::CheckBoxes& form) {
    for (int number = 1; number <= form.count(); ++number) {
        form.assign(number, toolkit::kUnchecked);
    }
}

}  // namespace quorvane::restrictions
