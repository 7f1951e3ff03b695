// The domain marks' reader: policy objects linked from a directory, not the local ones.
#include <gtest/gtest.h>

#include "tests/diagnosis/prefix_rig.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

class DomainMarksReader : public PrefixDiagnosis {};

TEST_F(DomainMarksReader, FindsPolicyObjectsLinkedFromADirectoryOnly) {
    const std::string history =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\{35378EAC}\\";
    putText(platform::kLocalMachine, history + "0", "Link", "LDAP://CN=Policies,DC=corp");
    putText(platform::kLocalMachine, history + "0", "DisplayName", "Default Domain Policy");
    putText(platform::kLocalMachine, history + "1", "Link", "Local");
    putText(platform::kCurrentUser, history + "2", "Link", "ldap://CN=User");
    const Findings found = readWith(readDomainMarks);
    ASSERT_EQ(found.setting.size(), 2u);
    EXPECT_EQ(found.setting[0].item, "Default Domain Policy");
    EXPECT_EQ(found.setting[1].item, "(unnamed policy object)");
    EXPECT_EQ(found.setting[1].command, "applied by a domain from ldap://CN=User");
    // A domain's policy may set any restriction.
    EXPECT_TRUE(found.setting[1].restrictions.empty());
}

}  // namespace
}  // namespace quorvane::diagnosis
