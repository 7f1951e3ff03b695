#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <string_view>

#include "cli/commands.h"
#include "cli/usage.h"
#include "restrictions/catalogue.h"

namespace quorvane::cli {

namespace {

constexpr std::string_view kHelp =
    " [options] command [RESTRICTION...]\n"
    "Shows, imposes and lifts Quorvane's 24 browser and system policy restrictions.\n"
    "\n"
    "Commands:\n"
    "  list [--json]              every restriction, whether it is in force, and what each\n"
    "                             hive holds\n"
    "  impose RESTRICTION...      impose restrictions 1 to 23 in both hives\n"
    "  lift RESTRICTION...        lift restrictions 1 to 24 in both hives\n"
    "  remove-all                 remove every restriction (File > Remove all Restrictions)\n"
    "  reset-pages                reset the browser's start and search pages\n"
    "  why [RESTRICTION...] [--json]  what will set restrictions again (exit 4 when something\n"
    "                             will)\n"
    "  fix [RESTRICTION...] [--dry-run] [--json]  stop what sets restrictions again (policy\n"
    "                             records, startup values and items, tasks), then lift them\n"
    "  export FILE.reg            the restrictions' values in both hives, as a registry file\n"
    "  export --policy user|machine FILE.pol  the restrictions in force, as a Registry.pol\n"
    "  undo                       put back what the last change changed (an undo is a change\n"
    "                             too: undo again to redo it)\n"
    "  undo --list                the undo entries, newest first: time, action, what changed\n"
    "\n"
    "A RESTRICTION is its number or its value name in any case (4 or NoBrowserClose).\n"
    "With --windows DIR every command works on the Windows installation mounted at DIR,\n"
    "for the user --user names (all: every user and the default profile, in turn).\n"
    "Exit status: 0 done, 1 standard output could not be written, 2 bad command line or\n"
    "unusable registry, 3 part was refused (what was not done, in which hive and why, is\n"
    "printed to standard error), 4 (why) something will set a restriction again.\n"
    "\n"
    "Options:\n"
#ifdef _WIN32
    "  -?, -h, --help    Displays help on commandline options.\n"
#else
    "  -h, --help        Displays help on commandline options.\n"
#endif
    "  --help-all        Displays help including Qt specific options.\n"
    "  -v, --version     Displays version information.\n"
    "  --registry <DIR>  Work on the hive files in DIR instead of the configured\n"
    "                    registry.\n"
    "  --json            With list, why or fix: print JSON.\n"
    "  --list            With undo: list the undo entries.\n"
    "  --policy <SCOPE>  With export: write a Registry.pol for the user or the\n"
    "                    machine half.\n"
    "  --dry-run         With fix: show what would change, change nothing.\n"
    "  --windows <DIR>   Work on the Windows installation in DIR (its disk mounted\n"
    "                    on Linux) instead of the configured registry.\n"
    "  --user <NAME>     With --windows: the user whose registry to work on, or all\n"
    "                    for every user and the default profile.\n"
    "\n"
    "Arguments:\n"
    "  command           list, impose, lift, remove-all, reset-pages, why, fix,\n"
    "                    export or undo.\n"
    "  restrictions      For impose and lift.\n";

constexpr std::array kCommands = {"list", "impose", "lift",   "remove-all", "reset-pages",
                                  "why",  "fix",    "export", "undo"};
constexpr std::array kFlags = {"help", "help-all", "version", "json", "list", "dry-run"};

// The options that take a value, and what a second one would mean.
struct ValueOption {
    const char* name;
    const char* twice;
};
constexpr ValueOption kValueOptions[] = {
    {"registry", "--registry is given twice: name one registry"},
    {"windows", "--windows is given twice: name one installation"},
    {"user", "--user is given twice: name one user, or all"},
    {"policy", "--policy is given twice: give user or machine once"},
};

bool isFlag(std::string_view name) {
    return std::find(kFlags.begin(), kFlags.end(), name) != kFlags.end();
}

const ValueOption* valueOption(std::string_view name) {
    for (const ValueOption& option : kValueOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// The words after the program's name as the parser takes them: --NAME=VALUE as two words, so
// that an empty VALUE is one; -? (Windows' own way to ask for help) as -h. What is wrong with
// them as words, Qt's way of saying so (the messages scripts may know), when something is.
std::variant<std::vector<std::string>, std::string> wordsOf(
    const std::vector<std::string>& arguments) {
    std::vector<std::string> words;
    bool options = true;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (!options || word == "--" || !word.starts_with("--")) {
            options = options && word != "--";
#ifdef _WIN32
            words.push_back(options && word == "-?" ? "-h" : word);
#else
            words.push_back(word);
#endif
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(2, equals - 2);
        if (equals != std::string::npos && isFlag(name)) {
            return "Unexpected value after '--" + name + "'.";
        }
        if (equals != std::string::npos && valueOption(name) != nullptr) {
            words.push_back("--" + name);
            words.push_back(word.substr(equals + 1));
            continue;
        }
        if (valueOption(name) != nullptr && i + 1 == arguments.size()) {
            return "Missing value after '--" + name + "'.";
        }
        words.push_back(word);
    }
    return words;
}

// "Unknown option 'x'." or "Unknown options: x, y." for the words the parser did not know; a
// single dash starts short options, one a letter.
std::string unknownOptions(const std::vector<std::string>& words) {
    std::vector<std::string> names;
    for (const std::string& word : words) {
        if (word == "--") {
            continue;
        }
        if (word.starts_with("--")) {
            names.push_back(word.substr(2, word.find('=') - 2));
        } else {
            for (const char letter : word.substr(1)) {
                names.emplace_back(1, letter);
            }
        }
    }
    if (names.size() == 1) {
        return "Unknown option '" + names.front() + "'.";
    }
    std::string text = "Unknown options: ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    return text + ".";
}

// The restrictions `words` name, each once, or what is wrong with them.
Result<std::vector<int>> restrictionsOf(const std::vector<std::string>& words, bool impose) {
    std::vector<int> numbers;
    for (const std::string& word : words) {
        const auto number = parseRestriction(word);
        if (!number) {
            return failure("no restriction '" + word +
                           "': give a number from 1 to 24 or a value name such as NoBrowserClose");
        }
        if (impose && *number == restrictions::kWindowTitleRestriction) {
            return failure(
                "restriction 24 (Custom Window Title) can only be lifted, never imposed");
        }
        if (std::find(numbers.begin(), numbers.end(), *number) == numbers.end()) {
            numbers.push_back(*number);
        }
    }
    return numbers;
}

// What the options say about the command, when they do not fit it.
std::optional<std::string> optionsRefused(const CommandLine& line) {
    const std::string& command = line.command;
    if (line.json && command != "list" && command != "why" && command != "fix") {
        return "--json goes with list, why and fix only";
    }
    if (line.list && command != "undo") {
        return "--list goes with undo only";
    }
    if (line.dryRun && command != "fix") {
        return "--dry-run goes with fix only";
    }
    if (line.policy && command != "export") {
        return "--policy goes with export only";
    }
    return std::nullopt;
}

// What is wrong with the command's arguments; the restrictions they name are kept in `line`.
std::optional<std::string> argumentsRefused(CommandLine& line) {
    const std::string& command = line.command;
    if (command == "impose" || command == "lift" || command == "why" || command == "fix") {
        const bool switching = command == "impose" || command == "lift";
        if (switching && line.arguments.empty()) {
            return "name at least one restriction";
        }
        auto numbers = restrictionsOf(line.arguments, command == "impose");
        if (!numbers) {
            return numbers.failure().reason;
        }
        line.restrictions = std::move(numbers).value();
        return std::nullopt;
    }
    if (command == "export") {
        if (line.arguments.size() != 1) {
            return "export takes one file name";
        }
        if (line.policy && *line.policy != "user" && *line.policy != "machine") {
            return "--policy is user or machine";
        }
        return std::nullopt;
    }
    if (!line.arguments.empty()) {
        return command + " takes no arguments";
    }
    return std::nullopt;
}

std::optional<std::string> placeRefused(const CommandLine& line) {
    if (line.user && !line.windows) {
        return "--user goes with --windows only";
    }
    if (line.windows) {
        if (line.registry) {
            return "--windows and --registry name two registries: give one";
        }
        if (line.windows->empty()) {
            return "--windows needs the folder of a Windows installation";
        }
        if (line.user && line.user->empty()) {
            return "--user needs a user's name, or all";
        }
#ifdef _WIN32
        return "--windows is for a Windows installation whose disk is mounted on Linux";
#endif
        if (line.command == "export" && line.everyUser()) {
            return "export writes one file: name one user with --user";
        }
    }
    if (line.registry) {
#ifdef _WIN32
        // Hive files are not opened on Windows: saying so beats changing the real registry when
        // the user meant a directory.
        return "--registry is for hive files; on Windows the registry itself is used";
#else
        // Not the configured registry: the user named one and it is not there.
        if (line.registry->empty()) {
            return "--registry needs a directory";
        }
#endif
    }
    return std::nullopt;
}

}  // namespace

std::string helpText() {
    return "Usage: " + programName() + std::string(kHelp);
}

std::filesystem::path filePathOf(const std::string& argument) {
#ifdef _WIN32
    return std::filesystem::path(std::u8string(argument.begin(), argument.end()));
#else
    return std::filesystem::path(argument);
#endif
}

std::variant<CommandLine, int> parseCommandLine(const std::vector<std::string>& arguments) {
    rememberProgramName(arguments.empty() ? std::string("quorvane-cli") : arguments.front());
    auto words = wordsOf(arguments);
    if (const std::string* wrong = std::get_if<std::string>(&words)) {
        return usageError(*wrong);
    }

    CommandLine line;
    CLI::App parser;
    parser.set_help_flag();
    parser.allow_extras();
    parser.allow_windows_style_options(false);
    parser.add_flag("-h,--help", line.help);
    bool helpAll = false;
    parser.add_flag("--help-all", helpAll);
    parser.add_flag("-v,--version", line.version);
    parser.add_flag("--json", line.json);
    parser.add_flag("--list", line.list);
    parser.add_flag("--dry-run", line.dryRun);
    std::vector<std::string> values[std::size(kValueOptions)];
    for (std::size_t i = 0; i < std::size(kValueOptions); ++i) {
        parser.add_option(std::string("--") + kValueOptions[i].name, values[i])
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    std::vector<std::string> positional;
    parser.add_option("words", positional);

    std::vector<std::string> reversed = std::get<std::vector<std::string>>(std::move(words));
    std::reverse(reversed.begin(), reversed.end());
    try {
        parser.parse(reversed);
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }
    if (const auto unknown = parser.remaining();
        std::any_of(unknown.begin(), unknown.end(), [](const auto& w) { return w != "--"; })) {
        return usageError(unknownOptions(unknown));
    }
    for (std::size_t i = 0; i < std::size(kValueOptions); ++i) {
        if (values[i].size() > 1) {
            return usageError(kValueOptions[i].twice);
        }
    }
    line.help = line.help || helpAll;
    if (line.help || line.version) {
        return line;
    }
    auto value = [&values](std::size_t i) {
        return values[i].empty() ? std::nullopt : std::optional(values[i].front());
    };
    line.registry = value(0);
    line.windows = value(1);
    line.user = value(2);
    line.policy = value(3);

    if (positional.empty()) {
        return usageError("name a command");
    }
    line.command = positional.front();
    line.arguments.assign(positional.begin() + 1, positional.end());
    if (std::find(kCommands.begin(), kCommands.end(), line.command) == kCommands.end()) {
        return usageError("unknown command '" + line.command + "'");
    }
    std::optional<std::string> refused = optionsRefused(line);
    if (!refused) {
        refused = argumentsRefused(line);
    }
    if (!refused) {
        refused = placeRefused(line);
    }
    if (refused) {
        return usageError(*refused);
    }
    return line;
}

}  // namespace quorvane::cli
