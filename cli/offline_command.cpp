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
    const bool onlyDefault = std::all_of(installation.users.begin(), installation.users.end(),
                                         [](const WindowsUser& user) { return user.sid.empty(); });
    if (onlyDefault) {
        std::cerr << "quorvane-cli: " << where
                  << " has no user with a registry of their own, only the default profile, from "
                     "which Windows makes new users. To work on it, name it with --user "
                  << installation.users.front().name << ".\n";
        return kExitUsage;
    }
    std::cerr << "quorvane-cli: " << where
              << " has more than one user. Name one with --user NAME, or every user and the "
                 "default profile with --user all:\n"
              << userList(installation);
    return kExitUsage;
}

// The copies of `label` in `folder`, oldest first.
std::vector<fs::path> copiesOf(const fs::path& folder, const std::string& label) {
    std::vector<fs::path> copies;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(label + "-") && name.ends_with(".hive") &&
            name.find('-', label.size() + 1) == std::string::npos) {
            copies.push_back(it->path());
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

// Names the copies of the hives that the run kept before changing them.
void tellBackups(const platform::OfflineRegistry& registry, const fs::path& folder,
                 std::ostream& out) {
    if (registry.backups().empty()) {
        return;
    }
    out << "Copies of the hives as they were before the change are in " << folder.string()
        << " (the first copy of each hive and the newest " << platform::offline::kNewestBackupsKept
        << " stay):";
    for (const fs::path& copy : registry.backups()) {
        out << ' ' << copy.filename().string();
    }
    out << '\n';
}

// Lists the copies kept of the user's hives, and how to put one back by hand.
void listBackups(const platform::OfflineHives& hives, std::ostream& out) {
    bool any = false;
    for (const platform::OfflineHive& hive : {hives.software, *hives.user}) {
        const std::vector<fs::path> copies = copiesOf(hives.backups, hive.label);
        for (std::size_t i = 0; i < copies.size(); ++i) {
            if (!any) {
                out << "Copies of the hives kept in " << hives.backups.string() << ":\n";
                any = true;
            }
            out << "  " << copies[i].filename().string() << "  (of " << hive.file.string()
                << (i == 0 ? "; the first, from before Quorvane first changed it" : "") << ")\n";
        }
    }
    if (any) {
        out << "To put one back by hand, while Windows is not running: cp COPY HIVE (for "
               "example cp "
            << (hives.backups / "SOFTWARE-...hive").string() << ' ' << hives.software.file.string()
            << ").\n";
    }
}

// The JSON the command printed, naming the installation and user.
Json named(Json object, const OfflineTarget& target) {
    object["installation"] = target.root.string();
    object["user"] = target.user;
    return object;
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

    struct Run {
        journal::OfflinePlace place;
        OfflineTarget target;
        platform::OfflineHives hives;
        // The registry the hives were read into before anything was run; the run uses it
        // unless another user's run copied SOFTWARE to the backups since.
        std::unique_ptr<platform::OfflineRegistry> registry;
    };
    std::vector<Run> runs;
    bool unreadable = false;
    for (const WindowsUser& user : users) {
        journal::OfflinePlace place = journal::offlinePlace(installation, user);
        const OfflineTarget target{root, user.name, user.hive.parent_path(), place.description};
        platform::OfflineHives hives = platform::hivesOf(installation, user, place.backups);
        // Every hive read before anything is run: one that cannot be stops the whole command.
        std::unique_ptr<platform::OfflineRegistry> registry;
        try {
            registry = std::make_unique<platform::OfflineRegistry>(hives);
        } catch (const platform::StoreError& failure) {
            std::cerr << "quorvane-cli: " << target.description << ": " << failure.what() << '\n';
            unreadable = true;
        }
        runs.push_back({std::move(place), target, std::move(hives), std::move(registry)});
    }
    if (unreadable) {
        std::cerr << "quorvane-cli: nothing was done for any user.\n";
        return kExitUsage;
    }

    const bool listingUndo = line.command == "undo" && line.list;
    int worst = kExitSuccess;
    bool softwareCopied = false;
    Json rows = Json::array();     // ListJson
    Json objects = Json::array();  // ObjectJson
    for (Run& run : runs) {
        std::unique_ptr<platform::OfflineRegistry> registry = std::move(run.registry);
        try {
            if (softwareCopied) {
                run.hives.software.backedUp = true;
                registry = std::make_unique<platform::OfflineRegistry>(run.hives);
            }
        } catch (const platform::StoreError& failure) {
            std::cerr << "quorvane-cli: " << run.target.description << ": " << failure.what()
                      << '\n';
            worst = std::max(worst, kExitRefused);  // others may have been changed before
            continue;
        }
        const platform::OfflineRegistry& offline = *registry;
        Session session(std::move(registry), configuration, std::cout, std::cerr, run.place.undo);
        if (command.output == OfflineOutput::Text) {
            std::cout << "Windows installation " << root.string() << ", user " << run.target.user
                      << ":\n";
            worst = std::max(worst, command.run(session, run.target));
            if (listingUndo) {
                listBackups(run.hives, std::cout);
            }
        } else {
            std::string output;
            {
                const CapturedOutput captured;
                worst = std::max(worst, command.run(session, run.target));
                output = captured.text();
            }
            // A command that failed may have printed no JSON: its user then has no rows, and an
            // object that only names the installation and user.
            const Json document = Json::parse(output, nullptr, false);
            if (command.output == OfflineOutput::ListJson) {
                for (const Json& row : document.is_array() ? document : Json::array()) {
                    rows.push_back(named(row, run.target));
                }
            } else {
                objects.push_back(
                    named(document.is_object() ? document : Json::object(), run.target));
            }
        }
        // Standard output holds nothing but JSON when JSON is asked for.
        tellBackups(offline, run.place.backups,
                    command.output == OfflineOutput::Text ? std::cout : std::cerr);
        for (const fs::path& copy : offline.backups()) {
            softwareCopied = softwareCopied || copy.filename().string().starts_with("SOFTWARE-");
        }
    }
    // JSON only for what succeeded, as without --windows.
    if (command.output == OfflineOutput::ListJson && worst == kExitSuccess) {
        std::cout << jsonText(rows);
    } else if (command.output == OfflineOutput::ObjectJson && worst != kExitUsage &&
               !objects.empty()) {
        std::cout << jsonText(line.everyUser() ? objects : objects.front());
    }
    return worst;
}

#endif

}  // namespace quorvane::cli
