#include "restrictions/restriction_manager.h"

namespace quorvane::restrictions {

DefaultPages defaultPages(const toolkit::Configuration& configuration) {
    const std::string vendor = "http://" + configuration.vendorHost;
    return {vendor + "/isapi/redir.dll?prd=ie&ar=iesearch",
            vendor + "/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}&pver={SUB_PVER}&ar=home",
            "http://" + configuration.portalHost + "/"};
}

Outcome RestrictionManager::ResetHomeSearchPages() {
    const DefaultPages pages = defaultPages(services_.configuration);
    const struct {
        registry::Hive hive;
        const char* valueName;
        const std::string& text;
    } writes[] = {
        {registry::kHiveLocalMachine, "Search Page", pages.search},
        {registry::kHiveLocalMachine, "Start Page", pages.homeRedirect},
        {registry::kHiveCurrentUser, "Search Page", pages.search},
        {registry::kHiveCurrentUser, "Start Page", pages.portal},
    };
    std::vector<PlannedChange> plan;
    std::vector<Change> changes;
    for (const auto& write : writes) {
        plan.push_back(
            PlannedChange::setText(write.hive, kBrowserMainKey, write.valueName, write.text));
        changes.push_back({write.hive, "set", write.valueName, platform::kSuccess, {}});
    }
    Outcome outcome;
    {
        Collecting collecting(*this, outcome);
        JournalEntry entry(services_.journal, "reset home/search page");
        platform::BatchScope batch(services_.platform);
        if (backedUp(plan, changes)) {
            for (const auto& write : writes) {
                const bool needed = !holds(write.hive, kBrowserMainKey, write.valueName,
                                           platform::kRegSz, write.text);
                record(write.hive, "set", write.valueName,
                       registry_.SetStringValue(fullRegistryPath(write.hive, kBrowserMainKey),
                                                write.valueName, write.text),
                       needed);
            }
        }
        outcome.storeFailed(batch.finish());
    }
    services_.events.processPendingEvents();
    storeNestedChanges(outcome);
    tell(outcome,
         std::string("Home and/or Search Page has been restored to the originals!\r\n\r\n") +
             kStartupHint,
         "Home/Search Page Restored", kPageResetRefused, kPageResetRefusedTitle);
    return outcome;
}

}  // namespace quorvane::restrictions
