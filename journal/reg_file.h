// The names the diagnosis still reaches through the journal, while it moves to its readers:
// registry files live in formats/reg_file.h, value data conversions in platform/value_data.h.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "formats/reg_file.h"
#include "platform/value_data.h"

namespace quorvane::journal {

using formats::RegSection;
using formats::RegValue;
using platform::fileData;
using platform::narrowData;

inline std::variant<std::vector<RegSection>, std::string> readRegFile(std::string_view bytes) {
    auto read = formats::readRegFile(bytes);
    if (!read) {
        return read.failure().reason;
    }
    return std::move(read).value();
}

}  // namespace quorvane::journal
