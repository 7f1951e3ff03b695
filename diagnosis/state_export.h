// The restrictions' state in the forms other tools read: a registry file that reproduces both
// hives' values when imported, and a Registry.pol that imposes the restrictions in force.
#pragma once

#include <string>
#include <vector>

#include "diagnosis/policy_file.h"
#include "formats/reg_file.h"
#include "formats/result.h"
#include "platform/registry_api.h"
#include "registry/general2.h"

namespace quorvane::diagnosis {

// Each restriction's value in the per-user and then the machine hive, one section per key; a
// value that is absent is written as a deletion. The text when a value cannot be read.
Result<std::vector<formats::RegSection>> restrictionSections(platform::RegistryApi& registry);

// A record for each restriction in force where the policy file applies: DWORD 1 for restrictions
// 1 to 23, the title text for restriction 24. The user's policy file takes "in force" as the
// window shows it; the machine's takes it from HKEY_LOCAL_MACHINE alone.
std::vector<PolicyRecord> policyRecordsInForce(platform::RegistryApi& registry,
                                               registry::General2& general, registry::Hive hive);

}  // namespace quorvane::diagnosis
