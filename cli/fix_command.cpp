// quorvane-cli fix: stop what sets restrictions again, then lift them; one undo entry for all.
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/report_commands.h"
#include "diagnosis/fix.h"
#include "restrictions/catalogue.h"
#include "toolkit/application.h"

namespace quorvane::cli {

namespace {

using diagnosis::FixItem;

const char* kindName(FixItem::Kind kind) {
    switch (kind) {
        case FixItem::Kind::PolicyRecords:
            return "policy records";
        case FixItem::Kind::StartupValue:
            return "startup value";
        case FixItem::Kind::StartupFile:
            return "startup item";
        case FixItem::Kind::Task:
            return "scheduled task";
        case FixItem::Kind::Left:
            break;
    }
    return "left";
}

Json planJson(const diagnosis::FixPlan& plan, const restrictions::Outcome* outcome) {
    Json items = Json::array();
    for (const FixItem& item : plan.items) {
        items.push_back({{"kind", kindName(item.kind)},
                         {"source", diagnosis::sourceName(item.finding.source)},
                         {"where", item.finding.where},
                         {"item", item.finding.item},
                         {"change", item.change}});
    }
    Json object{{"changes", items}, {"lift", plan.lift}, {"dryRun", outcome == nullptr}};
    if (outcome != nullptr) {
        Json refused = Json::array();
        for (const restrictions::Change& change : outcome->changes()) {
            if (!change.done()) {
                refused.push_back(
                    {{"action", change.action}, {"item", change.item}, {"reason", change.reason}});
            }
        }
        object["notDone"] = refused;
    }
    return object;
}

}  // namespace

int fixCommand(Session& session, const diagnosis::Places& places, const std::vector<int>& numbers,
               bool dryRun, bool json) {
    const diagnosis::FixPlan plan =
        diagnosis::planFix(*session.platform, session.registry, places, numbers);
    if (!dryRun && session.journal == nullptr) {
        std::cerr << "quorvane-cli: fix changes nothing without an undo journal\n";
        return kExitUsage;
    }
    if (dryRun) {
        if (json) {
            std::cout << jsonText(planJson(plan, nullptr));
        } else {
            std::cout << diagnosis::formatPlan(plan);
        }
        return plan.leavesSomething() ? kExitRefused : kExitSuccess;
    }
    if (!json) {
        std::cout << diagnosis::formatPlan(plan);
    }
    std::string action = "fix";
    for (const int number : numbers) {
        action.append(" ").append(restrictions::restrictionByNumber(number)->valueName);
    }
    const restrictions::Outcome outcome = diagnosis::stopAndLift(
        plan, action, *session.platform, *session.journal, places, session.manager,
        session.registry,
        [&session](int number) { session.boxes.assign(number, toolkit::kUnchecked); });
    if (json) {
        std::cout << jsonText(planJson(plan, &outcome));
    }
    if (!outcome.allDone()) {
        session.messages.show(restrictions::warningText(diagnosis::kNotStopped, outcome),
                              toolkit::kExclamation, toolkit::kApplicationTitle);
        return kExitRefused;
    }
    if (!json) {
        std::cout << diagnosis::kStoppedText << '\n';
    }
    return kExitSuccess;
}

}  // namespace quorvane::cli
