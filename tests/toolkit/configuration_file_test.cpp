// Where the configuration comes from, layer on layer, how a settings file is read, and the sample
// quorvane.ini that the Windows packages ship.
#include "toolkit/configuration_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/temp_dir.h"

namespace quorvane::toolkit {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;
using Files = std::vector<fs::path>;

#ifdef _WIN32
constexpr const char* kUserFolderVariable = "APPDATA";
#else
constexpr const char* kUserFolderVariable = "XDG_CONFIG_HOME";
#endif

class ConfigurationFileTest : public ::testing::Test {
protected:
    fs::path scratch(const char* name) const { return dir_.path() / name; }

    // Writes `lines` (key=value, or comments) as the INI file `name` in the scratch directory.
    fs::path ini(const char* name, const std::string& lines) const {
        const fs::path file = scratch(name);
        fs::create_directories(file.parent_path());
        testing::writeFile(file, lines);
        return file;
    }

    testing::TempDir dir_;
};

// Compiled defaults, then the file beside the program, then the user's own file (%APPDATA% on
// Windows, the roaming folder that follows the user; $XDG_CONFIG_HOME elsewhere), then the file
// QUORVANE_CONFIG names: each key from the last file that sets it.
TEST_F(ConfigurationFileTest, EachKeyComesFromTheLastFileThatSetsIt) {
    const ScopedEnvironment folder(kUserFolderVariable, scratch("user").string());
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    EXPECT_EQ(configurationFiles(scratch("program")), Files()) << "no file yet";

    const fs::path beside = ini("program/quorvane.ini",
                                "[Web]\nMakerHost=beside.test\nVendorHost=beside.test\n"
                                "[Mail]\nServer=beside.test:2525\n");
    const fs::path user = ini("user/Quorvane/quorvane.ini",
                              "[Web]\nMakerHost=user.test\n[Mail]\nMirror1=user.test\n");
    const fs::path named = ini("named.ini", "[Web]\nMakerHost=named.test\n");
    EXPECT_EQ(configurationFiles(scratch("program")), Files({beside, user}));
    const ScopedEnvironment namedFile("QUORVANE_CONFIG", named.string());
    const Files files = configurationFiles(scratch("program"));
    EXPECT_EQ(files, Files({beside, user, named}));

    const Configuration read = loadConfiguration(files);
    const Configuration defaults;
    EXPECT_EQ(read.makerHost, "named.test");
    EXPECT_EQ(read.vendorHost, "beside.test");
    EXPECT_EQ(read.mailServer, "beside.test:2525");
    EXPECT_EQ(read.mirrors[0], "user.test");
    EXPECT_EQ(read.portalHost, defaults.portalHost);
    EXPECT_EQ(read.mirrors[1], defaults.mirrors[1]);

    // A named file that is missing, or a folder, leaves the layers below in force.
    const ScopedEnvironment missing("QUORVANE_CONFIG", scratch("none.ini").string());
    EXPECT_EQ(configurationFiles(scratch("program")), Files({beside, user}));
    const ScopedEnvironment folderNamed("QUORVANE_CONFIG", scratch("user").string());
    EXPECT_EQ(configurationFiles(scratch("program")), Files({beside, user}));
}

// The lines of settings files as people and other programs write them.
TEST_F(ConfigurationFileTest, ReadsTheLinesOfAnIniFile) {
    struct Row {
        const char* text;
        const char* settings;  // "key=value;" for each setting, in order
    };
    const Row rows[] = {
        {"[Mail]\nServer=a.test:25\n", "Mail/Server=a.test:25;"},
        {"\xEF\xBB\xBF[Mail]\r\nServer = a.test \r\n", "Mail/Server=a.test;"},
        {"[ Web ]\n; MakerHost=x\n# PortalHost=y\nMakerHost=m.test ; the maker\n",
         "Web/MakerHost=m.test;"},
        {"[Mail]\nServer=\"smtp; \\\"quoted\\\"\" ; after\n", "Mail/Server=smtp; \"quoted\";"},
        {"Top=1\n[General]\nAlso=2\n[Web]\nbroken line\n=novalue\nEmpty=\n",
         "Top=1;Also=2;Web/Empty=;"},
    };
    for (const Row& row : rows) {
        std::ostringstream settings;
        for (const auto& [key, value] : iniSettings(row.text)) {
            settings << key << '=' << value << ';';
        }
        EXPECT_EQ(settings.str(), row.settings) << row.text;
    }
    // Sections and keys in any letter case; the last line that sets a key wins.
    const fs::path file = ini("case.ini", "[mail]\nSERVER=one.test\n[MAIL]\nserver=two.test\n");
    EXPECT_EQ(loadConfiguration(Files{file}).mailServer, "two.test");
}

#ifdef _WIN32
// Without the folder's variable there is no user file, rather than a path relative to the
// working directory.
TEST_F(ConfigurationFileTest, NoRoamingFolderMeansNoUserFile) {
    const ScopedEnvironment noNamedFile("QUORVANE_CONFIG", "");
    const ScopedEnvironment folder("APPDATA", "");
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    ini("Quorvane/quorvane.ini", "[Web]\nMakerHost=x.test\n");
    EXPECT_EQ(configurationFiles(scratch("program")), Files());
    fs::current_path(previous);
}
#endif

// The shipped sample names every setting with its compiled default, commented out: with the
// comment marks taken off, it must read back as exactly the defaults and hold no unknown key.
TEST_F(ConfigurationFileTest, SampleFileShowsEveryDefaultAndChangesNothing) {
    const Configuration defaults;
    const std::string sample = testing::readFile(QUORVANE_SAMPLE_INI);
    ASSERT_FALSE(sample.empty()) << QUORVANE_SAMPLE_INI;
    EXPECT_TRUE(iniSettings(sample).empty()) << "as shipped, the sample is all comments";

    std::istringstream lines(sample);
    std::string text;
    for (std::string line; std::getline(lines, line);) {
        const bool setting = line.size() > 1 && line[0] == ';' && line[1] != ' ';
        text += (setting ? line.substr(1) : line) + '\n';
    }
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"Web/MakerHost", defaults.makerHost},   {"Web/VendorHost", defaults.vendorHost},
        {"Web/PortalHost", defaults.portalHost}, {"Mail/Server", defaults.mailServer},
        {"Mail/Mirror1", defaults.mirrors[0]},   {"Mail/Mirror2", defaults.mirrors[1]},
        {"Mail/Mirror3", defaults.mirrors[2]}};
    EXPECT_EQ(iniSettings(text), settings);
}

}  // namespace
}  // namespace quorvane::toolkit
