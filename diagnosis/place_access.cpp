#include "diagnosis/place_access.h"

#include <algorithm>
#include <variant>

#include "diagnosis/command_scan.h"
#include "diagnosis/text_scan.h"
#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "platform/value_data.h"
#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;
using platform::KeyHandle;
using restrictions::Restriction;

constexpr int kMaxDepth = 8;
// Scripts that run scripts are followed this deep.
constexpr int kMaxScriptDepth = 4;

std::string limitNote(const std::string& where) {
    return where + " holds more than " + std::to_string(kMaxEntries) +
           " entries; only the first were looked at";
}

// The folder that holds `path` beneath the prefix, and its name there; none, with a note of what
// was not `done` ("read"), when it lies outside the prefix.
std::optional<formats::PlaceFiles::Located> reach(const Context& context, Findings& findings,
                                                  const fs::path& path, const char* done) {
    auto located = context.places.files.locate(path);
    if (!located) {
        findings.notes.push_back(displayPath(path) + " leads outside the prefix; it was not " +
                                 done);
        return std::nullopt;
    }
    return std::move(located).value();
}

// The entries of `folder`, at most `most`; none, with a note, when it cannot be listed.
std::optional<formats::Listing> listed(const Context& context, Findings& findings,
                                       const fs::path& folder, std::size_t most) {
    const auto located = reach(context, findings, folder, "looked at");
    if (!located) {
        return std::nullopt;
    }
    auto listing = located->folder.list(located->name, most);
    if (!listing) {
        findings.notes.push_back(displayPath(folder) + " " + listing.failure().reason +
                                 "; it was not looked at");
        return std::nullopt;
    }
    if (listing->more) {
        findings.notes.push_back(limitNote(displayPath(folder)));
    }
    return std::move(listing).value();
}

// The restrictions a registry file puts in force (not those it deletes or stores as 0).
std::vector<int> restrictionsStoredBy(const std::vector<formats::RegSection>& sections) {
    std::vector<int> numbers;
    for (const formats::RegSection& section : sections) {
        const auto subKey = keyBelowHive(formats::utf16ToNarrow(section.key));
        for (const formats::RegValue& value : section.values) {
            const std::string name = formats::utf16ToNarrow(value.name);
            for (const Restriction& restriction : restrictions::kCatalogue) {
                if (!section.deleted && !value.deleted && subKey &&
                    holdsRestriction(*subKey, restriction) &&
                    equalIgnoringCase(name, restriction.valueName) &&
                    storesInForce(restriction, value.type,
                                  platform::narrowData(value.type, value.data))) {
                    addRestrictions(numbers, {restriction.number});
                }
            }
        }
    }
    return numbers;
}

void registryFileContents(Findings& findings, const std::optional<std::string>& bytes,
                          const std::optional<fs::path>& file, CommandFindings& found) {
    if (!bytes) {
        found.mayChangeAny = true;
        return;
    }
    const auto sections = formats::readRegFile(*bytes);
    if (sections) {
        addRestrictions(found.restrictions, restrictionsStoredBy(*sections));
        return;
    }
    found.mayChangeAny = true;
    findings.notes.push_back(displayPath(*file) + " is no registry file Quorvane can read (" +
                             sections.failure().reason + "); it may set any restriction");
}

// Reads the files a command hands on and adds what they set: a registry file's values, a
// policy file's records, a script's commands. A registry or policy file that cannot be read
// may set anything; a script that cannot be read runs nothing.
void followFiles(const Context& context, Findings& findings, CommandFindings& found,
                 const std::vector<fs::path>& folders, int depth) {
    const Places& places = context.places;
    const std::vector<NamedFile> files = std::move(found.files);
    found.files.clear();
    for (const NamedFile& named : files) {
        const auto file = localFile(places, named.path, folders);
        const auto bytes = file ? readPlacedFile(context, findings, *file) : std::nullopt;
        switch (named.kind) {
            case NamedFile::Kind::Registry:
                registryFileContents(findings, bytes, file, found);
                break;
            case NamedFile::Kind::Policy:
                if (!bytes) {
                    found.mayChangeAny = true;
                } else if (auto finding =
                               policyFinding(readPolicyFile(*bytes), platform::kCurrentUser, "")) {
                    addRestrictions(found.restrictions, finding->restrictions);
                }
                break;
            case NamedFile::Kind::Script:
                if (bytes && depth < kMaxScriptDepth) {
                    CommandFindings inside = examineCommand(decodeText(*bytes));
                    followFiles(context, findings, inside,
                                {file->parent_path(), places.systemFolder, places.windowsFolder},
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

}  // namespace

std::string keyPath(KeyHandle root, std::string_view subKey) {
    const char* rootName =
        root == platform::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    return std::string(rootName) + "\\" + std::string(subKey);
}

std::string textOf(const StoredValue& value) {
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

std::optional<StoredValue> readValue(platform::RegistryApi& registry, KeyHandle root,
                                     const std::string& subKey, const std::string& name) {
    StoredValue value;
    return readStoredValue(registry, root, subKey, name, value) == platform::kSuccess
               ? std::optional(value)
               : std::nullopt;
}

void forEachValue(const Context& context, Findings& findings, KeyHandle root,
                  const std::string& subKey,
                  const std::function<void(const std::string&, const StoredValue&)>& visit) {
    platform::RegistryApi& registry = context.registry;
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
        findings.notes.push_back(limitNote(keyPath(root, subKey)));
    }
    registry.closeKey(key);
}

std::vector<std::string> subKeysOf(const Context& context, Findings& findings, KeyHandle root,
                                   const std::string& subKey) {
    platform::RegistryApi& registry = context.registry;
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
        findings.notes.push_back(limitNote(keyPath(root, subKey)));
    }
    registry.closeKey(key);
    return names;
}

std::optional<std::string> readPlacedFile(const Context& context, Findings& findings,
                                          const fs::path& file) {
    const auto located = reach(context, findings, file, "read");
    if (!located) {
        return std::nullopt;
    }
    auto got = located->folder.read(located->name, kReadLimit);
    if (!got) {
        findings.notes.push_back(displayPath(file) + " " + got.failure().reason +
                                 "; it was not read");
        return std::nullopt;
    }
    return std::move(got->bytes);
}

std::vector<fs::path> entriesOf(const Context& context, Findings& findings, const fs::path& folder,
                                bool folders) {
    std::vector<fs::path> entries;
    if (const auto listing = listed(context, findings, folder, kMaxEntries)) {
        for (const formats::Entry& entry : listing->entries) {
            if ((entry.kind == formats::Entry::Kind::Folder) == folders) {
                entries.push_back(folder / nameOf(entry.name));
            }
        }
    }
    return entries;
}

void forEachFile(const Context& context, Findings& findings, const fs::path& folder,
                 const std::function<void(const fs::path&)>& visit) {
    std::vector<fs::path> files;
    std::size_t seen = 0;
    // The entries of each folder count against one bound; folders kMaxDepth deep are not entered.
    const std::function<void(const fs::path&, int)> walk = [&](const fs::path& at, int depth) {
        if (seen >= kMaxEntries) {
            return;  // the folder that reached the bound noted it
        }
        const auto listing = listed(context, findings, at, kMaxEntries - seen);
        if (!listing) {
            return;
        }
        seen += listing->entries.size();
        for (const formats::Entry& entry : listing->entries) {
            const fs::path path = at / nameOf(entry.name);
            if (entry.kind != formats::Entry::Kind::Folder) {
                files.push_back(path);
            } else if (depth < kMaxDepth) {
                walk(path, depth + 1);
            }
        }
    };
    walk(folder, 0);
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        visit(file);
    }
}

std::vector<fs::path> commandFolders(const Places& places) {
    return {places.systemFolder, places.windowsFolder};
}

void addStartupItem(const Context& context, Findings& findings, Finding::Source source,
                    std::string where, std::string item, const std::string& command,
                    const std::vector<fs::path>& folders, const fs::path& file, bool showWrites) {
    CommandFindings found = examineCommand(command);
    followFiles(context, findings, found, folders, 0);
    std::string shown = showWrites ? item : command;
    for (std::size_t i = 0; showWrites && i < found.writes.size(); ++i) {
        shown.append(i == 0 ? ": " : "; ").append(found.writes[i]);
    }
    Finding finding{source, std::move(where), std::move(item), std::move(shown), {}, false, file};
    finding.setsRegistry = found.setsSomething();
    finding.restrictions = found.mayChangeAny ? std::vector<int>() : found.restrictions;
    (finding.setsRegistry ? findings.setting : findings.others).push_back(std::move(finding));
}

}  // namespace quorvane::diagnosis
