// Winlogon's Userinit and Shell: programs separated by commas, each run at logon.
#include <algorithm>

#include "diagnosis/place_access.h"

namespace quorvane::diagnosis {

namespace {

constexpr const char* kWinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

}  // namespace

void readWinlogon(const Context& context, Findings& findings) {
    for (platform::KeyHandle root : {platform::kCurrentUser, platform::kLocalMachine}) {
        for (const char* name : {"Userinit", "Shell"}) {
            const auto value = readValue(context.registry, root, kWinlogonKey, name);
            if (value && platform::isStringType(value->type)) {
                std::string commands = textOf(*value);
                std::replace(commands.begin(), commands.end(), ',', '\n');
                const std::size_t setting = findings.setting.size();
                addStartupItem(context, findings, Finding::Source::RegistryStartup,
                               keyPath(root, kWinlogonKey), name, commands,
                               commandFolders(context.places));
                // Each program is read as a command of its own, but shown as the value holds
                // them: "userinit.exe," with Windows' own trailing comma.
                Finding& added = findings.setting.size() > setting ? findings.setting.back()
                                                                   : findings.others.back();
                added.command = textOf(*value);
            }
        }
    }
}

}  // namespace quorvane::diagnosis
