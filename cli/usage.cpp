#include "cli/usage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/commands.h"
#include "formats/result.h"

namespace quorvane::cli {

QString programName() {
    return QFileInfo(QCoreApplication::arguments().constFirst()).fileName();
}

int usageError(const std::string& message) {
    std::cerr << "quorvane-cli: " << message << "\nTry '" << programName().toStdString()
              << " --help'.\n";
    return kExitUsage;
}

int withOutputWritten(int status) {
    errno = 0;
    std::cout.flush();
    const bool written =
        static_cast<bool>(std::cout) && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (written) {
        return status;
    }
    const int error = errno;
    std::cerr << "quorvane-cli: standard output could not be written"
              << (error != 0 ? ": " + describeError(error) : std::string()) << '\n';
    return kExitOutput;
}

std::optional<int> registryOptionRefused(bool set, const QString& directory) {
    if (!set) {
        return std::nullopt;
    }
#ifdef _WIN32
    // Hive files are not opened on Windows: saying so beats changing the real registry when the
    // user meant a directory.
    static_cast<void>(directory);
    return usageError("--registry is for hive files; on Windows the registry itself is used");
#else
    // Not the configured registry: the user named one and it is not there.
    return directory.isEmpty() ? std::optional(usageError("--registry needs a directory"))
                               : std::nullopt;
#endif
}

}  // namespace quorvane::cli
