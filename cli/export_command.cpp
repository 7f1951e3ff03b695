// quorvane-cli export: the restrictions' state as a registry file or a Registry.pol.
#include <iostream>
#include <variant>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/report_commands.h"
#include "diagnosis/state_export.h"
#include "formats/file_access.h"

namespace quorvane::cli {

namespace {

// Only a file that holds exactly what was meant counts as written.
bool writeWhole(const std::string& file, const std::string& bytes) {
    const auto written = formats::writeWholeFile(filePathOf(file), bytes);
    if (!written) {
        std::cerr << "quorvane-cli: " << file << " was not written: " << written.failure().reason
                  << '\n';
        return false;
    }
    return true;
}

int exportRegFile(Session& session, const std::string& file) {
    const auto sections = diagnosis::restrictionSections(*session.platform);
    if (!sections) {
        std::cerr << "quorvane-cli: nothing was exported: " << sections.failure().reason << '\n';
        return kExitRefused;
    }
    if (!writeWhole(file, formats::writeRegFile(*sections))) {
        return kExitRefused;
    }
    std::cout << "Exported the 24 restrictions of both hives to " << file << '\n';
    return kExitSuccess;
}

int exportPolicyFile(Session& session, const std::string& scope, const std::string& file) {
    const auto records = diagnosis::policyRecordsInForce(
        *session.platform, session.registry,
        scope == "machine" ? registry::kHiveLocalMachine : registry::kHiveCurrentUser);
    if (!writeWhole(file, diagnosis::writePolicyFile(records))) {
        return kExitRefused;
    }
    std::cout << "Exported " << records.size() << " restriction" << (records.size() == 1 ? "" : "s")
              << " in force as " << scope << " policy to " << file << '\n';
    return kExitSuccess;
}

}  // namespace

// The command line is checked already: one file, and a scope of user or machine.
int exportCommand(Session& session, const std::string& file,
                  const std::optional<std::string>& policy) {
    if (!policy) {
        return exportRegFile(session, file);
    }
    return exportPolicyFile(session, *policy, file);
}

}  // namespace quorvane::cli
