// The backup taken before a change: every action asks the journal to record the prior state of
// what it is about to change before its first write, and changes nothing when that record could
// not be kept. The journal behind this interface keeps one undo entry per top-level action.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/result.h"
#include "platform/registry_api.h"
#include "registry/general2.h"

namespace quorvane::restrictions {

// What an action will do to one value or key; `type` and `data` only for SetValue, as the narrow
// registry functions take them (strings with their terminating NUL).
struct PlannedChange {
    enum class Kind { SetValue, DeleteValue, CreateKey, DeleteKey };

    Kind kind = Kind::SetValue;
    registry::Hive hive = registry::kNoHive;
    std::string subKey;
    std::string valueName;
    std::uint32_t type = 0;
    std::string data;

    static PlannedChange setValue(registry::Hive hive, std::string subKey, std::string valueName,
                                  std::uint32_t type, std::string data) {
        return {Kind::SetValue,       hive, std::move(subKey),
                std::move(valueName), type, std::move(data)};
    }
    static PlannedChange setText(registry::Hive hive, std::string subKey, std::string valueName,
                                 const std::string& text) {
        return setValue(hive, std::move(subKey), std::move(valueName), platform::kRegSz,
                        text + '\0');
    }
    static PlannedChange deleteValue(registry::Hive hive, std::string subKey,
                                     std::string valueName) {
        return {Kind::DeleteValue, hive, std::move(subKey), std::move(valueName), 0, {}};
    }
    static PlannedChange createKey(registry::Hive hive, std::string subKey) {
        return {Kind::CreateKey, hive, std::move(subKey), {}, 0, {}};
    }
    static PlannedChange deleteKey(registry::Hive hive, std::string subKey) {
        return {Kind::DeleteKey, hive, std::move(subKey), {}, 0, {}};
    }
};

// The status of a change that was not made because its backup could not be kept
// (ERROR_WRITE_FAULT).
inline constexpr platform::Status kNoBackup = 29;

class Journal {
public:
    virtual ~Journal() = default;

    // Opens the entry of a top-level action, named for people ("remove all restrictions"); an
    // action begun while another one runs adds to that one's entry.
    virtual void begin(const std::string& action) = 0;
    // Before the action writes: keeps the prior state of every value and key that `changes`
    // would change and the entry does not hold yet. Nothing when the entry holds all of it; else
    // why not, for people, and the caller must change nothing.
    virtual Result<void> record(const std::vector<PlannedChange>& changes) = 0;
    // Ends the action begun last. The outermost keeps in its entry only what the action really
    // changed, and no entry at all when it changed nothing.
    virtual void end() = 0;
};

// Begins an action's entry for the scope's life.
class JournalEntry {
public:
    JournalEntry(Journal* journal, const std::string& action) : journal_(journal) {
        if (journal_ != nullptr) {
            journal_->begin(action);
        }
    }
    ~JournalEntry() {
        if (journal_ != nullptr) {
            journal_->end();
        }
    }
    JournalEntry(const JournalEntry&) = delete;
    JournalEntry& operator=(const JournalEntry&) = delete;

private:
    Journal* journal_;
};

}  // namespace quorvane::restrictions
