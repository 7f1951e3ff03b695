// Registry.pol files, the registry settings of Group Policy: the header "PReg" and version 1,
// then records [key;value;type;size;data] in UTF-16LE, key and value ending in a NUL, type and
// size as 32-bit little-endian numbers. The policy engine applies them to the registry at every
// refresh. Files come from anywhere, so the reader trusts no size and no terminator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::diagnosis {

struct PolicyRecord {
    std::u16string key;    // below the hive the file is for
    std::u16string value;  // as written, including the "**del." and other special forms
    std::uint32_t type = 0;
    std::string data;  // exactly `size` bytes

    bool operator==(const PolicyRecord&) const = default;
};

struct PolicyFile {
    std::vector<PolicyRecord> records;  // every complete record before any damage
    // Why reading stopped before the end, with the byte offset; none for a sound file.
    std::optional<std::string> damage;
};

PolicyFile readPolicyFile(std::string_view bytes);
std::string writePolicyFile(const std::vector<PolicyRecord>& records);

// What one record does to its key.
struct PolicyEffect {
    enum class Action {
        SetValue,         // "Name": stores the data
        SetIfAbsent,      // "**soft.Name": stores it unless the value exists
        DeleteValue,      // "**del.Name"
        DeleteAllValues,  // "**delvals."
        DeleteValues,     // "**DeleteValues", data "a;b;c"
        DeleteKeys,       // "**DeleteKeys", data "k1;k2"
        CreateKey,        // no value name and no data
        Other,            // "**SecureKey" and other markers that change no value
    };
    Action action = Action::Other;
    std::vector<std::u16string> names;  // the values or keys acted on
};

PolicyEffect effectOf(const PolicyRecord& record);

// A key path with empty names dropped, so that "\A\\B\" and "A\B" compare equal.
std::string normalisedKey(std::string_view path);

// The data of a string record as text, without its terminating NULs.
std::u16string recordText(const PolicyRecord& record);

}  // namespace quorvane::diagnosis
