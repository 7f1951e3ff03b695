// What a top-level action did: for each hive and value or key it meant to change, whether the
// change took effect or why not. The windows and the command line report from this one record,
// and show a success text only when everything took effect.
#pragma once

#include <string>
#include <vector>

#include "platform/registry_api.h"
#include "registry/general2.h"

namespace quorvane::restrictions {

struct Change {
    registry::Hive hive = registry::kNoHive;
    std::string action;  // "impose", "lift", "delete key", "delete", "set"
    std::string item;    // the value name, or the key's path below the hive
    platform::Status status = platform::kSuccess;
    std::string reason;  // why it did not take effect; empty when it did
    // False when the registry held what was wanted already: a hive that is not stored loses
    // nothing of it, so it is never listed as not done for that.
    bool needed = true;

    bool done() const { return status == platform::kSuccess; }
    // Refused in the machine hive for want of administrator rights.
    bool needsAdministrator() const {
        return hive == registry::kHiveLocalMachine && status == platform::kAccessDenied;
    }
};

class Outcome {
public:
    void add(Change change) { changes_.push_back(std::move(change)); }
    void merge(const Outcome& other);
    // Writes held back for a hive that could not be stored: what was done there is lost, except
    // what the registry held already.
    void storeFailed(const platform::StoreFailures& failures);

    const std::vector<Change>& changes() const { return changes_; }
    bool allDone() const;
    // The first change of `action` on `item` in `hive`, or null.
    const Change* find(registry::Hive hive, const std::string& action,
                       const std::string& item) const;

private:
    std::vector<Change> changes_;
};

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
const char* hiveName(registry::Hive hive);
// The full registry path of `subKey` in `hive`.
std::string fullRegistryPath(registry::Hive hive, const std::string& subKey);

// Why a change in `hive` was refused with `status`, for people. `detail` is what the registry
// said about it, if anything.
std::string refusalReason(registry::Hive hive, platform::Status status, const std::string& detail);

// The changes that did not take effect, grouped by reason, one group a paragraph: "Not done in
// HKEY_LOCAL_MACHINE (reason):" (or "in HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE" for a reason
// both share, said once) and one line per change, which names its hive when the group's other
// hive does not share it. Lines end in "\r\n".
std::string describeRefusals(const Outcome& outcome);
// A warning's text: `lead`, an empty line, and the refusals.
std::string warningText(const std::string& lead, const Outcome& outcome);

}  // namespace quorvane::restrictions
