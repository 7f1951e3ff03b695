#include "diagnosis/fix.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "diagnosis/policy_file.h"
#include "diagnosis/text_scan.h"
#include "formats/utf16.h"
#include "journal/file_change.h"
#include "journal/startup_keys.h"
#include "journal/undo.h"
#include "restrictions/catalogue.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: userenv.h needs its types.
#include <userenv.h>
#endif

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;
using Kind = FixItem::Kind;

constexpr const char* kDomainReason =
    "a domain applies its policy again at every refresh, whatever is changed here: ask the "
    "domain's administrator to change the policy object, or take the computer out of the domain";
constexpr const char* kWinlogonReason =
    "a wrong Userinit or Shell stops anyone from logging on, so Quorvane never changes it: "
    "check it with the registry editor (Userinit normally holds only "
    "C:\\Windows\\system32\\userinit.exe, and Shell only explorer.exe) and remove the rest by "
    "hand";

std::string changedSince(const fs::path& file) {
    return displayPath(file) + " changed since it was read; it was not touched (run fix again)";
}

// The file `file` of the places, as it is now: read beneath the prefix.
Result<formats::FileContent> readFile(const Places& places, const fs::path& file,
                                      std::uintmax_t limit = kReadLimit) {
    const auto located = places.files.locate(file);
    if (!located) {
        return failure("leads outside the prefix");
    }
    return located->folder.read(located->name, limit);
}

// The restrictions whose records are taken out of a policy file.
std::vector<const restrictions::Restriction*> restrictionsFor(const Finding& finding,
                                                              const std::vector<int>& numbers) {
    std::vector<const restrictions::Restriction*> chosen;
    for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
        const auto& set = finding.restrictions;
        const bool setHere = std::find(set.begin(), set.end(), restriction.number) != set.end();
        const bool named = numbers.empty() || std::find(numbers.begin(), numbers.end(),
                                                        restriction.number) != numbers.end();
        if (setHere && named) {
            chosen.push_back(&restriction);
        }
    }
    return chosen;
}

bool setsOneOf(const PolicyRecord& record,
               const std::vector<const restrictions::Restriction*>& chosen) {
    const PolicyEffect effect = effectOf(record);
    if ((effect.action != PolicyEffect::Action::SetValue &&
         effect.action != PolicyEffect::Action::SetIfAbsent) ||
        effect.names.empty()) {
        return false;
    }
    const std::string key = normalisedKey(formats::utf16ToNarrow(record.key));
    const std::string name = formats::utf16ToNarrow(effect.names.front());
    return std::any_of(chosen.begin(), chosen.end(), [&](const restrictions::Restriction* r) {
        return holdsRestriction(key, *r) && equalIgnoringCase(name, r->valueName);
    });
}

bool isLocalPolicyFile(const Places& places, const fs::path& file) {
    // GroupPolicy\Machine|User\Registry.pol or GroupPolicyUsers\<SID>\User\Registry.pol below
    // the system folder; anything else (the caches) came from a domain.
    const fs::path relative = file.lexically_relative(places.systemFolder);
    if (relative.empty() || *relative.begin() == "..") {
        return false;
    }
    const std::string top = lowerCase(displayPath(*relative.begin()));
    return top == "grouppolicy" || top == "grouppolicyusers";
}

void planPolicyFile(FixItem& item, const Places& places, const std::vector<int>& numbers) {
    const Finding& finding = item.finding;
    if (!isLocalPolicyFile(places, finding.file)) {
        item.change = std::string("a cached copy of a domain's policy; ") + kDomainReason;
        return;
    }
    const auto content = readFile(places, finding.file);
    if (!content) {
        item.change =
            displayPath(finding.file) + " " + content.failure().reason + "; it was not changed";
        return;
    }
    const std::string& read = content->bytes;
    const PolicyFile policy = readPolicyFile(read);
    if (policy.damage || writePolicyFile(policy.records) != read) {
        item.change = displayPath(finding.file) +
                      " is not a sound policy file that Quorvane can keep byte for byte (" +
                      policy.damage.value_or("unusual layout") + "); it was not changed";
        return;
    }
    const auto chosen = restrictionsFor(finding, numbers);
    std::vector<PolicyRecord> kept;
    std::string removed;
    for (const PolicyRecord& record : policy.records) {
        if (setsOneOf(record, chosen)) {
            removed += (removed.empty() ? "" : ", ") + formats::utf16ToNarrow(record.value);
        } else {
            kept.push_back(record);
        }
    }
    item.kind = Kind::PolicyRecords;
    item.file = finding.file;
    item.before = read;
    item.after = writePolicyFile(kept);
    item.change = "remove the records that set " + removed + " from " + displayPath(item.file) +
                  " (" + std::to_string(kept.size()) + " other records kept as they are)";
    // gpt.ini sits in the policy object's folder, one above Machine\ or User\.
    const bool machine =
        equalIgnoringCase(displayPath(item.file.parent_path().filename()), "Machine");
    if (const auto gpt = findCaseless(places, item.file.parent_path().parent_path(), "gpt.ini")) {
        const auto ini = readFile(places, *gpt);
        const auto raised = ini ? raisedVersion(ini->bytes, machine) : std::nullopt;
        if (raised) {
            item.gptIni = *gpt;
            item.gptBefore = ini->bytes;
            item.gptAfter = *raised;
            item.change += "; raise the " + std::string(machine ? "machine" : "user") +
                           " version in " + displayPath(*gpt);
            return;
        }
    }
    item.change +=
        "; there is no gpt.ini version beside it to raise, so the policy engine may "
        "apply its cached copy until the next start";
}

void planTask(FixItem& item, [[maybe_unused]] const Places& places) {
#ifdef _WIN32
    // The Task Scheduler keeps its own copy of each task: only it can disable one.
    item.change = "the task " + item.finding.item +
                  ": disable it in the Task Scheduler (schtasks /Change /TN \"" +
                  item.finding.item + "\" /DISABLE, as administrator)";
#else
    const fs::path& file = item.finding.file;
    const auto read = readFile(places, file);
    const auto disabled = read ? disabledTask(read->bytes) : std::nullopt;
    if (!disabled) {
        item.change = displayPath(file) +
                      (read ? " has no <Settings> to disable it in" : " " + read.failure().reason) +
                      "; it was not changed";
        return;
    }
    item.kind = Kind::Task;
    item.file = file;
    item.before = read->bytes;
    item.after = *disabled;
    item.change =
        "disable the task " + item.finding.item + " (Enabled false in " + displayPath(file) + ")";
#endif
}

void planStartupValue(FixItem& item) {
    const Finding& finding = item.finding;
    for (const journal::StartupKey& key : journal::kStartupKeys) {
        const registry::Hive hive = static_cast<registry::Hive>(key.root);
        if (equalIgnoringCase(finding.where, restrictions::fullRegistryPath(hive, key.subKey))) {
            item.kind = Kind::StartupValue;
            item.hive = hive;
            item.subKey = key.subKey;
            item.valueName = finding.item;
            item.command = finding.command;
            item.change = "delete the value " + finding.item + " from " + finding.where;
            return;
        }
    }
    // Winlogon's Userinit and Shell.
    item.change = finding.item + " in " + finding.where + ": " + kWinlogonReason;
}

std::string stamp() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

// What a value holds now as a command, or none when it is not there.
std::optional<std::string> commandNow(platform::RegistryApi& registry, const FixItem& item) {
    StoredValue value;
    if (readStoredValue(registry, static_cast<platform::KeyHandle>(item.hive), item.subKey,
                        item.valueName, value) != platform::kSuccess ||
        !platform::isStringType(value.type)) {
        return std::nullopt;
    }
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

restrictions::Change fileResult(const FixItem& item, const std::string& action,
                                const Result<void>& done) {
    const std::string what =
        item.finding.file.empty() ? item.finding.item : displayPath(item.finding.file);
    return {registry::kNoHive, action, what, done ? platform::kSuccess : platform::kAccessDenied,
            done ? std::string() : done.failure().reason};
}

// Ascii text in the code units of a file: UTF-16 little- or big-endian, or bytes.
struct Units {
    int width = 1;
    bool bigEndian = false;

    std::string of(std::string_view ascii) const {
        std::string out;
        for (const char c : ascii) {
            if (width == 2 && bigEndian) {
                out += '\0';
            }
            out += c;
            if (width == 2 && !bigEndian) {
                out += '\0';
            }
        }
        return out;
    }
    std::size_t find(const std::string& bytes, std::string_view ascii, std::size_t from,
                     std::size_t start) const {
        const std::string needle = of(ascii);
        for (std::size_t at = bytes.find(needle, from); at != std::string::npos;
             at = bytes.find(needle, at + 1)) {
            if ((at - start) % static_cast<std::size_t>(width) == 0) {
                return at;
            }
        }
        return std::string::npos;
    }
};

}  // namespace

bool FixPlan::leavesSomething() const {
    return std::any_of(items.begin(), items.end(),
                       [](const FixItem& item) { return item.kind == Kind::Left; });
}

std::optional<std::string> disabledTask(const std::string& bytes) {
    Units units;
    std::size_t start = 0;
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        units = {2, bytes[0] == '\xFE'};
        start = 2;
    } else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') {
        units = {2, false};
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
        start = 3;
    }
    const std::size_t settings = units.find(bytes, "<Settings>", start, start);
    if (settings == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t inside = settings + units.of("<Settings>").size();
    const std::size_t close = units.find(bytes, "</Settings>", inside, start);
    const std::size_t enabled = units.find(bytes, "<Enabled>", inside, start);
    std::string out = bytes;
    if (enabled != std::string::npos && enabled < close) {
        const std::size_t from = enabled + units.of("<Enabled>").size();
        const std::size_t to = units.find(bytes, "</Enabled>", from, start);
        if (to == std::string::npos) {
            return std::nullopt;
        }
        out.replace(from, to - from, units.of("false"));
    } else {
        out.insert(inside, units.of("<Enabled>false</Enabled>"));
    }
    return out;
}

std::optional<std::string> raisedVersion(const std::string& bytes, bool machine) {
    for (std::size_t line = 0; line < bytes.size();) {
        std::size_t end = bytes.find('\n', line);
        end = end == std::string::npos ? bytes.size() : end;
        if (equalIgnoringCase(bytes.substr(line, 8), "Version=")) {
            const std::size_t from = line + 8;
            std::size_t to = from;
            while (to < end && bytes[to] >= '0' && bytes[to] <= '9' && to - from < 10) {
                ++to;
            }
            const std::uint64_t old = to == from ? 0 : std::stoull(bytes.substr(from, to - from));
            std::uint32_t user = static_cast<std::uint32_t>(old >> 16) & 0xFFFF;
            std::uint32_t computer = static_cast<std::uint32_t>(old) & 0xFFFF;
            (machine ? computer : user) = ((machine ? computer : user) + 1) & 0xFFFF;
            std::string out = bytes;
            out.replace(from, to - from, std::to_string((user << 16) | computer));
            return out;
        }
        line = end + 1;
    }
    return std::nullopt;
}

FixPlan planFix(platform::RegistryApi& registry, registry::General2& general, const Places& places,
                const std::vector<int>& numbers) {
    const Report report = diagnose(registry, general, places, numbers);
    FixPlan plan;
    plan.notes = report.notes;
    for (const RestrictionState& state : report.states) {
        plan.lift.push_back(state.number);
    }
    for (const Finding& finding : report.returning) {
        FixItem item;
        item.finding = finding;
        switch (finding.source) {
            case Finding::Source::PolicyFile:
                planPolicyFile(item, places, numbers);
                break;
            case Finding::Source::DomainPolicy:
                item.change = finding.item + ": " + kDomainReason;
                break;
            case Finding::Source::RegistryStartup:
                planStartupValue(item);
                break;
            case Finding::Source::StartupFolder:
                item.kind = Kind::StartupFile;
                item.change = "move " + displayPath(finding.file) +
                              " out of the Startup folder, beside the undo entries";
                break;
            case Finding::Source::ScheduledTask:
                planTask(item, places);
                break;
        }
        plan.items.push_back(std::move(item));
    }
    // The machine and user halves of one policy object share its gpt.ini: the first of them
    // raises both versions, so that neither change is computed from a file the other replaced.
    for (auto first = plan.items.begin(); first != plan.items.end(); ++first) {
        for (auto other = first + 1; !first->gptIni.empty() && other != plan.items.end(); ++other) {
            if (other->gptIni != first->gptIni) {
                continue;
            }
            const bool machine =
                equalIgnoringCase(displayPath(other->file.parent_path().filename()), "Machine");
            if (const auto both = raisedVersion(first->gptAfter, machine)) {
                first->gptAfter = *both;
                other->gptIni.clear();
                other->gptBefore.clear();
                other->gptAfter.clear();
            }
        }
    }
    return plan;
}

std::string formatPlan(const FixPlan& plan) {
    std::string text;
    std::string left;
    for (const FixItem& item : plan.items) {
        (item.kind == Kind::Left ? left : text) += "  " + item.change + "\n";
    }
    std::string out = text.empty() ? "Nothing that sets a restriction again will be changed.\n"
                                   : "What will change:\n" + text;
    if (!plan.lift.empty()) {
        out += plan.lift.size() == 1 ? "Then lift restriction" : "Then lift restrictions";
        for (std::size_t i = 0; i < plan.lift.size(); ++i) {
            out += i == 0 ? " " : i + 1 == plan.lift.size() ? " and " : ", ";
            out += std::to_string(plan.lift[i]);
        }
        out += ".\n";
    }
    if (!left.empty()) {
        out += "Left as it is:\n" + left;
    }
    for (const std::string& note : plan.notes) {
        out += "Note: " + note + "\n";
    }
    return out;
}

namespace {

// The name an undo entry gives `file`: beneath the journal's folder for its files (the prefix by
// the name its entries know it by), or its own full path where there is none.
std::string recordPath(const journal::UndoJournal& journal, const Places& places,
                       const fs::path& file) {
    const fs::path folder = journal.filesFolder();
    const auto name = places.files.beneath(file);
    return (folder.empty() || !name ? file : folder / *name).string();
}

// What a changing item works on: the files as they are now, read again beneath the prefix.
struct Doing {
    const FixItem* item;
    formats::FileContent file;  // the policy file, the task or the startup item
    std::optional<formats::FileContent> gptIni;
    fs::path movedTo;
};

// The version written.
Result<formats::FileSignature> rewrite(const Places& places, const fs::path& file,
                                       const std::string& bytes,
                                       const formats::FileSignature& read) {
    const auto located = places.files.locate(file);
    if (!located) {
        return located.failure();
    }
    formats::WriteOptions options;
    options.expected = read;
    options.onlyWhatItsOwnerCould = true;
    const auto written = located->folder.write(located->name, bytes, options);
    if (!written) {
        return written.failure().status == formats::kFileChanged ? failure(changedSince(file))
                                                                 : written.failure();
    }
    return written;
}

}  // namespace

restrictions::Outcome applyFix(const FixPlan& plan, platform::RegistryApi& registry,
                               journal::UndoJournal& journal, const Places& places) {
    restrictions::Outcome outcome;
    // One writer at a time in the prefix, from each file's check to its write.
    std::optional<formats::FolderLock> lock;
    if (const auto& root = places.files.root(); root && places.locked) {
        auto taken = root->lock(formats::kLockTimeout);
        if (!taken || !taken->held()) {
            const std::string why =
                taken ? "another program kept " + displayPath(root->path()) + " locked"
                      : taken.failure().reason;
            for (const FixItem& item : plan.items) {
                outcome.add(fileResult(item, "change", failure(why + "; nothing was changed")));
            }
            return outcome;
        }
        lock = std::move(taken).value();
    }
    std::vector<journal::FileRecord> files;
    std::vector<restrictions::PlannedChange> values;
    std::vector<Doing> doing;
    const fs::path moved = journal.movedFolder() / stamp();
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        const FixItem& item = plan.items[i];
        if (item.kind == Kind::Left) {
            outcome.add({registry::kNoHive, "leave",
                         item.finding.item.empty() ? item.finding.where : item.finding.item,
                         platform::kAccessDenied, item.change});
            continue;
        }
        // Only what still is as the diagnosis read it.
        if (item.kind == Kind::StartupValue) {
            if (commandNow(registry, item) != item.command) {
                outcome.add({item.hive, "delete", item.valueName + " in " + item.subKey,
                             journal::kLeftAlone, "it changed since it was read; not touched"});
                continue;
            }
            values.push_back(
                restrictions::PlannedChange::deleteValue(item.hive, item.subKey, item.valueName));
            doing.push_back({&item, {}, std::nullopt, {}});
            continue;
        }
        if (item.kind == Kind::StartupFile) {
            auto file = readFile(places, item.finding.file, journal::kEntryLimit);
            if (!file) {
                outcome.add(
                    fileResult(item, "move", failure(file.failure().reason + "; not touched")));
                continue;
            }
            const fs::path to = moved / std::to_string(i) / item.finding.file.filename();
            files.push_back({journal::FileRecord::Kind::Moved,
                             recordPath(journal, places, item.finding.file),
                             to.string(),
                             {},
                             {},
                             true});
            doing.push_back({&item, std::move(file).value(), std::nullopt, to});
            continue;
        }
        auto file = readFile(places, item.file);
        auto gptIni = item.gptIni.empty() ? Result<formats::FileContent>(formats::FileContent{})
                                          : readFile(places, item.gptIni);
        if (!file || !gptIni) {
            const auto& [path, why] = !file ? std::pair(item.file, file.failure().reason)
                                            : std::pair(item.gptIni, gptIni.failure().reason);
            outcome.add(fileResult(item, "change",
                                   failure(displayPath(path) + " " + why + "; not touched")));
            continue;
        }
        if (file->bytes != item.before ||
            (!item.gptIni.empty() && gptIni->bytes != item.gptBefore)) {
            outcome.add(fileResult(item, "change", failure(changedSince(item.file))));
            continue;
        }
        files.push_back({journal::FileRecord::Kind::Content,
                         recordPath(journal, places, item.file),
                         {},
                         item.before,
                         item.after,
                         true});
        if (!item.gptIni.empty()) {
            files.push_back({journal::FileRecord::Kind::Content,
                             recordPath(journal, places, item.gptIni),
                             {},
                             item.gptBefore,
                             item.gptAfter,
                             true});
        }
        doing.push_back(
            {&item,
             std::move(file).value(),
             item.gptIni.empty() ? std::nullopt : std::optional(std::move(gptIni).value()),
             {}});
    }
    Result<void> recorded = values.empty() ? Result<void>() : journal.record(values);
    if (recorded && !files.empty()) {
        recorded = journal.recordFiles(files);
    }
    if (!recorded) {
        for (const Doing& done : doing) {
            outcome.add(fileResult(
                *done.item, "change",
                failure("changed nothing without a backup: " + recorded.failure().reason)));
        }
        return outcome;
    }
    bool policyChanged = false;
    {
        platform::BatchScope batch(registry);
        restrictions::Outcome deleted;
        for (const Doing& done : doing) {
            const FixItem* item = done.item;
            if (item->kind != Kind::StartupValue) {
                continue;
            }
            platform::KeyHandle key = 0;
            platform::Status status = registry.openKey(static_cast<platform::KeyHandle>(item->hive),
                                                       item->subKey, platform::kKeyWrite, key);
            if (status == platform::kSuccess) {
                status = registry.deleteValue(key, item->valueName);
                registry.closeKey(key);
            }
            deleted.add(
                {item->hive, "delete", item->valueName + " in " + item->subKey, status,
                 status == platform::kSuccess
                     ? std::string()
                     : restrictions::refusalReason(item->hive, status, registry.lastFailure())});
        }
        deleted.storeFailed(batch.finish());
        outcome.merge(deleted);
    }
    const auto movedFiles =
        doing.empty() ? Result<journal::EntryFiles>(failure("")) : journal.entryFiles();
    for (const Doing& done : doing) {
        const FixItem& item = *done.item;
        switch (item.kind) {
            case Kind::StartupValue:
                // Read back: the value must be gone.
                if (commandNow(registry, item)) {
                    outcome.add({item.hive, "delete", item.valueName + " in " + item.subKey,
                                 platform::kRegistryIoFailed,
                                 "the registry still holds it afterwards"});
                }
                break;
            case Kind::StartupFile: {
                const auto from = places.files.locate(item.finding.file);
                const auto to = movedFiles
                                    ? movedFiles->locate(done.movedTo.string())
                                    : Result<formats::PlaceFiles::Located>(movedFiles.failure());
                Result<void> result = !from ? Result<void>(from.failure())
                                      : !to ? Result<void>(to.failure())
                                            : journal::moveFile(*from, done.file, *to);
                outcome.add(fileResult(item, "move", std::move(result)));
                break;
            }
            case Kind::PolicyRecords:
            case Kind::Task: {
                const auto written = rewrite(places, item.file, item.after, done.file.signature);
                Result<void> result = written ? Result<void>() : Result<void>(written.failure());
                if (written && done.gptIni) {
                    // The records go with the raised version or not at all: without it, Windows
                    // may never read the file again, and the next fix would find nothing to do.
                    if (auto ini =
                            rewrite(places, item.gptIni, item.gptAfter, done.gptIni->signature);
                        !ini) {
                        const auto back = rewrite(places, item.file, item.before, *written);
                        result = failure("gpt.ini " + ini.failure().reason +
                                         (back ? "; the records were put back"
                                               : "; the records were removed, and putting them "
                                                 "back failed: " +
                                                     back.failure().reason));
                    }
                }
                policyChanged = policyChanged || (item.kind == Kind::PolicyRecords && result);
                outcome.add(fileResult(item, item.kind == Kind::Task ? "disable" : "change",
                                       std::move(result)));
                break;
            }
            case Kind::Left:
                break;
        }
    }
#ifdef _WIN32
    if (policyChanged) {
        // The engine reads the files again now rather than at its next refresh.
        RefreshPolicyEx(TRUE, RP_FORCE);
        RefreshPolicyEx(FALSE, RP_FORCE);
    }
#else
    static_cast<void>(policyChanged);
#endif
    return outcome;
}

restrictions::Outcome stopAndLift(const FixPlan& plan, const std::string& action,
                                  platform::RegistryApi& registry, journal::UndoJournal& journal,
                                  const Places& places, restrictions::RestrictionManager& manager,
                                  registry::General2& general,
                                  const std::function<void(int)>& untick) {
    restrictions::Outcome outcome;
    // The prefix's lock, for the files and the hives alike, until the entry is complete.
    std::optional<formats::FolderLock> lock;
    if (const auto& root = places.files.root(); root && places.locked) {
        if (auto taken = root->lock(formats::kLockTimeout); taken && taken->held()) {
            lock = std::move(taken).value();
        }
    }
    {
        const restrictions::JournalEntry entry(&journal, action);
        outcome = applyFix(plan, registry, journal, places);
        platform::BatchScope batch(registry);
        for (const int number : plan.lift) {
            untick(number);
            outcome.merge(manager.SwitchRestriction(number));
        }
        outcome.storeFailed(batch.finish());
    }
    for (const int number : plan.lift) {
        const restrictions::Restriction restriction = *restrictions::restrictionByNumber(number);
        if (restrictions::isInForce(general, restriction)) {
            outcome.add({registry::kNoHive, "lift", restriction.valueName,
                         platform::kRegistryIoFailed, "it is still in force afterwards"});
        }
    }
    return outcome;
}

}  // namespace quorvane::diagnosis
