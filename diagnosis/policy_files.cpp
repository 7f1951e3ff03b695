// Registry.pol files: the local Group Policy's (machine, user and each user's) and those the
// policy caches keep of each policy object. The policy engine applies them at every refresh.
#include "diagnosis/command_scan.h"
#include "diagnosis/place_access.h"
#include "diagnosis/text_scan.h"
#include "formats/utf16.h"
#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;
using platform::KeyHandle;

// A record's data as the narrow registry functions would give it once applied.
std::string describedData(const PolicyRecord& record) {
    if (!platform::isStringType(record.type)) {
        return record.data;
    }
    return formats::utf16ToNarrow(recordText(record)) + '\0';
}

std::string describeRecord(const PolicyRecord& record) {
    return StoredValue{record.type, describedData(record)}.describe();
}

void policyFile(const Context& context, Findings& findings, const fs::path& file, KeyHandle root) {
    const auto bytes = readPlacedFile(context, findings, file);
    if (!bytes) {
        return;
    }
    const PolicyFile policy = readPolicyFile(*bytes);
    if (policy.damage) {
        findings.notes.push_back(displayPath(file) + ": " + *policy.damage +
                                 "; the records before it were looked at");
    }
    if (auto finding = policyFinding(policy, root, displayPath(file))) {
        finding->file = file;
        findings.setting.push_back(std::move(*finding));
    }
}

}  // namespace

std::optional<Finding> policyFinding(const PolicyFile& file, KeyHandle root,
                                     const std::string& where) {
    Finding finding{Finding::Source::PolicyFile, where, {}, {}, {}, true, {}};
    for (const PolicyRecord& record : file.records) {
        const PolicyEffect effect = effectOf(record);
        if ((effect.action != PolicyEffect::Action::SetValue &&
             effect.action != PolicyEffect::Action::SetIfAbsent) ||
            effect.names.empty()) {
            continue;
        }
        const std::string key = normalisedKey(formats::utf16ToNarrow(record.key));
        const std::string name = formats::utf16ToNarrow(effect.names.front());
        for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
            if (holdsRestriction(key, restriction) &&
                equalIgnoringCase(name, restriction.valueName) &&
                storesInForce(restriction, record.type, describedData(record))) {
                addRestrictions(finding.restrictions, {restriction.number});
                finding.command += finding.command.empty() ? "" : "; ";
                finding.command += std::string(restriction.valueName) + " = " +
                                   describeRecord(record) + " in " + keyPath(root, key);
            }
        }
    }
    if (finding.restrictions.empty()) {
        return std::nullopt;
    }
    return finding;
}

void readPolicyFiles(const Context& context, Findings& findings) {
    const Places& places = context.places;
    if (auto file = findCaseless(places, places.systemFolder, "GroupPolicy/Machine/Registry.pol")) {
        policyFile(context, findings, *file, platform::kLocalMachine);
    }
    if (auto file = findCaseless(places, places.systemFolder, "GroupPolicy/User/Registry.pol")) {
        policyFile(context, findings, *file, platform::kCurrentUser);
    }
    if (const auto users = findCaseless(places, places.systemFolder, "GroupPolicyUsers")) {
        for (const fs::path& user : entriesOf(context, findings, *users, true)) {
            if (auto file = findCaseless(places, user, "User/Registry.pol")) {
                policyFile(context, findings, *file, platform::kCurrentUser);
            }
        }
    }
    // The cache holds a folder per policy object, with Machine\ and User\ (or <SID>\User\)
    // below it.
    for (const fs::path& cache : places.policyCaches) {
        forEachFile(context, findings, cache, [&](const fs::path& file) {
            if (!equalIgnoringCase(displayPath(file.filename()), "Registry.pol")) {
                return;
            }
            const bool machine =
                equalIgnoringCase(displayPath(file.parent_path().filename()), "Machine");
            policyFile(context, findings, file,
                       machine ? platform::kLocalMachine : platform::kCurrentUser);
        });
    }
}

}  // namespace quorvane::diagnosis
