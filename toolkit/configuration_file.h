// Reads the configuration in layers: the compiled defaults, then quorvane.ini beside the
// executable, then the user's own file (Quorvane\quorvane.ini in the roaming application data
// folder on Windows, $XDG_CONFIG_HOME/Quorvane/quorvane.ini elsewhere), then the file
// QUORVANE_CONFIG names. Each key comes from the last file that sets it, so a user changes a
// setting in their own file even when an administrator's file beside the program sets it.
// The window and quorvane-cli read it alike.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/configuration.h"

namespace quorvane::toolkit {

// The folder of the running executable, links resolved; empty when it cannot be told (no /proc,
// say), and then no file is looked for beside the program.
std::filesystem::path programDirectory();

// The files that exist, lowest layer first, for a program in `programDirectory`.
std::vector<std::filesystem::path> configurationFiles(
    const std::filesystem::path& programDirectory);
// The configuration of this program (its own directory, the user's file, QUORVANE_CONFIG).
Configuration loadConfiguration();
// Reads `files` in order over the compiled defaults; a file that cannot be read changes nothing.
Configuration loadConfiguration(const std::vector<std::filesystem::path>& files);

// The settings of an INI text, in the file's order, each as "Section/Key" and its value: lines
// "[Section]" and "Key=Value" (blanks around either trimmed, a value in double quotes taken
// without them), comment lines starting with ';' or '#', and a ';' after an unquoted value
// starting a comment. Keys before any section, or in [General], have no section part.
std::vector<std::pair<std::string, std::string>> iniSettings(std::string_view text);

}  // namespace quorvane::toolkit
