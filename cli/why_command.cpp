// quorvane-cli why: where each restriction is set and what will set it again.
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/report_commands.h"
#include "diagnosis/diagnosis.h"

namespace quorvane::cli {

namespace {

Json toJson(const std::optional<diagnosis::StoredValue>& value) {
    if (!value) {
        return nullptr;
    }
    return {{"type", static_cast<int>(value->type)}, {"value", value->describe()}};
}

Json toJson(const std::vector<diagnosis::Finding>& findings) {
    Json array = Json::array();
    for (const diagnosis::Finding& finding : findings) {
        array.push_back({{"source", diagnosis::sourceName(finding.source)},
                         {"where", finding.where},
                         {"item", finding.item},
                         {"command", finding.command},
                         {"setsRegistry", finding.setsRegistry},
                         {"restrictions", finding.restrictions}});
    }
    return array;
}

Json toJson(const diagnosis::Report& report) {
    Json states = Json::array();
    for (const diagnosis::RestrictionState& state : report.states) {
        states.push_back({{"number", state.number},
                          {"inForce", state.inForce},
                          {"currentUser", toJson(state.currentUser)},
                          {"localMachine", toJson(state.localMachine)}});
    }
    return {{"place", report.place},
            {"restrictions", states},
            {"returning", toJson(report.returning)},
            {"otherStartupItems", toJson(report.otherStartupItems)},
            {"notes", report.notes}};
}

}  // namespace

int whyCommand(Session& session, const diagnosis::Places& places, const std::vector<int>& numbers,
               bool json) {
    const diagnosis::Report report =
        diagnosis::diagnose(*session.platform, session.registry, places, numbers);
    if (json) {
        std::cout << jsonText(toJson(report));
    } else {
        std::cout << diagnosis::formatReport(report);
    }
    return report.somethingReturns() ? kExitReturns : kExitSuccess;
}

}  // namespace quorvane::cli
