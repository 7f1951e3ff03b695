// quorvane-cli's command line: the one parser for every command, the rules for which option goes
// with which command, and the help.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quorvane::cli {

struct CommandLine {
    std::string command;                 // empty with --help or --version alone
    std::vector<std::string> arguments;  // after the command: restrictions, or export's file
    std::vector<int> restrictions;       // of impose, lift, why and fix, each named once
    std::optional<std::string> registry;
    std::optional<std::string> windows;
    std::optional<std::string> user;
    std::optional<std::string> policy;
    bool json = false;
    bool list = false;
    bool dryRun = false;
    bool help = false;
    bool version = false;

    // --windows names an installation.
    bool offline() const { return windows.has_value(); }
    // --user all: every user and the default profile.
    bool everyUser() const { return user == "all"; }
};

// The command line `arguments` (the program's name first, UTF-8 on Windows), checked; or the
// exit status after saying on standard error what is wrong with it.
std::variant<CommandLine, int> parseCommandLine(const std::vector<std::string>& arguments);

// The help that --help prints, naming the program as it was started.
std::string helpText();

// A file named on the command line: on Windows its text is UTF-8, elsewhere the bytes are the
// name.
std::filesystem::path filePathOf(const std::string& argument);

}  // namespace quorvane::cli
