// A command line run by the shell as a user would run it, its output kept in files of a scratch
// directory rather than in a pipe the test would have to drain. POSIX only.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace quorvane::testing {

struct CliOutcome {
    int status;  // the exit status, or -1 when a signal ended the command
    std::string out;
    std::string err;
};

inline CliOutcome runCommandLine(const std::string& commandLine,
                                 const std::filesystem::path& scratch) {
    const std::filesystem::path out = scratch / "stdout.txt";
    const std::filesystem::path err = scratch / "stderr.txt";
    // In the scratch folder, so that a relative path a command writes lands there.
    const std::string command = "cd '" + scratch.string() + "' && " + commandLine + " >" +
                                out.string() + " 2>" + err.string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

}  // namespace quorvane::testing
