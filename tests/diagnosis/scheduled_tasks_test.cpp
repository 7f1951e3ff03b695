// The scheduled tasks' reader: each Exec action of an enabled task, named as the Task Scheduler
// names the task.
#include <gtest/gtest.h>

#include "tests/diagnosis/prefix_rig.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

class ScheduledTasksReader : public PrefixDiagnosis {};

TEST_F(ScheduledTasksReader, ReadsEachActionOfEnabledTasks) {
    const auto task = [](const std::string& settings, const std::string& actions) {
        return utf16WithBom(
            "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\">" + settings +
            "<Actions>" + actions + "</Actions></Task>");
    };
    const std::string relock =
        "<Exec><Command>reg</Command><Arguments>add "
        "\"HKCU\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions\" /v NoPrinting "
        "/d 1 /f</Arguments></Exec>";
    // A trigger of its own may be disabled; the task still runs by the others.
    place(system32() / "Tasks" / "Vendor" / "Relock",
          task("<Triggers><BootTrigger><Enabled>false</Enabled></BootTrigger><LogonTrigger/>"
               "</Triggers>",
               relock + "<Exec><Command>tray.exe</Command><Arguments>/x</Exec>"));
    place(system32() / "Tasks" / "Off",
          task("<Settings><Enabled>false</Enabled></Settings>", relock));
    const Findings found = readWith(readScheduledTasks);
    ASSERT_EQ(found.setting.size(), 1u);
    EXPECT_EQ(found.setting[0].item, "\\Vendor\\Relock");
    EXPECT_EQ(found.setting[0].command, testing::relock("NoPrinting"));
    EXPECT_EQ(found.setting[0].restrictions, std::vector<int>{14});
    ASSERT_EQ(found.others.size(), 1u);
    EXPECT_EQ(found.others[0].command, "tray.exe") << "an element without its end tag is empty";
}

}  // namespace
}  // namespace quorvane::diagnosis
