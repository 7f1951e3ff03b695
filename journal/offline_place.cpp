#include "journal/offline_place.h"

#include <cstdint>
#include <cstdio>

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;

// Well below the 255 bytes a file name may have, room for the checksum.
constexpr std::size_t kLongestName = 160;

std::uint64_t checksum(const std::string& text) {
    std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    }
    return hash;
}

}  // namespace

std::string folderNameOf(const std::string& text) {
    std::string name;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '.' || byte == '_') {
            name.push_back(c);
        } else if (c == '/' || c == '\\') {
            name.push_back('-');
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            name.append(escaped);
        }
    }
    // Neither "." nor "..": the first character is never a dot.
    if (!name.empty() && name.front() == '.') {
        name.replace(0, 1, "%2E");
    }
    if (name.empty() || name == "-") {
        name = "%2F";  // the root folder; no other name gives this one
    }
    if (name.size() > kLongestName) {
        char sum[20];
        std::snprintf(sum, sizeof sum, "~%016llx", static_cast<unsigned long long>(checksum(text)));
        name = name.substr(0, kLongestName) + sum;
    }
    return name;
}

OfflinePlace offlinePlace(const fs::path& root, const std::string& user,
                          const platform::EnvironmentLookup& environment) {
    std::string path = root.generic_string();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    // "/mnt/windows" is "mnt-windows", not "-mnt-windows".
    const std::string trimmed = path.size() > 1 && path.front() == '/' ? path.substr(1) : path;
    const fs::path folder =
        defaultUndoDirectory(environment).parent_path() / "offline" / folderNameOf(trimmed);
    return {folder,
            {folder / "undo" / folderNameOf(user),
             "the Windows installation " + path + ", user " + user, root},
            folder / "backups"};
}

}  // namespace quorvane::journal
