#include <sstream>

#include "diagnosis/diagnosis.h"
#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

namespace {

// A command shown longer than this is cut, and the report says how much was left out.
constexpr std::size_t kShownLength = 400;

// Text from files and the registry as a terminal may show it: control characters (C0, DEL and,
// in UTF-8, C1) written as \r, \n, \t or \xHH, never sent raw. Cut after `limit` bytes, never
// inside a character.
std::string printable(std::string_view text, std::size_t limit = std::string_view::npos) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t used = 0;
    for (; used < text.size(); ++used) {
        const auto c = static_cast<unsigned char>(text[used]);
        const bool continuation = (c & 0xC0) == 0x80;
        if (out.size() >= limit && !continuation) {
            break;
        }
#ifndef _WIN32
        const bool c1 = c == 0xC2 && used + 1 < text.size() &&
                        static_cast<unsigned char>(text[used + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[used + 1]) <= 0x9F;
        if (c1) {
            const auto code = static_cast<unsigned char>(text[++used]);
            out.append("\\u00").append(1, kHex[code >> 4]).append(1, kHex[code & 0xF]);
            continue;
        }
#endif
        if (c >= 0x20 && c != 0x7F) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out.append("\\x").append(1, kHex[c >> 4]).append(1, kHex[c & 0xF]);
        }
    }
    if (used < text.size()) {
        out += " [... " + std::to_string(text.size() - used) + " more characters]";
    }
    return out;
}

std::string describe(const std::optional<StoredValue>& value) {
    return value ? printable(value->describe()) : std::string("absent");
}

std::string restrictionLabel(int number) {
    const auto restriction = restrictions::restrictionByNumber(number);
    return std::to_string(number) + " " + restriction->caption + " (" + restriction->valueName +
           ")";
}

void writeFinding(std::ostream& out, const Finding& finding) {
    out << "  [" << sourceName(finding.source) << "] " << printable(finding.where);
    if (!finding.item.empty()) {
        out << ": " << printable(finding.item);
    }
    out << "\n      " << printable(finding.command, kShownLength) << '\n';
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
    out << "Why restrictions come back, looked at in " << printable(report.place)
        << "\n\nRestrictions:\n";
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
            out << "  " << printable(note) << '\n';
        }
    }
    return out.str();
}

}  // namespace quorvane::diagnosis
