#include "restrictions/failure_mode.h"
#include "restrictions/restriction_manager.h"

namespace quorvane::restrictions {

DefaultPages defaultPages(const toolkit::Configuration& configuration) {
    const std::string vendor = "http://" + configuration.vendorHost;
    return {vendor + "/isapi/redir.dll?prd=ie&ar=iesearch",
            vendor + "/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}&pver={SUB_PVER}&ar=home",
            "http://" + configuration.portalHost + "/"};
}

void RestrictionManager::ResetHomeSearchPages() {
    const DefaultPages pages = defaultPages(services_.configuration);
    const struct {
        const char* hive;
        const char* valueName;
        const std::string& text;
    } writes[] = {
        {kLocalMachinePrefix, "Search Page", pages.search},
        {kLocalMachinePrefix, "Start Page", pages.homeRedirect},
        {kCurrentUserPrefix, "Search Page", pages.search},
        {kCurrentUserPrefix, "Start Page", pages.portal},
    };
    platform::BatchScope batch(services_.platform);
    for (const auto& write : writes) {
        skipOnFailure([&] {
            std::string path = std::string(write.hive) + kBrowserMainKey;
            services_.registry.SetStringValue(path, write.valueName, write.text);
        });
    }
    finishBatch(batch);
    skipOnFailure([&] { services_.events.processPendingEvents(); });
    showWhenStored(
        std::string("Home and/or Search Page has been restored to the originals!\r\n\r\n") +
            kStartupHint,
        "Home/Search Page Restored");
}

}  // namespace quorvane::restrictions
