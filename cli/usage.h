// What every command says about a bad command line, and about output it could not write.
#pragma once

#include <string>

namespace quorvane::cli {

// Keeps the name the program was started by (its first argument), for the help and the hints.
void rememberProgramName(const std::string& started);
// That name without its directory.
std::string programName();

// Prints `message` and where to find help to standard error; returns kExitUsage.
int usageError(const std::string& message);

// The exit status of a command that ends with `status`: kExitOutput, with the reason on standard
// error, when standard output could not be written whole (a full disk, a closed pipe).
int withOutputWritten(int status);

}  // namespace quorvane::cli
