// How RapidCheck shows a registry file's values and sections in a failing case.
#pragma once

#include <rapidcheck.h>

#include <ostream>

#include "formats/reg_file.h"
#include "formats/utf16.h"

namespace quorvane::formats {

inline void showValue(const RegValue& value, std::ostream& out) {
    out << "{\"" << utf16ToUtf8(value.name) << "\" deleted " << value.deleted << " type "
        << value.type << " data " << rc::toString(value.data) << "}";
}

inline void showValue(const RegSection& section, std::ostream& out) {
    out << "[" << (section.deleted ? "-" : "") << utf16ToUtf8(section.key) << "] "
        << rc::toString(section.values);
}

}  // namespace quorvane::formats
