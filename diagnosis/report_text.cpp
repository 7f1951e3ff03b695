#include <sstream>

#include "diagnosis/diagnosis.h"
#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

namespace {

std::string describe(const std::optional<StoredValue>& value) {
    return value ? value->describe() : std::string("absent");
}

std::string restrictionLabel(int number) {
    const auto restriction = restrictions::restrictionByNumber(number);
    return std::to_string(number) + " " + restriction->caption + " (" + restriction->valueName +
           ")";
}

void writeFinding(std::ostream& out, const Finding& finding) {
    out << "  [" << sourceName(finding.source) << "] " << finding.where;
    if (!finding.item.empty()) {
        out << ": " << finding.item;
    }
    out << "\n      " << finding.command << '\n';
    if (!finding.setsRegistry) {
        return;
    }
    if (finding.restrictions.empty()) {
        out << "      may set any restriction\n";
        return;
    }
    for (int number : finding.restrictions) {
        out << "      sets " << restrictionLabel(number) << '\n';
    }
}

}  // namespace

const char* sourceName(Finding::Source source) {
    switch (source) {
        case Finding::Source::PolicyFile:
            return "policy file";
        case Finding::Source::DomainPolicy:
            return "domain policy";
        case Finding::Source::RegistryStartup:
            return "startup key";
        case Finding::Source::StartupFolder:
            return "startup folder";
        case Finding::Source::ScheduledTask:
            return "scheduled task";
    }
    return "";
}

std::string formatReport(const Report& report) {
    std::ostringstream out;
    out << "Why restrictions come back, looked at in " << report.place << "\n\nRestrictions:\n";
    if (report.states.empty()) {
        out << "  none is in force or present in either hive\n";
    }
    for (const RestrictionState& state : report.states) {
        out << "  " << restrictionLabel(state.number) << ": "
            << (state.inForce ? "in force" : "not in force") << "; HKEY_CURRENT_USER "
            << describe(state.currentUser) << ", HKEY_LOCAL_MACHINE "
            << describe(state.localMachine) << '\n';
    }
    out << "\nWhat will set them again:\n";
    if (report.returning.empty()) {
        out << "  nothing found\n";
    }
    for (const Finding& finding : report.returning) {
        writeFinding(out, finding);
    }
    out << "\nOther startup items:\n";
    if (report.otherStartupItems.empty()) {
        out << "  none\n";
    }
    for (const Finding& finding : report.otherStartupItems) {
        writeFinding(out, finding);
    }
    if (!report.notes.empty()) {
        out << "\nNotes:\n";
        for (const std::string& note : report.notes) {
            out << "  " << note << '\n';
        }
    }
    return out.str();
}

}  // namespace quorvane::diagnosis
