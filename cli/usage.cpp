#include "cli/usage.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "formats/result.h"

namespace quorvane::cli {

namespace {

std::string& startedAs() {
    static std::string name = "quorvane-cli";
    return name;
}

}  // namespace

void rememberProgramName(const std::string& started) {
    startedAs() = started;
}

std::string programName() {
    // By the text alone: on Windows either slash ends a folder's name.
    const std::string& started = startedAs();
    const std::size_t slash = started.find_last_of(
#ifdef _WIN32
        "/\\"
#else
        "/"
#endif
    );
    return slash == std::string::npos ? started : started.substr(slash + 1);
}

int usageError(const std::string& message) {
    std::cerr << "quorvane-cli: " << message << "\nTry '" << programName() << " --help'.\n";
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

}  // namespace quorvane::cli
