// Shortcuts in the Startup folders, read by their structure: what they run, and what the reader
// refuses.
#include <gtest/gtest.h>

#include <variant>

#include "diagnosis/shell_link.h"
#include "tests/diagnosis/prefix_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;
using Source = Finding::Source;

struct Shortcut {
    const char* what;
    bool unicode;
    std::size_t argumentsLength;
};
class Shortcuts : public PrefixDiagnosis, public ::testing::WithParamInterface<Shortcut> {};

// The registry editor imports a file of the working folder that sets restriction 7.
TEST_P(Shortcuts, AreReadByTheirStructure) {
    const std::string name(GetParam().argumentsLength - 7, 'a');
    place(driveC() / "lock" / (name + ".reg"),
          restrictionsRegFile("\"NoBrowserSaveAs\"=dword:00000001\r\n"));
    // The extension in any case.
    testing::writeFile(startup() / (GetParam().unicode ? "lock.LNK" : "lock.lnk"),
                       shellLink("C:\\Windows\\regedit.exe", "C:\\lock", "/s " + name + ".reg",
                                 GetParam().unicode));
    const Report report = diagnoseWith();
    ASSERT_EQ(report.returning.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.returning[0].restrictions, std::vector<int>{7}) << formatReport(report);
    EXPECT_EQ(report.returning[0].command, "C:\\Windows\\regedit.exe /s " + name + ".reg");
}

INSTANTIATE_TEST_SUITE_P(Links, Shortcuts,
                         ::testing::ValuesIn(std::vector<Shortcut>{{"ansi 10", false, 10},
                                                                   {"ansi 40", false, 40},
                                                                   {"ansi 200", false, 200},
                                                                   {"unicode 10", true, 10},
                                                                   {"unicode 40", true, 40},
                                                                   {"unicode 200", true, 200}}),
                         testing::CaseName());

// A shortcut cut short anywhere before its optional trailer, or with an offset past its link
// info, is refused, never read past its end.
TEST(ShellLinkReading, RefusesCutShortLinksAndOffsetsPastTheirPart) {
    for (bool unicode : {false, true}) {
        const std::string link = shellLink("C:\\x.exe", "C:\\", "/s a.reg", unicode);
        const auto whole = readShellLink(link);
        ASSERT_TRUE(whole) << whole.failure().reason;
        EXPECT_EQ(whole->commandLine(), "C:\\x.exe /s a.reg");
        for (std::size_t size = 0; size + 4 < link.size(); ++size) {
            EXPECT_FALSE(readShellLink(link.substr(0, size))) << size;
        }
        std::string wrong = link;
        // The offset of the local base path (UTF-16 in a Unicode link info) in the link info
        // after the header and the 24 bytes of the ID list.
        wrong[0x4C + 24 + (unicode ? 0x1C : 0x10)] = '\x7F';
        EXPECT_FALSE(readShellLink(wrong));
    }
}

// A shortcut without link info names its target in the environment-variables block, after any
// other block; its Unicode text is taken before the ANSI one.
TEST(ShellLinkReading, TakesTheTargetFromTheEnvironmentBlock) {
    std::string header = shellLink("C:\\x.exe", "", "", false).substr(0, 0x4C);
    header.replace(0x14, 4, little(0x20, 4));  // arguments only
    const auto link = [&](const std::string& ansi, const std::string& wide) {
        return header + little(8, 2) + "/s a.reg" + little(12, 4) + little(0xA0000003, 4) +
               little(0, 4) + little(0x314, 4) + little(0xA0000001, 4) + ansi +
               std::string(260 - ansi.size(), '\0') + wide + std::string(520 - wide.size(), '\0') +
               little(0, 4);
    };
    const auto wide =
        readShellLink(link("%windir%\\a.exe", utf16WithBom("%windir%\\b.exe").substr(2)));
    ASSERT_TRUE(wide) << wide.failure().reason;
    EXPECT_EQ(wide->commandLine(), "%windir%\\b.exe /s a.reg");
    EXPECT_EQ(readShellLink(link("%windir%\\a.exe", ""))->target, "%windir%\\a.exe");
}

}  // namespace
}  // namespace quorvane::diagnosis
