// The program's start: the manifest check (and restart), the registry, then the main window.
#pragma once

class QApplication;

namespace quorvane::startup {

// Before the application is made: under Wine, Qt's Windows platform draws text with FreeType
// (fontengine=freetype) rather than with Wine's GDI, which spaces letters apart and drops some in
// message boxes; Wine is known by the wine_get_version function of its ntdll. A platform the
// user names in QT_QPA_PLATFORM wins. Elsewhere it does nothing.
void chooseFontEngine();

// Whether the command line asks for the usage (--help or -h): then main() prints kUsage and ends
// before anything else, so no manifest is written, no window opens and no display is needed.
bool usageAsked(int argc, const char* const argv[]);
extern const char* const kUsage;

// Runs Quorvane in `application` until the main window closes and returns the exit status:
// 0, or 2 when the registry cannot be used (after saying why in a message box). An instance
// that wrote the manifest and started its successor returns 0 at once, without a window.
int runQuorvane(QApplication& application);

}  // namespace quorvane::startup
