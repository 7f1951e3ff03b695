// The policy files' reader: a record counts when it stores a restriction's value, named exactly
// as the restriction's value (in any letter case), with data that puts it in force. Which key
// views and data put a restriction in force is the rule every reader shares, held in the command
// table and the imported registry files' table.
#include <gtest/gtest.h>

#include "tests/diagnosis/prefix_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

struct Record {
    const char* what;
    std::u16string key;
    std::u16string value;
    std::uint32_t data;
    std::vector<int> restrictions;
};
class PolicyFilesReader : public PrefixDiagnosis, public ::testing::WithParamInterface<Record> {};

TEST_P(PolicyFilesReader, CountRecordsThatPutARestrictionInForce) {
    place(system32() / "GroupPolicy" / "Machine" / "Registry.pol",
          writePolicyFile(
              {{GetParam().key, GetParam().value, 4, formats::dwordBytes(GetParam().data)}}));
    const Findings found = readWith(readPolicyFiles);
    if (GetParam().restrictions.empty()) {
        EXPECT_TRUE(found.setting.empty());
        return;
    }
    ASSERT_EQ(found.setting.size(), 1u);
    EXPECT_EQ(found.setting[0].restrictions, GetParam().restrictions);
    EXPECT_TRUE(testing::contains(found.setting[0].command, "= 1 in HKEY_LOCAL_MACHINE\\Software"))
        << found.setting[0].command;
}

const std::u16string kToolbars =
    u"Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars\\Restrictions";

INSTANTIATE_TEST_SUITE_P(
    Records, PolicyFilesReader,
    ::testing::ValuesIn(std::vector<Record>{
        {"exact name", kToolbars, u"NoToolBar", 1, {21}},
        {"any letter case", kToolbars, u"notoolbar", 1, {21}},
        {"unless present", kToolbars, u"**soft.NoToolBar", 1, {21}},
        {"key with empty names", u"\\" + kToolbars + u"\\", u"NoToolBar", 1, {21}},
        {"name ends the word", kToolbars, u"NoToolbarOptions", 1, {19}},
        {"name starts the word", kToolbars, u"XNoToolBar", 1, {}},
        {"deletion", kToolbars, u"**del.NoToolBar", 1, {}},
        {"other key",
         u"Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions",
         u"NoToolBar",
         1,
         {}},
    }),
    testing::CaseName());

}  // namespace
}  // namespace quorvane::diagnosis
