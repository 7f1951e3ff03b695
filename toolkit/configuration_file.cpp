#include "toolkit/configuration_file.h"

#include <cstdlib>
#include <optional>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include "formats/file_access.h"

namespace quorvane::toolkit {

namespace {

namespace fs = std::filesystem;

// A settings file is a few lines; anything much larger is not one.
constexpr std::uintmax_t kReadLimit = 1 << 20;

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// "text" without its quotes (\" and \\ stand for themselves), or the text up to a comment.
std::string valueOf(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"') {
        std::string value;
        for (std::size_t i = 1; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            value.push_back(text[i]);
        }
        return value;
    }
    return std::string(trimmed(text.substr(0, text.find(';'))));
}

#ifdef _WIN32
std::optional<fs::path> environmentPath(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value != nullptr && *value != L'\0' ? std::optional(fs::path(value)) : std::nullopt;
}
#else
std::optional<fs::path> environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::optional(fs::path(value)) : std::nullopt;
}
#endif

// Windows keeps a user's settings in the roaming application data folder, which follows the user
// from machine to machine; elsewhere $XDG_CONFIG_HOME (~/.config). None when it is unknown.
std::optional<fs::path> userConfigurationDirectory() {
#ifdef _WIN32
    return environmentPath(L"APPDATA");
#else
    if (auto xdg = environmentPath("XDG_CONFIG_HOME"); xdg && xdg->is_absolute()) {
        return xdg;
    }
    if (auto home = environmentPath("HOME")) {
        return *home / ".config";
    }
    return std::nullopt;
#endif
}

void readText(const std::vector<std::pair<std::string, std::string>>& settings,
              std::string_view key, std::string& value) {
    for (const auto& [name, text] : settings) {
        if (sameLetters(name, key)) {
            value = text;
        }
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> iniSettings(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::vector<std::pair<std::string, std::string>> settings;
    std::string section;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            if (sameLetters(section, "General")) {
                section.clear();
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            continue;
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        settings.emplace_back(section.empty() ? std::string(key) : section + "/" + std::string(key),
                              valueOf(trimmed(line.substr(equals + 1))));
    }
    return settings;
}

fs::path programDirectory() {
#ifdef _WIN32
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return fs::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
#else
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : executable.parent_path();
#endif
}

std::vector<fs::path> configurationFiles(const fs::path& programDirectory) {
    std::vector<fs::path> candidates;
    if (!programDirectory.empty()) {
        candidates.push_back(programDirectory / "quorvane.ini");
    }
    // No folder known: no user file either, rather than one relative to the working directory.
    if (const auto user = userConfigurationDirectory()) {
        candidates.push_back(*user / "Quorvane" / "quorvane.ini");
    }
#ifdef _WIN32
    if (const auto named = environmentPath(L"QUORVANE_CONFIG")) {
#else
    if (const auto named = environmentPath("QUORVANE_CONFIG")) {
#endif
        candidates.push_back(*named);
    }
    std::vector<fs::path> files;
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            files.push_back(candidate);
        }
    }
    return files;
}

Configuration loadConfiguration() {
    return loadConfiguration(configurationFiles(programDirectory()));
}

Configuration loadConfiguration(const std::vector<fs::path>& files) {
    Configuration configuration;
    for (const fs::path& file : files) {
        const auto folder = formats::Folder::open(file.parent_path());
        const auto text = folder ? folder->read(file.filename(), kReadLimit)
                                 : Result<formats::FileContent>(folder.failure());
        if (!text) {
            continue;
        }
        const auto settings = iniSettings(text->bytes);
        readText(settings, "Web/MakerHost", configuration.makerHost);
        readText(settings, "Web/VendorHost", configuration.vendorHost);
        readText(settings, "Web/PortalHost", configuration.portalHost);
        readText(settings, "Mail/Server", configuration.mailServer);
        readText(settings, "Mail/Mirror1", configuration.mirrors[0]);
        readText(settings, "Mail/Mirror2", configuration.mirrors[1]);
        readText(settings, "Mail/Mirror3", configuration.mirrors[2]);
        readText(settings, "Registry/Directory", configuration.registryDirectory);
    }
    return configuration;
}

}  // namespace quorvane::toolkit
