// How the readers of the diagnosis walk keys and folders and read files: within bounds, inside
// the prefix, and with a note for each thing they did not look at.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnosis/place_reader.h"

namespace quorvane::diagnosis {

std::string keyPath(platform::KeyHandle root, std::string_view subKey);

// A value's text without its terminating NULs.
std::string textOf(const StoredValue& value);

std::optional<StoredValue> readValue(platform::RegistryApi& registry, platform::KeyHandle root,
                                     const std::string& subKey, const std::string& name);

// Calls `visit` with every value of root\subKey, if the key can be opened.
void forEachValue(const Context& context, Findings& findings, platform::KeyHandle root,
                  const std::string& subKey,
                  const std::function<void(const std::string&, const StoredValue&)>& visit);

// The names of root\subKey's sub-keys; none when it cannot be opened.
std::vector<std::string> subKeysOf(const Context& context, Findings& findings,
                                   platform::KeyHandle root, const std::string& subKey);

// The bytes of a file that anyone may have placed: read beneath the prefix (no "..", no link),
// without blocking, only when it is a regular file within the bound, and as root only what the
// prefix's owner could read. Why a file was not read goes to the notes.
std::optional<std::string> readPlacedFile(const Context& context, Findings& findings,
                                          const std::filesystem::path& file);

// The entries of `folder` in name order: its folders (`folders`), or the entries that are not
// folders (links included: reading one notes that it was not followed). Why a folder was not
// looked at goes to the notes.
std::vector<std::filesystem::path> entriesOf(const Context& context, Findings& findings,
                                             const std::filesystem::path& folder, bool folders);

// Calls `visit` with each file below `folder` that is not a folder, in name order, following no
// link.
void forEachFile(const Context& context, Findings& findings, const std::filesystem::path& folder,
                 const std::function<void(const std::filesystem::path&)>& visit);

// The folders a startup command's relative names are looked for in.
std::vector<std::filesystem::path> commandFolders(const Places& places);

// Adds a startup item that runs `command`, with what it and the files it hands on set (a
// registry file's values, a policy file's records, a script's commands), looked for in
// `folders`. The report shows the command, or with `showWrites` the item's name and the
// statements of its scripts that set restrictions.
void addStartupItem(const Context& context, Findings& findings, Finding::Source source,
                    std::string where, std::string item, const std::string& command,
                    const std::vector<std::filesystem::path>& folders,
                    const std::filesystem::path& file = {}, bool showWrites = false);

}  // namespace quorvane::diagnosis
