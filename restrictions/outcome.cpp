#include "restrictions/outcome.h"

#include <algorithm>

namespace quorvane::restrictions {

namespace {

registry::Hive hiveOfRoot(platform::KeyHandle root) {
    return root == platform::kLocalMachine ? registry::kHiveLocalMachine
                                           : registry::kHiveCurrentUser;
}

std::string withoutFinalStop(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

}  // namespace

void Outcome::merge(const Outcome& other) {
    changes_.insert(changes_.end(), other.changes_.begin(), other.changes_.end());
}

void Outcome::storeFailed(const platform::StoreFailures& failures) {
    for (const platform::StoreFailure& failure : failures) {
        const registry::Hive hive = hiveOfRoot(failure.root);
        const std::string reason = refusalReason(hive, failure.status, failure.reason);
        for (Change& change : changes_) {
            if (change.hive == hive && change.done() && change.needed) {
                change.status = failure.status;
                change.reason = reason;
            }
        }
    }
}

bool Outcome::allDone() const {
    return std::all_of(changes_.begin(), changes_.end(),
                       [](const Change& change) { return change.done(); });
}

const Change* Outcome::find(registry::Hive hive, const std::string& action,
                            const std::string& item) const {
    const auto found = std::find_if(changes_.begin(), changes_.end(), [&](const Change& change) {
        return change.hive == hive && change.action == action && change.item == item;
    });
    return found != changes_.end() ? &*found : nullptr;
}

const char* hiveName(registry::Hive hive) {
    return hive == registry::kHiveLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string fullRegistryPath(registry::Hive hive, const std::string& subKey) {
    return std::string(hiveName(hive)) + "\\" + subKey;
}

std::string refusalReason(registry::Hive hive, platform::Status status, const std::string& detail) {
    switch (status) {
        case platform::kAccessDenied:
            // The status says it all; the remedy depends on the hive.
            return std::string("no write access to ") + hiveName(hive) +
                   (hive == registry::kHiveLocalMachine ? ": run Quorvane as administrator" : "");
        case platform::kFileNotFound:
            return "its key does not exist";
        case platform::kKeyDeleted:
            return "its key was deleted meanwhile";
        default:
            break;
    }
    if (!detail.empty()) {
        return withoutFinalStop(detail);
    }
    switch (status) {
        case platform::kBusy:
            return "another program holds the registry";
        case platform::kRegistryIoFailed:
            return "the registry could not be written";
        default:
            return "registry status " + std::to_string(status);
    }
}

std::string describeRefusals(const Outcome& outcome) {
    // One paragraph per reason: a reason both hives share (a wineserver, a lock file) is said
    // once, and a line names its hive only when the other hive does not share it.
    struct Line {
        std::string text;
        std::vector<registry::Hive> hives;
    };
    struct Group {
        std::string reason;
        std::vector<registry::Hive> hives;
        std::vector<Line> lines;
    };
    std::vector<Group> groups;
    for (const Change& change : outcome.changes()) {
        if (change.done()) {
            continue;
        }
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& g) { return g.reason == change.reason; });
        if (group == groups.end()) {
            group = groups.insert(groups.end(), Group{change.reason, {}, {}});
        }
        if (std::find(group->hives.begin(), group->hives.end(), change.hive) ==
            group->hives.end()) {
            group->hives.push_back(change.hive);
        }
        const std::string text = change.action + " " + change.item;
        auto line = std::find_if(group->lines.begin(), group->lines.end(),
                                 [&](const Line& l) { return l.text == text; });
        if (line == group->lines.end()) {
            line = group->lines.insert(group->lines.end(), Line{text, {}});
        }
        if (std::find(line->hives.begin(), line->hives.end(), change.hive) == line->hives.end()) {
            line->hives.push_back(change.hive);
        }
    }
    // Changes of files (fix and its undo) name no hive.
    const auto placeName = [](registry::Hive hive) {
        return hive == registry::kNoHive ? "files" : hiveName(hive);
    };
    std::string text;
    for (const Group& group : groups) {
        if (!text.empty()) {
            text += "\r\n";
        }
        std::string where = placeName(group.hives.front());
        for (std::size_t i = 1; i < group.hives.size(); ++i) {
            where += std::string(" and ") + placeName(group.hives[i]);
        }
        text += "Not done in " + where + " (" + group.reason + "):";
        for (const Line& line : group.lines) {
            text += "\r\n  " + line.text;
            if (line.hives.size() < group.hives.size()) {
                text += std::string(" in ") + placeName(line.hives.front());
            }
        }
    }
    return text;
}

std::string warningText(const std::string& lead, const Outcome& outcome) {
    return lead + "\r\n\r\n" + describeRefusals(outcome);
}

}  // namespace quorvane::restrictions
