// quorvane-cli export: the restrictions' state as a registry file or a Registry.pol.
#include <iostream>
#include <variant>

#include "cli/commands.h"
#include "cli/report_commands.h"
#include "diagnosis/state_export.h"
#include "formats/file_access.h"
#include "toolkit/file_path.h"

namespace quorvane::cli {

namespace {

using namespace Qt::StringLiterals;

// Only a file that holds exactly what was meant counts as written.
bool writeWhole(const QString& file, const std::string& bytes) {
    const auto written = formats::writeWholeFile(toolkit::toFilePath(file), bytes);
    if (!written) {
        std::cerr << "quorvane-cli: " << file.toStdString()
                  << " was not written: " << written.failure().reason << '\n';
        return false;
    }
    return true;
}

int exportRegFile(Session& session, const QString& file) {
    const auto sections = diagnosis::restrictionSections(*session.platform);
    if (!sections) {
        std::cerr << "quorvane-cli: nothing was exported: " << sections.failure().reason << '\n';
        return kExitRefused;
    }
    if (!writeWhole(file, formats::writeRegFile(*sections))) {
        return kExitRefused;
    }
    std::cout << "Exported the 24 restrictions of both hives to " << file.toStdString() << '\n';
    return kExitSuccess;
}

int exportPolicyFile(Session& session, const QString& scope, const QString& file) {
    const auto records = diagnosis::policyRecordsInForce(*session.platform, session.registry);
    if (!writeWhole(file, diagnosis::writePolicyFile(records))) {
        return kExitRefused;
    }
    std::cout << "Exported " << records.size() << " restriction" << (records.size() == 1 ? "" : "s")
              << " in force as " << scope.toStdString() << " policy to " << file.toStdString()
              << '\n';
    return kExitSuccess;
}

}  // namespace

int exportCommand(Session& session, const QStringList& arguments, const QString& policy) {
    if (arguments.size() != 1) {
        std::cerr << "quorvane-cli: export takes one file name\nTry 'quorvane-cli --help'.\n";
        return kExitUsage;
    }
    if (policy.isNull()) {
        return exportRegFile(session, arguments.front());
    }
    if (policy != "user"_L1 && policy != "machine"_L1) {
        std::cerr << "quorvane-cli: --policy is user or machine\nTry 'quorvane-cli --help'.\n";
        return kExitUsage;
    }
    return exportPolicyFile(session, policy, arguments.front());
}

}  // namespace quorvane::cli
