#include "diagnosis/diagnosis.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <system_error>
#include <variant>

#include "diagnosis/command_scan.h"
#include "diagnosis/policy_file.h"
#include "diagnosis/shell_link.h"
#include "diagnosis/text_scan.h"
#include "journal/reg_file.h"
#include "journal/startup_keys.h"
#include "journal/whole_file.h"
#include "platform/narrow_text.h"
#include "registry/value_query.h"
#include "restrictions/catalogue.h"
#include "restrictions/restriction_manager.h"

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;
using platform::KeyHandle;
using restrictions::Restriction;

// A key or folder with more entries than this is not walked further (no real one has them), and
// the report says so.
constexpr std::uint32_t kMaxEntries = 10'000;
constexpr int kMaxDepth = 8;
// Scripts that run scripts are followed this deep.
constexpr int kMaxScriptDepth = 4;

std::string limitNote(const std::string& where) {
    return where + " holds more than " + std::to_string(kMaxEntries) +
           " entries; only the first were looked at";
}

constexpr const char* kPolicyHistoryKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History";
constexpr const char* kWinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

using journal::kStartupKeys;
using journal::StartupKey;

const char* rootName(KeyHandle root) {
    return root == platform::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string keyPath(KeyHandle root, std::string_view subKey) {
    return std::string(rootName(root)) + "\\" + std::string(subKey);
}

std::string textOf(const StoredValue& value) {
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

// Calls `visit` with every value of root\subKey, if the key can be opened.
void forEachValue(platform::RegistryApi& registry, KeyHandle root, const std::string& subKey,
                  std::vector<std::string>& notes,
                  const std::function<void(const std::string&, const StoredValue&)>& visit) {
    KeyHandle key = 0;
    if (registry.openKey(root, subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return;
    }
    std::string name;
    StoredValue value;
    std::uint32_t index = 0;
    for (; index < kMaxEntries &&
           registry.enumValue(key, index, name, value.type, value.data) == platform::kSuccess;
         ++index) {
        visit(name, value);
    }
    if (index == kMaxEntries &&
        registry.enumValue(key, index, name, value.type, value.data) == platform::kSuccess) {
        notes.push_back(limitNote(keyPath(root, subKey)));
    }
    registry.closeKey(key);
}

std::vector<std::string> subKeysOf(platform::RegistryApi& registry, KeyHandle root,
                                   const std::string& subKey, std::vector<std::string>& notes) {
    std::vector<std::string> names;
    KeyHandle key = 0;
    if (registry.openKey(root, subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return names;
    }
    std::string name;
    for (std::uint32_t index = 0;
         index < kMaxEntries && registry.enumKey(key, index, name) == platform::kSuccess; ++index) {
        names.push_back(name);
    }
    if (names.size() == kMaxEntries &&
        registry.enumKey(key, kMaxEntries, name) == platform::kSuccess) {
        notes.push_back(limitNote(keyPath(root, subKey)));
    }
    registry.closeKey(key);
    return names;
}

std::optional<StoredValue> readValue(platform::RegistryApi& registry, KeyHandle root,
                                     const std::string& subKey, const std::string& name) {
    StoredValue value;
    return readStoredValue(registry, root, subKey, name, value) == platform::kSuccess
               ? std::optional(value)
               : std::nullopt;
}

// A record's data as the narrow registry functions would give it once applied.
std::string describedData(const PolicyRecord& record) {
    if (!platform::isStringType(record.type)) {
        return record.data;
    }
    return platform::utf16ToNarrow(recordText(record)) + '\0';
}

std::string describeRecord(const PolicyRecord& record) {
    return StoredValue{record.type, describedData(record)}.describe();
}

// What a policy file sets: one finding naming every restriction it imposes.
std::optional<Finding> policyFinding(const PolicyFile& file, KeyHandle root,
                                     const std::string& where) {
    Finding finding{Finding::Source::PolicyFile, where, {}, {}, {}, true, {}};
    for (const PolicyRecord& record : file.records) {
        const PolicyEffect effect = effectOf(record);
        if ((effect.action != PolicyEffect::Action::SetValue &&
             effect.action != PolicyEffect::Action::SetIfAbsent) ||
            effect.names.empty()) {
            continue;
        }
        const std::string key = normalisedKey(platform::utf16ToNarrow(record.key));
        const std::string name = platform::utf16ToNarrow(effect.names.front());
        for (const Restriction& restriction : restrictions::kCatalogue) {
            if (equalIgnoringCase(key, restriction.subKey) &&
                equalIgnoringCase(name, restriction.valueName) &&
                storesInForce(restriction, record.type, describedData(record))) {
                addRestrictions(finding.restrictions, {restriction.number});
                finding.command += finding.command.empty() ? "" : "; ";
                finding.command += std::string(restriction.valueName) + " = " +
                                   describeRecord(record) + " in " + keyPath(root, key);
            }
        }
    }
    if (finding.restrictions.empty()) {
        return std::nullopt;
    }
    return finding;
}

// The restrictions a registry file puts in force (not those it deletes or stores as 0).
std::vector<int> restrictionsStoredBy(const std::vector<journal::RegSection>& sections) {
    std::vector<int> numbers;
    for (const journal::RegSection& section : sections) {
        const std::string path = platform::utf16ToNarrow(section.key);
        const std::size_t separator = path.find('\\');
        const std::string subKey =
            normalisedKey(separator == std::string::npos ? "" : path.substr(separator + 1));
        for (const journal::RegValue& value : section.values) {
            const std::string name = platform::utf16ToNarrow(value.name);
            for (const Restriction& restriction : restrictions::kCatalogue) {
                if (!section.deleted && !value.deleted &&
                    equalIgnoringCase(subKey, restriction.subKey) &&
                    equalIgnoringCase(name, restriction.valueName) &&
                    storesInForce(restriction, value.type,
                                  journal::narrowData(value.type, value.data))) {
                    addRestrictions(numbers, {restriction.number});
                }
            }
        }
    }
    return numbers;
}

// Everything the Group Policy and startup places hold, gathered for one report.
class Survey {
public:
    Survey(platform::RegistryApi& registry, const Places& places, Report& report)
        : registry_(registry), places_(places), report_(report) {}

    void run() {
        startupKeys();
        winlogon();
        domainPolicy();
        if (places_.systemFolder.empty()) {
            if (!places_.missing.empty()) {
                report_.notes.push_back(places_.missing);
            }
            return;
        }
        localPolicyFiles();
        policyCaches();
        startupFolders();
        scheduledTasks();
    }

private:
    // The bytes of a file that anyone may have placed: read without blocking, only when it is a
    // regular file inside the prefix and within the bound, and as root only what the prefix's
    // owner could read. Why a file was not read goes to the notes.
    std::optional<std::string> read(const fs::path& file) {
        if (!places_.contains(file)) {
            report_.notes.push_back(displayPath(file) +
                                    " leads outside the prefix; it was not read");
            return std::nullopt;
        }
        const fs::path place = places_.prefix.empty() ? file.parent_path() : places_.prefix;
        journal::FileRead got = journal::readUserFile(file, kReadLimit, place);
        if (!got.bytes) {
            report_.notes.push_back(displayPath(file) + " " + got.failure + "; it was not read");
        }
        return std::move(got.bytes);
    }

    // Adds a startup item that runs `command`. The report shows the command, or with
    // `showWrites` the item's name and the statements of its scripts that set restrictions.
    void addItem(Finding::Source source, std::string where, std::string item,
                 const std::string& command, const std::vector<fs::path>& folders,
                 const fs::path& file = {}, bool showWrites = false) {
        CommandFindings found = examineCommand(command);
        followFiles(found, folders, 0);
        std::string shown = showWrites ? item : command;
        for (std::size_t i = 0; showWrites && i < found.writes.size(); ++i) {
            shown.append(i == 0 ? ": " : "; ").append(found.writes[i]);
        }
        Finding finding{source, std::move(where), std::move(item), std::move(shown), {}, false,
                        file};
        finding.setsRegistry = found.setsSomething();
        finding.restrictions = found.mayChangeAny ? std::vector<int>() : found.restrictions;
        (finding.setsRegistry ? all_ : others_).push_back(std::move(finding));
    }

    // Reads the files a command hands on and adds what they set: a registry file's values, a
    // policy file's records, a script's commands. A registry or policy file that cannot be read
    // may set anything; a script that cannot be read runs nothing.
    void followFiles(CommandFindings& found, const std::vector<fs::path>& folders, int depth) {
        const std::vector<NamedFile> files = std::move(found.files);
        found.files.clear();
        for (const NamedFile& named : files) {
            const auto file = localFile(places_, named.path, folders);
            const auto bytes = file ? read(*file) : std::nullopt;
            switch (named.kind) {
                case NamedFile::Kind::Registry:
                    registryFileContents(bytes, file, found);
                    break;
                case NamedFile::Kind::Policy:
                    if (!bytes) {
                        found.mayChangeAny = true;
                    } else if (auto finding = policyFinding(readPolicyFile(*bytes),
                                                            platform::kCurrentUser, "")) {
                        addRestrictions(found.restrictions, finding->restrictions);
                    }
                    break;
                case NamedFile::Kind::Script:
                    if (bytes && depth < kMaxScriptDepth) {
                        CommandFindings inside = examineCommand(decodeText(*bytes));
                        followFiles(
                            inside,
                            {file->parent_path(), places_.systemFolder, places_.windowsFolder},
                            depth + 1);
                        found.mayChangeAny = found.mayChangeAny || inside.mayChangeAny;
                        addRestrictions(found.restrictions, inside.restrictions);
                        found.writes.insert(found.writes.end(), inside.writes.begin(),
                                            inside.writes.end());
                    }
                    break;
            }
        }
    }

    void registryFileContents(const std::optional<std::string>& bytes,
                              const std::optional<fs::path>& file, CommandFindings& found) {
        if (!bytes) {
            found.mayChangeAny = true;
            return;
        }
        const auto sections = journal::readRegFile(*bytes);
        if (const auto* read = std::get_if<std::vector<journal::RegSection>>(&sections)) {
            addRestrictions(found.restrictions, restrictionsStoredBy(*read));
            return;
        }
        found.mayChangeAny = true;
        report_.notes.push_back(displayPath(*file) + " is no registry file Quorvane can read (" +
                                std::get<std::string>(sections) + "); it may set any restriction");
    }

    std::vector<fs::path> commandFolders() const {
        return {places_.systemFolder, places_.windowsFolder};
    }

    void startupKeys() {
        for (const StartupKey& key : kStartupKeys) {
            forEachValue(registry_, key.root, key.subKey, report_.notes,
                         [&](const std::string& name, const StoredValue& value) {
                             if (platform::isStringType(value.type)) {
                                 addItem(Finding::Source::RegistryStartup,
                                         keyPath(key.root, key.subKey), name, textOf(value),
                                         commandFolders());
                             }
                         });
        }
    }

    // Userinit and Shell hold programs separated by commas, each run at logon.
    void winlogon() {
        for (KeyHandle root : {platform::kCurrentUser, platform::kLocalMachine}) {
            for (const char* name : {"Userinit", "Shell"}) {
                const auto value = readValue(registry_, root, kWinlogonKey, name);
                if (value && platform::isStringType(value->type)) {
                    std::string commands = textOf(*value);
                    std::replace(commands.begin(), commands.end(), ',', '\n');
                    addItem(Finding::Source::RegistryStartup, keyPath(root, kWinlogonKey), name,
                            commands, commandFolders());
                }
            }
        }
    }

    // Group Policy records each policy object it applied below its History key; those linked
    // from a directory (LDAP://...) come from a domain, which applies them again at every
    // refresh.
    void domainPolicy() {
        for (KeyHandle root : {platform::kLocalMachine, platform::kCurrentUser}) {
            for (const std::string& extension :
                 subKeysOf(registry_, root, kPolicyHistoryKey, report_.notes)) {
                const std::string extensionKey = std::string(kPolicyHistoryKey) + "\\" + extension;
                for (const std::string& entry :
                     subKeysOf(registry_, root, extensionKey, report_.notes)) {
                    domainPolicyObject(root, extensionKey + "\\" + entry);
                }
            }
        }
    }

    void domainPolicyObject(KeyHandle root, const std::string& subKey) {
        const auto link = readValue(registry_, root, subKey, "Link");
        if (!link || !equalIgnoringCase(textOf(*link).substr(0, 5), "LDAP:")) {
            return;
        }
        const auto name = readValue(registry_, root, subKey, "DisplayName");
        all_.push_back({Finding::Source::DomainPolicy,
                        keyPath(root, subKey),
                        name ? textOf(*name) : std::string("(unnamed policy object)"),
                        "applied by a domain from " + textOf(*link),
                        {},
                        true,
                        {}});
    }

    void policyFile(const fs::path& file, KeyHandle root) {
        const auto bytes = read(file);
        if (!bytes) {
            return;
        }
        const PolicyFile policy = readPolicyFile(*bytes);
        if (policy.damage) {
            report_.notes.push_back(displayPath(file) + ": " + *policy.damage +
                                    "; the records before it were looked at");
        }
        if (auto finding = policyFinding(policy, root, displayPath(file))) {
            finding->file = file;
            all_.push_back(std::move(*finding));
        }
    }

    void localPolicyFiles() {
        if (auto file = findCaseless(places_.systemFolder, "GroupPolicy/Machine/Registry.pol")) {
            policyFile(*file, platform::kLocalMachine);
        }
        if (auto file = findCaseless(places_.systemFolder, "GroupPolicy/User/Registry.pol")) {
            policyFile(*file, platform::kCurrentUser);
        }
        if (const auto users = findCaseless(places_.systemFolder, "GroupPolicyUsers")) {
            for (const fs::path& user : entriesOf(*users, true)) {
                if (auto file = findCaseless(user, "User/Registry.pol")) {
                    policyFile(*file, platform::kCurrentUser);
                }
            }
        }
    }

    // The cache holds a folder per policy object, with Machine\ and User\ (or <SID>\User\)
    // below it.
    void policyCaches() {
        for (const fs::path& cache : places_.policyCaches) {
            forEachFile(cache, [&](const fs::path& file) {
                if (!equalIgnoringCase(displayPath(file.filename()), "Registry.pol")) {
                    return;
                }
                const bool machine =
                    equalIgnoringCase(displayPath(file.parent_path().filename()), "Machine");
                policyFile(file, machine ? platform::kLocalMachine : platform::kCurrentUser);
            });
        }
    }

    void startupFolders() {
        for (const fs::path& folder : places_.startupFolders) {
            for (const fs::path& file : entriesOf(folder, false)) {
                startupFile(file);
            }
        }
    }

    void startupFile(const fs::path& file) {
        const std::string name = displayPath(file.filename());
        if (equalIgnoringCase(name, "desktop.ini")) {
            return;
        }
        const std::string lower = lowerCase(name);
        const std::string where = displayPath(file.parent_path());
        const std::vector<fs::path> here = {file.parent_path()};
        if (lower.ends_with(".lnk")) {
            startupLink(file, name, where);
            return;
        }
        // The folder runs the file itself: a script's commands, a registry file's import.
        addItem(Finding::Source::StartupFolder, where, name, '"' + name + '"', here, file, true);
    }

    // A shell link runs its target with its arguments, in its working folder.
    void startupLink(const fs::path& file, const std::string& name, const std::string& where) {
        const auto bytes = read(file);
        if (!bytes) {
            return;
        }
        const auto link = readShellLink(*bytes);
        if (const auto* failure = std::get_if<std::string>(&link)) {
            report_.notes.push_back(displayPath(file) + ": " + *failure + "; it was not read");
            return;
        }
        const ShellLink& shortcut = std::get<ShellLink>(link);
        std::vector<fs::path> folders = {file.parent_path()};
        if (auto working = localFile(places_, shortcut.workingFolder, {})) {
            folders.insert(folders.begin(), *working);
        }
        folders.insert(folders.end(), {places_.systemFolder, places_.windowsFolder});
        addItem(Finding::Source::StartupFolder, where, name, shortcut.commandLine(), folders, file);
    }

    // Task definitions are XML, usually UTF-16 with a byte-order mark; each <Exec> action runs
    // its <Command> with its <Arguments>.
    void scheduledTasks() {
        const auto tasks = findCaseless(places_.systemFolder, "Tasks");
        if (!tasks) {
            return;
        }
        forEachFile(*tasks, [&](const fs::path& file) {
            const auto bytes = read(file);
            const std::string text = decodeText(bytes.value_or(std::string()));
            if (text.find("<Task") == std::string::npos) {
                return;
            }
            // The Task Scheduler does not run a disabled task.
            if (equalIgnoringCase(element(element(text, "Settings"), "Enabled"), "false")) {
                return;
            }
            // As the Task Scheduler names it: \Folder\Task.
            std::string name =
                std::string(1, '\\').append(displayPath(file.lexically_relative(*tasks)));
            std::replace(name.begin(), name.end(), '/', '\\');
            for (std::size_t at = text.find("<Exec"); at != std::string::npos;
                 at = text.find("<Exec", at + 1)) {
                const std::size_t end = text.find("</Exec>", at);
                const std::string_view exec = std::string_view(text).substr(
                    at, end == std::string::npos ? std::string::npos : end - at);
                std::string command = element(exec, "Command");
                const std::string arguments = element(exec, "Arguments");
                command += arguments.empty() ? "" : " " + arguments;
                std::vector<fs::path> folders = commandFolders();
                const std::string workingDirectory = element(exec, "WorkingDirectory");
                if (auto local = localFile(places_, workingDirectory, {})) {
                    folders.insert(folders.begin(), *local);
                }
                addItem(Finding::Source::ScheduledTask, displayPath(file), name, command, folders,
                        file);
            }
        });
    }

    static std::string element(std::string_view xml, std::string_view tag) {
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

    // Whether `folder` may be walked: a folder that a link leads out of the prefix is not.
    bool walkable(const fs::path& folder) {
        if (places_.contains(folder)) {
            return true;
        }
        report_.notes.push_back(displayPath(folder) +
                                " leads outside the prefix; it was not looked at");
        return false;
    }

    // The entries of `folder` in name order: its folders (`folders`), or the files that are not
    // folders (links to files included: they are read by the rules of `read`).
    std::vector<fs::path> entriesOf(const fs::path& folder, bool folders) {
        std::vector<fs::path> entries;
        if (!walkable(folder)) {
            return entries;
        }
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
            if (entries.size() == kMaxEntries) {
                report_.notes.push_back(limitNote(displayPath(folder)));
                break;
            }
            const bool isFolder = it->is_directory(error) && !it->is_symlink(error);
            if (isFolder == folders && (folders || !it->is_directory(error))) {
                entries.push_back(it->path());
            }
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    // Calls `visit` with each regular file below `folder`, in name order, following no link to
    // a folder.
    void forEachFile(const fs::path& folder, const std::function<void(const fs::path&)>& visit) {
        if (!walkable(folder)) {
            return;
        }
        std::vector<fs::path> files;
        std::error_code error;
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            error);
        for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
            if (files.size() == kMaxEntries) {
                report_.notes.push_back(limitNote(displayPath(folder)));
                break;
            }
            if (it.depth() >= kMaxDepth) {
                it.disable_recursion_pending();
            }
            if (it->is_regular_file(error) && !it->is_symlink(error)) {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            visit(file);
        }
    }

public:
    std::vector<Finding> all_;
    std::vector<Finding> others_;

private:
    platform::RegistryApi& registry_;
    const Places& places_;
    Report& report_;
};

std::vector<RestrictionState> statesOf(platform::RegistryApi& registry, registry::General2& general,
                                       const std::vector<int>& numbers) {
    std::vector<RestrictionState> states;
    for (const Restriction& restriction : restrictions::kCatalogue) {
        RestrictionState state{
            restriction.number, restrictions::isInForce(general, restriction),
            readValue(registry, platform::kCurrentUser, restriction.subKey, restriction.valueName),
            readValue(registry, platform::kLocalMachine, restriction.subKey,
                      restriction.valueName)};
        const bool asked =
            std::find(numbers.begin(), numbers.end(), restriction.number) != numbers.end();
        const bool present = state.inForce || state.currentUser || state.localMachine;
        if (numbers.empty() ? present : asked) {
            states.push_back(std::move(state));
        }
    }
    return states;
}

}  // namespace

platform::Status readStoredValue(platform::RegistryApi& registry, KeyHandle root,
                                 const std::string& subKey, const std::string& name,
                                 StoredValue& value) {
    KeyHandle key = 0;
    platform::Status status = registry.openKey(root, subKey, platform::kKeyRead, key);
    if (status != platform::kSuccess) {
        return status;
    }
    status = registry::queryWholeValue(registry, key, name, value.type, value.data);
    registry.closeKey(key);
    return status;
}

std::string StoredValue::describe() const {
    if (type == platform::kRegDword && data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = (number << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
        }
        return std::to_string(static_cast<std::int32_t>(number));
    }
    if (platform::isStringType(type)) {
        return std::string(1, '"').append(textOf(*this)).append("\"");
    }
    return "type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes";
}

bool Finding::concerns(const std::vector<int>& numbers) const {
    return restrictions.empty() || numbers.empty() ||
           std::any_of(restrictions.begin(), restrictions.end(), [&](int number) {
               return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
           });
}

Report diagnose(platform::RegistryApi& registry, registry::General2& general, const Places& places,
                const std::vector<int>& numbers) {
    Report report;
    report.place = places.description;
    report.states = statesOf(registry, general, numbers);
    Survey survey(registry, places, report);
    survey.run();
    for (Finding& finding : survey.all_) {
        if (finding.concerns(numbers)) {
            report.returning.push_back(std::move(finding));
        }
    }
    report.otherStartupItems = std::move(survey.others_);
    return report;
}

}  // namespace quorvane::diagnosis
