// The policy files' reader: a record counts when it stores a restriction's value, named exactly
// as the restriction's value (in any letter case), with data that puts it in force. Which key
// views and data put a restriction in force is the rule every reader shares, held in the command
// table and the imported registry files' table.
#include <gtest/gtest.h>

#include "tests/diagnosis/prefix_rig.h"
#include "tests/support/contains.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

TEST_F(PrefixDiagnosis, PolicyFilesCountRecordsThatPutARestrictionInForce) {
    const struct {
        const char* what;
        std::u16string key;
        std::u16string value;
        std::vector<int> restrictions;
        std::uint32_t data = 1;
    } cases[] = {
        {"exact name", kToolbars, u"NoToolBar", {21}},
        {"any letter case", kToolbars, u"notoolbar", {21}},
        {"unless present", kToolbars, u"**soft.NoToolBar", {21}},
        {"key with empty names", u"\\" + kToolbars + u"\\", u"NoToolBar", {21}},
        {"name ends the word", kToolbars, u"NoToolbarOptions", {19}},
        {"name starts the word", kToolbars, u"XNoToolBar", {}},
        {"deletion", kToolbars, u"**del.NoToolBar", {}},
        {"zero", kToolbars, u"NoToolBar", {}, 0},
        {"other key", kRestrictions, u"NoToolBar", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        place(system32() / "GroupPolicy" / "Machine" / "Registry.pol",
              writePolicyFile({{c.key, c.value, 4, formats::dwordBytes(c.data)}}));
        const Findings found = readWith(readPolicyFiles);
        ASSERT_EQ(found.setting.size(), c.restrictions.empty() ? 0u : 1u);
        if (!c.restrictions.empty()) {
            EXPECT_EQ(found.setting[0].restrictions, c.restrictions);
            EXPECT_TRUE(
                testing::contains(found.setting[0].command, "= 1 in HKEY_LOCAL_MACHINE\\Software"))
                << found.setting[0].command;
        }
    }
}

}  // namespace
}  // namespace quorvane::diagnosis
