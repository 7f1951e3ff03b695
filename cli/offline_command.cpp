#include "cli/offline_command.h"

#include <algorithm>
#include <iostream>
#include <sstream>
#include <variant>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/usage.h"

#ifndef _WIN32
#include "formats/result.h"
#include "journal/offline_place.h"
#include "platform/hive_store.h"
#include "platform/offline_hive_file.h"
#include "platform/windows_installation.h"
#endif

namespace quorvane::cli {

#ifdef _WIN32

int runOffline(const CommandLine&, const toolkit::Configuration&, const OfflineCommand&) {
    return usageError("--windows is for a Windows installation whose disk is mounted on Linux");
}

#else

namespace {

namespace fs = std::filesystem;
using platform::WindowsInstallation;
using platform::WindowsUser;

// Sends standard output to a buffer for as long as it lives.
class CapturedOutput {
public:
    CapturedOutput() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(previous_); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

std::string userList(const WindowsInstallation& installation) {
    std::string list;
    for (const WindowsUser& user : installation.users) {
        list +=
            "  " + user.name +
            (user.sid.empty() ? " (the default profile, from which Windows makes new users)" : "") +
            '\n';
    }
    return list;
}

// The users the command line chose, or the exit status after saying why there are none.
std::variant<std::vector<WindowsUser>, int> chosenUsers(const WindowsInstallation& installation,
                                                        const CommandLine& line) {
    const std::string where = "the Windows installation in " + installation.root.string();
    if (installation.users.empty()) {
        std::cerr << "quorvane-cli: " << where
                  << " has no user with a registry (Users/NAME/NTUSER.DAT).\n";
        return kExitUsage;
    }
    if (line.everyUser()) {
        return installation.users;
    }
    if (line.user) {
        const std::string& name = *line.user;
        if (const WindowsUser* user = platform::findUser(installation, name)) {
            return std::vector{*user};
        }
        std::cerr << "quorvane-cli: " << where << " has no user '" << name << "'. Its users:\n"
                  << userList(installation);
        return kExitUsage;
    }
    if (const WindowsUser* only = platform::onlyUser(installation)) {
        return std::vector{*only};
    }
    std::cerr << "quorvane-cli: " << where
              << " has more than one user. Name one with --user NAME, or every user and the "
                 "default profile with --user all:\n"
              << userList(installation);
    return kExitUsage;
}

// Names the copies of the hives that the run kept before changing them.
void tellBackups(const platform::OfflineRegistry& registry, const fs::path& folder,
                 std::ostream& out) {
    if (registry.backups().empty()) {
        return;
    }
    out << "Copies of the hives as they were before the change are in " << folder.string()
        << " (the newest " << platform::offline::kBackupsKept << " of each hive stay):";
    for (const fs::path& copy : registry.backups()) {
        out << ' ' << copy.filename().string();
    }
    out << '\n';
}

// Each row of `list --json` output, naming the installation and user.
void appendRows(Json& rows, const std::string& output, const OfflineTarget& target) {
    for (Json row : Json::parse(output)) {
        row["installation"] = target.root.string();
        row["user"] = target.user;
        rows.push_back(std::move(row));
    }
}

}  // namespace

int runOffline(const CommandLine& line, const toolkit::Configuration& configuration,
               const OfflineCommand& command) {
    std::error_code error;
    const fs::path root = fs::canonical(filePathOf(*line.windows), error);
    if (error) {
        std::cerr << "quorvane-cli: " << *line.windows
                  << " cannot be opened: " << describeError(error) << '\n';
        return kExitUsage;
    }
    WindowsInstallation installation;
    try {
        installation = platform::findWindowsInstallation(root);
    } catch (const platform::StoreError& failure) {
        std::cerr << "quorvane-cli: " << failure.what() << '\n';
        return kExitUsage;
    }
    const auto chosen = chosenUsers(installation, line);
    if (const int* status = std::get_if<int>(&chosen)) {
        return *status;
    }
    const auto& users = std::get<std::vector<WindowsUser> >(chosen);

    int worst = kExitSuccess;
    bool softwareCopied = false;
    Json rows = Json::array();     // ListJson
    Json reports = Json::array();  // WhyJson
    for (const WindowsUser& user : users) {
        const journal::OfflinePlace place = journal::offlinePlace(root, user.name);
        const OfflineTarget target{root, user.name, user.hive.parent_path(), place.undo.registry};
        platform::OfflineHives hives = platform::hivesOf(installation, user, place.backups);
        hives.software.backedUp = softwareCopied;
        std::unique_ptr<platform::OfflineRegistry> registry;
        try {
            registry = std::make_unique<platform::OfflineRegistry>(std::move(hives));
        } catch (const platform::StoreError& failure) {
            std::cerr << "quorvane-cli: " << target.description << ": " << failure.what() << '\n';
            worst = std::max(worst, kExitUsage);
            continue;
        }
        const platform::OfflineRegistry& offline = *registry;
        Session session(std::move(registry), configuration, std::cout, std::cerr, place.undo);
        if (command.output == OfflineOutput::Text) {
            std::cout << "Windows installation " << root.string() << ", user " << user.name
                      << ":\n";
            worst = std::max(worst, command.run(session, target));
        } else if (command.output == OfflineOutput::JsonInTurn) {
            worst = std::max(worst, command.run(session, target));
        } else {
            std::string output;
            {
                const CapturedOutput captured;
                worst = std::max(worst, command.run(session, target));
                output = captured.text();
            }
            if (command.output == OfflineOutput::ListJson) {
                appendRows(rows, output, target);
            } else {
                reports.push_back(Json::parse(output));
            }
        }
        // Standard output holds nothing but JSON when JSON is asked for.
        tellBackups(offline, place.backups,
                    command.output == OfflineOutput::Text ? std::cout : std::cerr);
        for (const fs::path& copy : offline.backups()) {
            softwareCopied = softwareCopied || copy.filename().string().starts_with("SOFTWARE-");
        }
    }
    // JSON only for what succeeded, as without --windows.
    if (command.output == OfflineOutput::ListJson && worst == kExitSuccess) {
        std::cout << jsonText(rows);
    } else if (command.output == OfflineOutput::WhyJson && worst != kExitUsage &&
               !reports.empty()) {
        std::cout << jsonText(line.everyUser() ? reports : reports.front());
    }
    return worst;
}

#endif

}  // namespace quorvane::cli
