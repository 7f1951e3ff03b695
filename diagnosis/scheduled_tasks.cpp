// The Task Scheduler's task definitions below the system folder's Tasks: XML, usually UTF-16
// with a byte-order mark; each <Exec> action runs its <Command> with its <Arguments>.
#include <algorithm>

#include "diagnosis/place_access.h"
#include "diagnosis/text_scan.h"

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;

std::string element(std::string_view xml, std::string_view tag) {
    // Built with append: GCC 12 warns falsely (-Wrestrict) about "<" + std::string.
    const std::string open = std::string(1, '<').append(tag).append(">");
    const std::string close = std::string("</").append(tag).append(">");
    const std::size_t start = xml.find(open);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t end = xml.find(close, start);
    const std::size_t from = start + open.size();
    return unescapeXml(xml.substr(from, end == std::string_view::npos ? 0 : end - from));
}

void task(const Context& context, Findings& findings, const fs::path& tasks, const fs::path& file) {
    const auto bytes = readPlacedFile(context, findings, file);
    const std::string text = decodeText(bytes.value_or(std::string()));
    if (text.find("<Task") == std::string::npos) {
        return;
    }
    // The Task Scheduler does not run a disabled task.
    if (equalIgnoringCase(element(element(text, "Settings"), "Enabled"), "false")) {
        return;
    }
    // As the Task Scheduler names it: \Folder\Task.
    std::string name = std::string(1, '\\').append(displayPath(file.lexically_relative(tasks)));
    std::replace(name.begin(), name.end(), '/', '\\');
    for (std::size_t at = text.find("<Exec"); at != std::string::npos;
         at = text.find("<Exec", at + 1)) {
        const std::size_t end = text.find("</Exec>", at);
        const std::string_view exec = std::string_view(text).substr(
            at, end == std::string::npos ? std::string::npos : end - at);
        std::string command = element(exec, "Command");
        const std::string arguments = element(exec, "Arguments");
        command += arguments.empty() ? "" : " " + arguments;
        std::vector<fs::path> folders = commandFolders(context.places);
        if (auto local = localFile(context.places, element(exec, "WorkingDirectory"), {})) {
            folders.insert(folders.begin(), *local);
        }
        addStartupItem(context, findings, Finding::Source::ScheduledTask, displayPath(file), name,
                       command, folders, file);
    }
}

}  // namespace

void readScheduledTasks(const Context& context, Findings& findings) {
    const auto tasks = findCaseless(context.places, context.places.systemFolder, "Tasks");
    if (!tasks) {
        return;
    }
    forEachFile(context, findings, *tasks,
                [&](const fs::path& file) { task(context, findings, *tasks, file); });
}

}  // namespace quorvane::diagnosis
