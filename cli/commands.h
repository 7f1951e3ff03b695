// The commands of quorvane-cli. Each returns the process's exit status.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"
#include "platform/registry_location.h"

namespace quorvane::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitOutput = 1;   // standard output could not be written
inline constexpr int kExitUsage = 2;    // bad command line, or the registry cannot be used
inline constexpr int kExitRefused = 3;  // part of the change did not take effect

// The registry of `location` for one command. For a command that `onlyReads`, nothing is
// created and no lock is taken; beside a running wineserver it reads all the same, after a line
// on the error stream that the server may hold newer changes. Throws platform::StoreError.
std::unique_ptr<platform::RegistryApi> openForCommand(const platform::RegistryLocation& location,
                                                      bool onlyReads);

// A restriction given by its number (1 to 24) or its value name in any case.
std::optional<int> parseRestriction(const std::string& argument);

int listRestrictions(Session& session, bool json, std::ostream& out);
// Runs the switching action of each restriction, then reads both hives back. What did not take
// effect goes to the session's warnings, with the reasons.
int switchRestrictions(Session& session, const std::vector<int>& numbers, bool impose,
                       std::ostream& out);
// Each prints the window's message: the success text, or the warning that says what was not done.
int removeAllRestrictions(Session& session);
int resetHomeSearchPages(Session& session);
// Puts back what the last change of the session's registry changed, or with `list` lists the
// undo entries, newest first: time, action and what it changed.
int undoCommand(Session& session, bool list, std::ostream& out);

}  // namespace quorvane::cli
