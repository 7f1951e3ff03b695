// What a hive holds for one restriction, as the command line reports it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_api.h"
#include "registry/general2.h"
#include "restrictions/catalogue.h"
#include "restrictions/outcome.h"

namespace quorvane::cli {

struct HiveData {
    enum class Found { Absent, Unreadable, Number, Text };
    Found found = Found::Absent;
    std::int32_t number = 0;
    std::string text;

    // "absent", "unreadable", the number, or the text in quotes.
    std::string describe() const;
};

// Reads the restriction's value in `hive` as detection reads it, telling a missing value apart
// from one that cannot be read. Reads only.
HiveData readHiveData(platform::RegistryApi& platform, registry::General2& registry,
                      registry::Hive hive, const restrictions::Restriction& restriction);

using restrictions::hiveName;

}  // namespace quorvane::cli
