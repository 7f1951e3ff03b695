#include "cli/usage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/commands.h"

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
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
    return kExitOutput;
}

}  // namespace quorvane::cli
