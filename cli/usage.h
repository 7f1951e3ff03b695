// What every command says about a bad command line, and about output it could not write.
#pragma once

#include <QString>
#include <optional>
#include <string>

namespace quorvane::cli {

// The name the program was started by, without its directory.
QString programName();

// Prints `message` and where to find help to standard error; returns kExitUsage.
int usageError(const std::string& message);

// The exit status of a command that ends with `status`: kExitOutput, with the reason on standard
// error, when standard output could not be written whole (a full disk, a closed pipe).
int withOutputWritten(int status);

// The one rule for --registry DIR (`set`, `directory`), the same for every command: it names a
// directory, and on Windows, which has the registry itself, it is refused. The exit status when
// it is broken, after saying why.
std::optional<int> registryOptionRefused(bool set, const QString& directory);

}  // namespace quorvane::cli
