#include "startup/xp_manif.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace quorvane::startup {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string kDescription =
    "http://www.haldrix.example http://www.haldrix.example/Pages/"
    "ListBot.html http://www.haldrix.example/Pages/Pimbleroot.html";

// Written out by hand, line by line, so that the builder is checked against the table and not
// against itself.
const std::string kQuorvaneManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "<assemblyIdentity\r\n"
    "  name=\"Quorvane.exe\"\r\n"
    "  processorArchitecture=\"x86\"\r\n"
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
    "      processorArchitecture=\"x86\"\r\n"
    "      publicKeyToken=\"6595b64144ccf1df\"\r\n"
    "      language=\"*\"\r\n"
    "    />\r\n"
    "  </dependentAssembly>\r\n"
    "</dependency>\r\n"
    "</assembly>";

// Counts the restarts that start() asks for, and answers whether the new process started.
struct RestartProbe {
    int calls = 0;
    bool started = true;
    std::function<bool()> callback() {
        return [this] {
            ++calls;
            return started;
        };
    }
};

StartContext contextIn(const fs::path& directory, const std::string& baseName = "Quorvane") {
    return StartContext{directory, baseName, kDescription, false};
}

std::size_t filesIn(const fs::path& directory) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory)) {
        ++count;
    }
    return count;
}

TEST(XpManifTest, ManifestTextMatchesTheHandWrittenBytes) {
    EXPECT_EQ(manifestText("Quorvane", kDescription), kQuorvaneManifest);
}

TEST(XpManifTest, EmptyInsertsGiveThe572CharacterSkeletonEndingWithoutLineEnd) {
    const std::string text = manifestText("", "");
    EXPECT_EQ(text.size(), 572u);
    EXPECT_TRUE(text.ends_with("\r\n</assembly>"));
    EXPECT_EQ(manifestText("ab", "cde").size(), 572u + 5u);
}

TEST(XpManifTest, DescriptionNamesTheThreeMakerPages) {
    EXPECT_EQ(makerDescription("www.haldrix.example"), kDescription);
    EXPECT_EQ(makerDescription("h.test"),
              "http://h.test http://h.test/Pages/ListBot.html http://h.test/Pages/Pimbleroot.html");
}

TEST(XpManifTest, MissingManifestIsWrittenOnceAndOneRestartRequested) {
    TempDir directory;
    RestartProbe restart;
    EXPECT_EQ(start(contextIn(directory.path()), restart.callback()), StartOutcome::Restarted);
    EXPECT_EQ(restart.calls, 1);
    EXPECT_EQ(filesIn(directory.path()), 1u);  // no temporary file left beside it
    EXPECT_EQ(readFile(directory.path() / "Quorvane.exe.MANIFEST"), kQuorvaneManifest);
}

TEST(XpManifTest, PresentManifestEvenEmptyIsLeftAloneAndNothingRestarts) {
    TempDir directory;
    writeFile(directory.path() / "Quorvane.exe.MANIFEST", "");
    RestartProbe restart;
    EXPECT_EQ(start(contextIn(directory.path()), restart.callback()), StartOutcome::ShowWindow);
    EXPECT_EQ(restart.calls, 0);
    EXPECT_EQ(readFile(directory.path() / "Quorvane.exe.MANIFEST"), "");
}

TEST(XpManifTest, AnotherBaseNameWritesItsOwnManifest) {
    TempDir directory;
    RestartProbe restart;
    start(contextIn(directory.path()), restart.callback());
    EXPECT_EQ(start(contextIn(directory.path(), "Copy of Q"), restart.callback()),
              StartOutcome::Restarted);
    EXPECT_EQ(restart.calls, 2);
    const std::string copy = readFile(directory.path() / "Copy of Q.exe.MANIFEST");
    EXPECT_EQ(copy, manifestText("Copy of Q", kDescription));
    EXPECT_NE(copy.find("  name=\"Copy of Q.exe\"\r\n"), std::string::npos);
}

TEST(XpManifTest, ProgramDirectoryWithSpacesWorks) {
    TempDir parent;
    const fs::path directory = parent.path() / "Program Files" / "Quorvane 1";
    fs::create_directories(directory);
    RestartProbe restart;
    EXPECT_EQ(start(contextIn(directory), restart.callback()), StartOutcome::Restarted);
    EXPECT_TRUE(fs::exists(directory / "Quorvane.exe.MANIFEST"));
}

TEST(XpManifTest, UnwritableLocationShowsTheWindowWithoutRestart) {
    // A "directory" that is a file fails to take the manifest for every user, root included.
    TempDir directory;
    writeFile(directory.path() / "not-a-directory", "x");
    RestartProbe restart;
    EXPECT_EQ(start(contextIn(directory.path() / "not-a-directory"), restart.callback()),
              StartOutcome::ShowWindow);
    EXPECT_EQ(restart.calls, 0);
}

TEST(XpManifTest, ReadOnlyDirectoryShowsTheWindowWithoutRestartOrLeftovers) {
    TempDir directory;
    fs::permissions(directory.path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (access(directory.path().c_str(), W_OK) == 0) {
        GTEST_SKIP() << "permission bits do not bind this user (root)";
    }
    RestartProbe restart;
    // Every start of a program in such a directory meets the same missing manifest: none of
    // them may restart, or the program would start itself for ever.
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(start(contextIn(directory.path()), restart.callback()), StartOutcome::ShowWindow);
    }
    EXPECT_EQ(restart.calls, 0);
    EXPECT_EQ(filesIn(directory.path()), 0u);
}

TEST(XpManifTest, FailedRestartShowsTheWindow) {
    TempDir directory;
    RestartProbe restart;
    restart.started = false;
    EXPECT_EQ(start(contextIn(directory.path()), restart.callback()), StartOutcome::ShowWindow);
    EXPECT_EQ(restart.calls, 1);
}

TEST(XpManifTest, RestartedInstanceNeverRestartsEvenWhenTheManifestIsGoneAgain) {
    TempDir directory;
    StartContext context = contextIn(directory.path());
    context.restarted = true;
    RestartProbe restart;
    EXPECT_EQ(start(context, restart.callback()), StartOutcome::ShowWindow);
    EXPECT_EQ(restart.calls, 0);
    // It still leaves the manifest for the next start.
    EXPECT_EQ(readFile(directory.path() / "Quorvane.exe.MANIFEST"), kQuorvaneManifest);
}

TEST(XpManifTest, ManifestNameKeepsExeAndBaseNameDropsDirectoryAndExtension) {
    EXPECT_EQ(manifestPath("/opt/Quorvane", "quorvane"),
              fs::path("/opt/Quorvane/quorvane.exe.MANIFEST"));
    EXPECT_EQ(baseNameOf("/opt/Q dir/Quorvane.exe"), "Quorvane");
    EXPECT_EQ(baseNameOf("/usr/libexec/quorvane/quorvane"), "quorvane");
}

}  // namespace
}  // namespace quorvane::startup
