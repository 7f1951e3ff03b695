// Group Policy records each policy object it applied below its History key; those linked from a
// directory (LDAP://...) come from a domain, which applies them again at every refresh.
#include "diagnosis/place_access.h"
#include "diagnosis/text_scan.h"

namespace quorvane::diagnosis {

namespace {

constexpr const char* kPolicyHistoryKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History";

void domainPolicyObject(const Context& context, Findings& findings, platform::KeyHandle root,
                        const std::string& subKey) {
    const auto link = readValue(context.registry, root, subKey, "Link");
    if (!link || !equalIgnoringCase(textOf(*link).substr(0, 5), "LDAP:")) {
        return;
    }
    const auto name = readValue(context.registry, root, subKey, "DisplayName");
    findings.setting.push_back({Finding::Source::DomainPolicy,
                                keyPath(root, subKey),
                                name ? textOf(*name) : std::string("(unnamed policy object)"),
                                "applied by a domain from " + textOf(*link),
                                {},
                                true,
                                {}});
}

}  // namespace

void readDomainMarks(const Context& context, Findings& findings) {
    for (platform::KeyHandle root : {platform::kLocalMachine, platform::kCurrentUser}) {
        for (const std::string& extension : subKeysOf(context, findings, root, kPolicyHistoryKey)) {
            const std::string extensionKey = std::string(kPolicyHistoryKey) + "\\" + extension;
            for (const std::string& entry : subKeysOf(context, findings, root, extensionKey)) {
                domainPolicyObject(context, findings, root, extensionKey + "\\" + entry);
            }
        }
    }
}

}  // namespace quorvane::diagnosis
