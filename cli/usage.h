// What every command says about a bad command line.
#pragma once

#include <QString>
#include <string>

namespace quorvane::cli {

// The name the program was started by, without its directory.
QString programName();

// Prints `message` and where to find help to standard error; returns kExitUsage.
int usageError(const std::string& message);

}  // namespace quorvane::cli
