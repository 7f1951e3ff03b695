#include "tests/support/hive_readers.h"

#include "tests/support/cli_run.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {

namespace {

// The command's standard output when it exits with 0; its errors are left out.
std::string output(const std::string& command) {
    const TempDir scratch;
    const CliOutcome outcome = runCommandLine(command, scratch.path());
    return outcome.status == 0 ? outcome.out : std::string();
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace

std::string regtreeListing(const std::filesystem::path& hive) {
    // No smb.conf is needed to read a file.
    return output("regtree -s /dev/null -F " + quoted(hive.string()));
}

std::string regedExport(const std::filesystem::path& hive, const std::string& prefix) {
    const TempDir scratch;
    const std::filesystem::path file = scratch.path() / "export.reg";
    if (output("reged -x " + quoted(hive.string()) + " " + quoted(prefix) + " '\\' " +
               quoted(file.string()))
            .empty()) {
        return {};
    }
    return readFile(file);
}

}  // namespace quorvane::testing
