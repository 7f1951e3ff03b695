#include "diagnosis/diagnosis.h"

#include <algorithm>

#include "diagnosis/place_access.h"
#include "diagnosis/place_reader.h"
#include "registry/value_query.h"
#include "restrictions/catalogue.h"
#include "restrictions/restriction_manager.h"

namespace quorvane::diagnosis {

namespace {

using platform::KeyHandle;
using restrictions::Restriction;

std::vector<RestrictionState> statesOf(platform::RegistryApi& registry, registry::General2& general,
                                       const std::vector<int>& numbers) {
    std::vector<RestrictionState> states;
    for (const Restriction& restriction : restrictions::kCatalogue) {
        RestrictionState state{
            restriction.number, restrictions::isInForce(general, restriction),
            readValue(registry, platform::kCurrentUser, restriction.subKey, restriction.valueName),
            readValue(registry, platform::kLocalMachine, restriction.subKey,
                      restriction.valueName)};
        const bool asked =
            std::find(numbers.begin(), numbers.end(), restriction.number) != numbers.end();
        const bool present = state.inForce || state.currentUser || state.localMachine;
        if (numbers.empty() ? present : asked) {
            states.push_back(std::move(state));
        }
    }
    return states;
}

}  // namespace

platform::Status readStoredValue(platform::RegistryApi& registry, KeyHandle root,
                                 const std::string& subKey, const std::string& name,
                                 StoredValue& value) {
    KeyHandle key = 0;
    platform::Status status = registry.openKey(root, subKey, platform::kKeyRead, key);
    if (status != platform::kSuccess) {
        return status;
    }
    status = registry::queryWholeValue(registry, key, name, value.type, value.data);
    registry.closeKey(key);
    return status;
}

std::string StoredValue::describe() const {
    if (type == platform::kRegDword && data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = (number << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
        }
        return std::to_string(static_cast<std::int32_t>(number));
    }
    if (platform::isStringType(type)) {
        return std::string(1, '"').append(textOf(*this)).append("\"");
    }
    return "type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes";
}

bool Finding::concerns(const std::vector<int>& numbers) const {
    return restrictions.empty() || numbers.empty() ||
           std::any_of(restrictions.begin(), restrictions.end(), [&](int number) {
               return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
           });
}

Report diagnose(platform::RegistryApi& registry, registry::General2& general, const Places& places,
                const std::vector<int>& numbers) {
    Report report;
    report.place = places.description;
    report.states = statesOf(registry, general, numbers);
    const Context context{registry, places};
    Findings findings;
    bool filesLookedFor = false;
    for (const PlaceReaderEntry& reader : kPlaceReaders) {
        if (reader.readsFiles && places.systemFolder.empty()) {
            if (!filesLookedFor && !places.missing.empty()) {
                findings.notes.push_back(places.missing);
            }
            filesLookedFor = true;
            continue;
        }
        reader.read(context, findings);
    }
    for (Finding& finding : findings.setting) {
        if (finding.concerns(numbers)) {
            report.returning.push_back(std::move(finding));
        }
    }
    report.otherStartupItems = std::move(findings.others);
    report.notes = std::move(findings.notes);
    return report;
}

}  // namespace quorvane::diagnosis
