// quorvane-cli why, fix and export: what will bring a restriction back, stopping it, and the
// restrictions' state written for other tools.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"
#include "diagnosis/places.h"

namespace quorvane::cli {

inline constexpr int kExitReturns = 4;  // why: something will set a restriction again

// why [RESTRICTION...] [--json]: exit 0 when nothing will set a restriction again, 4 when
// something will. No restriction named: all of them.
int whyCommand(Session& session, const diagnosis::Places& places, const std::vector<int>& numbers,
               bool json);
// fix [RESTRICTION...] [--dry-run] [--json]: stops what sets the restrictions again, then lifts
// them, with one undo entry for all (cli/fix_command.cpp).
int fixCommand(Session& session, const diagnosis::Places& places, const std::vector<int>& numbers,
               bool dryRun, bool json);
// export FILE.reg, or export --policy user|machine FILE.pol.
int exportCommand(Session& session, const std::string& file,
                  const std::optional<std::string>& policy);

}  // namespace quorvane::cli
