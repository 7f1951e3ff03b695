// Why a restriction comes back: where each restriction is set now, and what will set it again
// (local and cached Group Policy files, domain policy, startup items and scheduled tasks).
// Reads only; changes nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/places.h"
#include "platform/registry_api.h"
#include "registry/general2.h"

namespace quorvane::diagnosis {

struct StoredValue {
    std::uint32_t type = 0;
    std::string data;  // as a query gives it: strings in the narrow encoding with their NUL

    std::string describe() const;
};

// Reads root\subKey's value `name` into `value`; the status of the first step that failed.
platform::Status readStoredValue(platform::RegistryApi& registry, platform::KeyHandle root,
                                 const std::string& subKey, const std::string& name,
                                 StoredValue& value);

struct RestrictionState {
    int number = 0;
    bool inForce = false;
    std::optional<StoredValue> currentUser;  // none: absent
    std::optional<StoredValue> localMachine;
};

struct Finding {
    enum class Source { PolicyFile, DomainPolicy, RegistryStartup, StartupFolder, ScheduledTask };
    Source source = Source::RegistryStartup;
    std::string where;    // the key or file
    std::string item;     // value name, file name, task name or policy object
    std::string command;  // what it runs, or what the policy sets
    // The restrictions it sets; empty when it may set any (a registry file Quorvane cannot read,
    // a domain's policies).
    std::vector<int> restrictions;
    bool setsRegistry = false;   // false: an other startup item
    std::filesystem::path file;  // the policy file, startup item or task definition, if any

    bool concerns(const std::vector<int>& numbers) const;
};

struct Report {
    std::string place;                       // what was looked at, for people
    std::vector<RestrictionState> states;    // the restrictions the report is about
    std::vector<Finding> returning;          // what will set one of them again
    std::vector<Finding> otherStartupItems;  // the rest of the startup items
    std::vector<std::string> notes;          // places not looked at, damaged files

    bool somethingReturns() const { return !returning.empty(); }
};

// `numbers` empty: the restrictions in force or present in either hive, and everything that sets
// any restriction; else those restrictions and what sets them.
Report diagnose(platform::RegistryApi& registry, registry::General2& general, const Places& places,
                const std::vector<int>& numbers);

// The report as plain text, as the command line prints it and the window shows it.
std::string formatReport(const Report& report);
const char* sourceName(Finding::Source source);

}  // namespace quorvane::diagnosis
