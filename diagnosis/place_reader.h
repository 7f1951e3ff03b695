// The places that can set a restriction again, one reader each. A reader looks in its place and
// adds what it finds; it reads only and changes nothing. The report assembles their findings in
// the order of `kPlaceReaders`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diagnosis/diagnosis.h"
#include "diagnosis/places.h"
#include "diagnosis/policy_file.h"
#include "platform/registry_api.h"

namespace quorvane::diagnosis {

// Where the readers look: the managed registry and the folders that belong to it.
struct Context {
    platform::RegistryApi& registry;
    const Places& places;
};

// What the readers found, in the order they found it.
struct Findings {
    std::vector<Finding> setting;    // what sets registry values (policy, startup, tasks)
    std::vector<Finding> others;     // startup items that set nothing
    std::vector<std::string> notes;  // places not looked at, damaged files, limits reached
};

using PlaceReader = void (*)(const Context&, Findings&);

// The Run, RunOnce and policy Run keys of both hives.
void readStartupKeys(const Context& context, Findings& findings);
// Winlogon's Userinit and Shell in both hives: programs separated by commas.
void readWinlogon(const Context& context, Findings& findings);
// Group Policy objects a domain applied (linked from a directory): applied again at every refresh.
void readDomainMarks(const Context& context, Findings& findings);
// The local Registry.pol files (machine, user, each user's) and those of the policy caches.
void readPolicyFiles(const Context& context, Findings& findings);
// The Startup folders: scripts and registry files run as they are, shortcuts by their target.
void readStartupFolders(const Context& context, Findings& findings);
// The task definitions of the Task Scheduler: each enabled task's Exec actions.
void readScheduledTasks(const Context& context, Findings& findings);

struct PlaceReaderEntry {
    PlaceReader read;
    bool readsFiles;  // looks in the system folder or below; skipped when there are no files
};

inline constexpr PlaceReaderEntry kPlaceReaders[] = {
    {readStartupKeys, false}, {readWinlogon, false},      {readDomainMarks, false},
    {readPolicyFiles, true},  {readStartupFolders, true}, {readScheduledTasks, true},
};

// What a policy file for hive `root` sets: one finding naming every restriction it puts in
// force, shown as at `where`; none when it sets none.
std::optional<Finding> policyFinding(const PolicyFile& file, platform::KeyHandle root,
                                     const std::string& where);

}  // namespace quorvane::diagnosis
