#include "startup/xp_manif.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <system_error>

#include "formats/file_access.h"
#include "startup/program_info.h"

namespace quorvane::startup {

namespace fs = std::filesystem;

std::string manifestText(const std::string& baseName, const std::string& description) {
    const std::string architecture =
        R"(processorArchitecture=")" + std::string(kArchitecture) + '"';
    const std::array<std::string, 21> lines = {
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)",
        R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)",
        R"(<assemblyIdentity)",
        R"(  name=")" + baseName + R"(.exe")",
        "  " + architecture,
        R"(  version="1.0.0.0")",
        R"(  type="win32"/>)",
        "<description>" + description + "</description>",
        R"(<dependency>)",
        R"(  <dependentAssembly>)",
        R"(    <assemblyIdentity)",
        R"(      type="win32")",
        R"(      name="Microsoft.Windows.Common-Controls")",
        R"(      version="6.0.0.0")",
        "      " + architecture,
        R"(      publicKeyToken="6595b64144ccf1df")",
        R"(      language="*")",
        R"(    />)",
        R"(  </dependentAssembly>)",
        R"(</dependency>)",
        R"(</assembly>)",
    };
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += "\r\n";
        }
        text += lines[i];
    }
    return text;
}

std::string descriptionText() {
    return QUORVANE_COMMENTS;
}

fs::path manifestPath(const fs::path& programDirectory, const std::string& baseName) {
    const std::string name = baseName + ".exe.MANIFEST";
    return programDirectory / fs::path(std::u8string(name.begin(), name.end()));
}

std::string baseNameOf(const fs::path& executable) {
    // Only ".exe" is an executable's extension: elsewhere programs have none, and a dot in a
    // name such as "tool.v2" is part of it.
    constexpr std::string_view kExtension = ".exe";
    const std::u8string utf8 = executable.filename().u8string();
    std::string name(utf8.begin(), utf8.end());
    if (name.size() > kExtension.size()) {
        const auto suffix = std::string_view(name).substr(name.size() - kExtension.size());
        if (std::equal(suffix.begin(), suffix.end(), kExtension.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            })) {
            name.resize(name.size() - kExtension.size());
        }
    }
    return name;
}

bool writeManifest(const fs::path& file, const std::string& text) {
    return formats::writeWholeFile(file, text).ok();
}

StartOutcome start(const StartContext& context, const std::function<bool()>& restart) {
    const fs::path file = manifestPath(context.programDirectory, context.baseName);
    const auto folder = formats::Folder::open(context.programDirectory);
    const auto found = folder ? folder->examine(file.filename())
                              : Result<std::optional<formats::FileSignature>>(folder.failure());
    if (found && *found) {
        return StartOutcome::ShowWindow;
    }
    const bool written = writeManifest(file, manifestText(context.baseName, context.description));
    if (!written || context.restarted) {
        return StartOutcome::ShowWindow;
    }
    return restart() ? StartOutcome::Restarted : StartOutcome::ShowWindow;
}

}  // namespace quorvane::startup
