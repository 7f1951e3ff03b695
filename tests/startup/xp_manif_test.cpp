// The manifest the program writes beside itself and the start it decides on, and the font
// engine chosen before the window's application is made.
#include "startup/xp_manif.h"

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <iterator>
#include <string>

#include "startup/quorvane_start.h"
#include "tests/support/temp_dir.h"

namespace quorvane::startup {
namespace {

namespace fs = std::filesystem;

const std::string kDescription =
    "http://www.haldrix.example http://www.haldrix.example/Pages/"
    "ListBot.html http://www.haldrix.example/Pages/Pimbleroot.html";

// The 64-bit Windows program names its own architecture, for itself and for the common controls
// it binds to; elsewhere the text keeps the 32-bit original's.
#ifdef _WIN32
#define ARCHITECTURE "amd64"
#else
#define ARCHITECTURE "x86"
#endif

// Written out by hand, line by line, so that the builder is checked against the table and not
// against itself.
const std::string kQuorvaneManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "<assemblyIdentity\r\n"
    "  name=\"Quorvane.exe\"\r\n"
    "  processorArchitecture=\"" ARCHITECTURE
    "\"\r\n"
    "  version=\"1.0.0.0\"\r\n"
    "  type=\"win32\"/>\r\n"
    "<description>" +
    kDescription +
    "</description>\r\n"
    "<dependency>\r\n"
    "  <dependentAssembly>\r\n"
    "    <assemblyIdentity\r\n"
    "      type=\"win32\"\r\n"
    "      name=\"Microsoft.Windows.Common-Controls\"\r\n"
    "      version=\"6.0.0.0\"\r\n"
    "      processorArchitecture=\"" ARCHITECTURE
    "\"\r\n"
    "      publicKeyToken=\"6595b64144ccf1df\"\r\n"
    "      language=\"*\"\r\n"
    "    />\r\n"
    "  </dependentAssembly>\r\n"
    "</dependency>\r\n"
    "</assembly>";

// The last one outside every ANSI code page: it names its file and the manifest as it is.
const std::string kCyrillic = "\xd0\x96\xd0\xb0\xd0\xbd\xd0\xbd\xd0\xb0 \xc3\x85";  // "Жанна Å"

TEST(XpManifTest, ManifestTextIsTheHandWrittenBytesAndItsNameKeepsExe) {
    EXPECT_EQ(manifestText("Quorvane", kDescription), kQuorvaneManifest);
    // The description is the version resource's comments.
    EXPECT_EQ(descriptionText(), kDescription);
    EXPECT_EQ(manifestPath("/opt/Quorvane", "quorvane"),
              fs::path("/opt/Quorvane/quorvane.exe.MANIFEST"));
    EXPECT_EQ(baseNameOf("/opt/Q dir/Quorvane.exe"), "Quorvane");
    EXPECT_EQ(baseNameOf("/usr/libexec/quorvane/quorvane"), "quorvane");
    EXPECT_EQ(baseNameOf("/opt/tool.v2"), "tool.v2");
    EXPECT_EQ(baseNameOf("/opt/TOOL.V2.EXE"), "TOOL.V2");
    EXPECT_EQ(baseNameOf(fs::path(u8"/Programme/\u0416\u0430\u043d\u043d\u0430 \u00c5.exe")),
              kCyrillic);
}

// Only a manifest written in full, and a restart that started, end this instance; a restarted
// instance never asks for another, or a program could start itself for ever.
TEST(XpManifTest, StartWritesAMissingManifestAndRestartsOnlyWhenItMay) {
    const struct {
        const char* what;
        fs::path program;                // the program's directory within a scratch one
        const char* existing = nullptr;  // file already at `program`'s manifest, or the program
        bool restarted = false;
        bool restartStarts = true;
        StartOutcome outcome = StartOutcome::ShowWindow;
        int restarts = 0;
        const char* manifest = nullptr;  // afterwards: nullptr for none, "*" for the whole text
        std::string name = "Quorvane";   // the program's base name
    } cases[] = {
        {"missing", ".", nullptr, false, true, StartOutcome::Restarted, 1, "*"},
        {"present even empty", ".", "", false, true, StartOutcome::ShowWindow, 0, ""},
        {"spaces in the directory", "Program Files/Quorvane 1", nullptr, false, true,
         StartOutcome::Restarted, 1, "*"},
        // A "directory" that is a file fails to take the manifest for every user, root included.
        {"unwritable location", "not-a-directory", "x"},
        {"failed restart", ".", nullptr, false, false, StartOutcome::ShowWindow, 1, "*"},
        // Even when the manifest is gone again; it still leaves one for the next start.
        {"restarted instance", ".", nullptr, true, true, StartOutcome::ShowWindow, 0, "*"},
        // Another base name writes its own manifest, naming itself.
        {"another name", ".", nullptr, false, true, StartOutcome::Restarted, 1, "*", "Copy of Q"},
        {"a name outside ANSI", ".", nullptr, false, true, StartOutcome::Restarted, 1, "*",
         kCyrillic},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir scratch;
        const fs::path directory = scratch.path() / c.program;
        const fs::path manifest =
            directory / std::u8string(c.name.begin(), c.name.end()).append(u8".exe.MANIFEST");
        if (c.existing == nullptr) {
            fs::create_directories(directory);
        } else {
            testing::writeFile(c.program == "." ? manifest : directory, c.existing);
        }
        int restarts = 0;
        const auto restart = [&] { return ++restarts, c.restartStarts; };
        EXPECT_EQ(start({directory, c.name, kDescription, c.restarted}, restart), c.outcome);
        EXPECT_EQ(restarts, c.restarts);
        if (c.manifest != nullptr) {
            EXPECT_EQ(testing::readFile(manifest),
                      *c.manifest == '*' ? manifestText(c.name, kDescription) : c.manifest);
            EXPECT_EQ(std::distance(fs::directory_iterator(directory), {}), 1)
                << "no temporary file left beside it";
        }
    }
}

// The Windows build's tests run under Wine, so there the FreeType engine is chosen; natively
// nothing is. A platform already named is never replaced.
TEST(FontEngineTest, FreeTypeUnderWineUnlessAPlatformIsNamed) {
    {
        const testing::ScopedEnvironment none("QT_QPA_PLATFORM", "");
        chooseFontEngine();
#ifdef _WIN32
        EXPECT_EQ(qEnvironmentVariable("QT_QPA_PLATFORM").toStdString(),
                  "windows:fontengine=freetype");
#else
        EXPECT_TRUE(qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
#endif
    }
    const testing::ScopedEnvironment named("QT_QPA_PLATFORM", "offscreen");
    chooseFontEngine();
    EXPECT_EQ(qEnvironmentVariable("QT_QPA_PLATFORM").toStdString(), "offscreen");
}

}  // namespace
}  // namespace quorvane::startup
