#include "diagnosis/state_export.h"

#include "diagnosis/diagnosis.h"
#include "formats/utf16.h"
#include "platform/value_data.h"
#include "restrictions/catalogue.h"
#include "restrictions/restriction_manager.h"

namespace quorvane::diagnosis {

namespace {

using restrictions::Restriction;

struct Read {
    platform::Status status = platform::kSuccess;
    formats::RegValue value;
};

Read readRestriction(platform::RegistryApi& registry, platform::KeyHandle root,
                     const Restriction& restriction) {
    Read read;
    read.value.name = formats::narrowToUtf16(restriction.valueName);
    StoredValue stored;
    read.status =
        readStoredValue(registry, root, restriction.subKey, restriction.valueName, stored);
    read.value.type = stored.type;
    read.value.data = std::move(stored.data);
    if (read.status == platform::kSuccess && platform::isStringType(read.value.type)) {
        // The narrow text with its NULs, as UTF-16 units: a multi-string keeps its separators.
        read.value.data = platform::fileData(read.value.type, read.value.data);
        if (!read.value.data.ends_with(std::string(2, '\0'))) {
            read.value.data.append(2, '\0');
        }
    }
    return read;
}

formats::RegSection& sectionFor(std::vector<formats::RegSection>& sections,
                                const std::u16string& key) {
    for (formats::RegSection& section : sections) {
        if (section.key == key) {
            return section;
        }
    }
    return sections.emplace_back(formats::RegSection{key, false, {}});
}

}  // namespace

Result<std::vector<formats::RegSection>> restrictionSections(platform::RegistryApi& registry) {
    std::vector<formats::RegSection> sections;
    for (const auto& [root, hive] :
         {std::pair{platform::kCurrentUser, registry::kHiveCurrentUser},
          std::pair{platform::kLocalMachine, registry::kHiveLocalMachine}}) {
        for (const Restriction& restriction : restrictions::kCatalogue) {
            Read read = readRestriction(registry, root, restriction);
            const std::string key = restrictions::fullRegistryPath(hive, restriction.subKey);
            if (read.status == platform::kFileNotFound) {
                read.value.deleted = true;
            } else if (read.status != platform::kSuccess) {
                return failure(read.status, std::string(restriction.valueName) + " in " + key +
                                                " cannot be read (registry status " +
                                                std::to_string(read.status) + ")");
            }
            sectionFor(sections, formats::narrowToUtf16(key))
                .values.push_back(std::move(read.value));
        }
    }
    return sections;
}

std::vector<PolicyRecord> policyRecordsInForce(platform::RegistryApi& registry,
                                               registry::General2& general, registry::Hive hive) {
    std::vector<PolicyRecord> records;
    for (const Restriction& restriction : restrictions::kCatalogue) {
        const bool inForce = hive == registry::kHiveLocalMachine
                                 ? restrictions::isInForceIn(general, restriction, hive)
                                 : restrictions::isInForce(general, restriction);
        if (!inForce) {
            continue;
        }
        PolicyRecord record{formats::narrowToUtf16(restriction.subKey),
                            formats::narrowToUtf16(restriction.valueName), platform::kRegDword,
                            std::string("\1\0\0\0", 4)};
        if (restriction.kind == restrictions::Kind::String) {
            const Read read = readRestriction(registry, platform::kLocalMachine, restriction);
            record.type = platform::kRegSz;
            record.data = read.value.data;
        }
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace quorvane::diagnosis
