// Shell links (.lnk files), read by their structure: a 76-byte header whose flags say which parts
// follow, then the link-target ID list (skipped by its size), the link info (the target's local
// base path and common path suffix), and the string data: counted strings (a 16-bit count of
// characters, no terminator) for name, relative path, working folder, arguments and icon, in
// UTF-16LE when the header's IsUnicode flag is set and in the ANSI code page otherwise. Files come
// from anywhere, so no size or offset is trusted.
#pragma once

#include <string>
#include <string_view>

#include "formats/result.h"

namespace quorvane::diagnosis {

// Texts in the registry's narrow encoding; empty when the link does not hold them.
struct ShellLink {
    std::string target;  // the link info's path, else the environment block's target
    std::string relativePath;
    std::string workingFolder;
    std::string arguments;

    // What starting the link runs: the target (or relative path) in quotes, then the arguments.
    std::string commandLine() const;
};

// The link, or why the bytes are not one, for people.
Result<ShellLink> readShellLink(std::string_view bytes);

}  // namespace quorvane::diagnosis
