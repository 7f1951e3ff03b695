// XPManif: the visual-styles manifest beside the executable, and the start-up decision that
// writes it and starts the program again. Plain C++, so that it is tested without a window.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace quorvane::startup {

// Set in the environment of the instance started after writing the manifest: that instance
// never restarts again, whatever it finds, so no start can loop.
inline constexpr const char* kRestartedMarker = "QUORVANE_RESTARTED";

// The architecture the manifest names for the program and its common controls. Windows' loader
// refuses to start a program whose manifest binds it to another architecture's common controls,
// so a Windows build names its own; elsewhere the manifest is never loaded and keeps the text of
// the 32-bit original.
#if defined(_WIN32) && defined(__x86_64__)
inline constexpr const char* kArchitecture = "amd64";
#elif defined(_WIN32) && defined(__aarch64__)
inline constexpr const char* kArchitecture = "arm64";
#else
inline constexpr const char* kArchitecture = "x86";
#endif

// The 21-line manifest (CR LF between lines, none after the last) naming version 6.0.0.0 of
// the common controls; `baseName` and `description` are inserted as they are, unescaped.
std::string manifestText(const std::string& baseName, const std::string& description);

// The description text: the "Comments" entry of the program's version resource
// (QUORVANE_COMMENTS), the maker's three web addresses.
std::string descriptionText();

// Base names are UTF-8 text, as the manifest's XML declaration says its text is.
//
// programDirectory / (baseName + ".exe.MANIFEST"): the name keeps ".exe" on every platform.
std::filesystem::path manifestPath(const std::filesystem::path& programDirectory,
                                   const std::string& baseName);

// The file name of the executable without its directory and without an ".exe" extension.
std::string baseNameOf(const std::filesystem::path& executable);

// Writes `text` to `file` through a temporary file in the same directory that is renamed into
// place only when every byte reached it; true when `file` then holds exactly `text`. A failure
// leaves no temporary file behind.
bool writeManifest(const std::filesystem::path& file, const std::string& text);

struct StartContext {
    std::filesystem::path programDirectory;
    std::string baseName;
    std::string description;
    bool restarted = false;  // this instance was started by a manifest restart
};

enum class StartOutcome {
    ShowWindow,  // go on: load and show the main window
    Restarted,   // the manifest was written and a new instance started: end this one
};

// Any existing manifest, even an empty one, counts as present and is left alone. A missing one
// is written; only when it was written completely and `restart` reports that the new instance
// was started does this instance end. A failed write or a failed start shows the window, and a
// restarted instance never calls `restart`.
StartOutcome start(const StartContext& context, const std::function<bool()>& restart);

}  // namespace quorvane::startup
