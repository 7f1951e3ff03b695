// The Startup folders: the shell runs each file in them at logon, a script's commands, a
// registry file's import, a shortcut's target with its arguments.
#include <variant>

#include "diagnosis/place_access.h"
#include "diagnosis/shell_link.h"
#include "diagnosis/text_scan.h"

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;

// A shell link runs its target with its arguments, in its working folder.
void startupLink(const Context& context, Findings& findings, const fs::path& file,
                 const std::string& name, const std::string& where) {
    const Places& places = context.places;
    const auto bytes = readPlacedFile(context, findings, file);
    if (!bytes) {
        return;
    }
    const auto link = readShellLink(*bytes);
    if (!link) {
        findings.notes.push_back(displayPath(file) + ": " + link.failure().reason +
                                 "; it was not read");
        return;
    }
    const ShellLink& shortcut = *link;
    std::vector<fs::path> folders = {file.parent_path()};
    if (auto working = localFile(places, shortcut.workingFolder, {})) {
        folders.insert(folders.begin(), *working);
    }
    folders.insert(folders.end(), {places.systemFolder, places.windowsFolder});
    addStartupItem(context, findings, Finding::Source::StartupFolder, where, name,
                   shortcut.commandLine(), folders, file);
}

void startupFile(const Context& context, Findings& findings, const fs::path& file) {
    const std::string name = displayPath(file.filename());
    if (equalIgnoringCase(name, "desktop.ini")) {
        return;
    }
    const std::string where = displayPath(file.parent_path());
    if (lowerCase(name).ends_with(".lnk")) {
        startupLink(context, findings, file, name, where);
        return;
    }
    // The folder runs the file itself: a script's commands, a registry file's import.
    addStartupItem(context, findings, Finding::Source::StartupFolder, where, name, '"' + name + '"',
                   {file.parent_path()}, file, true);
}

}  // namespace

void readStartupFolders(const Context& context, Findings& findings) {
    for (const fs::path& folder : context.places.startupFolders) {
        for (const fs::path& file : entriesOf(context, findings, folder, false)) {
            startupFile(context, findings, file);
        }
    }
}

}  // namespace quorvane::diagnosis
