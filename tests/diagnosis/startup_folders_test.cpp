// Shortcuts in the Startup folders, read by their structure: what they run, and what the reader
// refuses.
#include <gtest/gtest.h>

#include "diagnosis/shell_link.h"
#include "tests/diagnosis/prefix_rig.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

// A shortcut is read by its structure, ANSI or Unicode, its counted strings short or long; cut
// short anywhere before its optional trailer, or with an offset past its link info, it is
// refused, never read past its end.
TEST(ShellLinkReading, ReadsWholeLinksAndRefusesCutShortOnesAndOffsetsPastTheirPart) {
    for (bool unicode : {false, true}) {
        for (std::size_t length : {3, 40, 300}) {
            SCOPED_TRACE(std::to_string(length) + (unicode ? " unicode" : " ansi"));
            const std::string arguments = "/s " + std::string(length - 3, 'a');
            const std::string link = shellLink("C:\\x.exe", "C:\\", arguments, unicode);
            const auto whole = readShellLink(link);
            ASSERT_TRUE(whole) << whole.failure().reason;
            EXPECT_EQ(whole->commandLine(), "C:\\x.exe " + arguments);
            EXPECT_EQ(whole->workingFolder, "C:\\");
            for (std::size_t size = 0; size + 4 < link.size(); ++size) {
                EXPECT_FALSE(readShellLink(link.substr(0, size))) << size;
            }
        }
        std::string wrong = shellLink("C:\\x.exe", "C:\\", "/s a.reg", unicode);
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
