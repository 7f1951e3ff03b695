// The startup keys: each text value of a Run, RunOnce or policy Run key is a command run at
// logon.
#include "journal/startup_keys.h"

#include "diagnosis/place_access.h"

namespace quorvane::diagnosis {

void readStartupKeys(const Context& context, Findings& findings) {
    for (const journal::StartupKey& key : journal::kStartupKeys) {
        forEachValue(context, findings, key.root, key.subKey,
                     [&](const std::string& name, const StoredValue& value) {
                         if (platform::isStringType(value.type)) {
                             addStartupItem(context, findings, Finding::Source::RegistryStartup,
                                            keyPath(key.root, key.subKey), name, textOf(value),
                                            commandFolders(context.places));
                         }
                     });
    }
}

}  // namespace quorvane::diagnosis
