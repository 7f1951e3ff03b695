// Quorvane's Registry.pol reader and writer against an independent writer in Python
// (preg_peer.py): every record form the peer writes is read as it is meant, and written back
// byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "diagnosis/policy_file.h"
#include "tests/support/temp_dir.h"

namespace quorvane::diagnosis {
namespace {

using Action = PolicyEffect::Action;

int runPeer(const std::string& arguments) {
    const std::string command = "python3 " QUORVANE_PREG_PEER " " + arguments;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PolicyFilePeer, ReadsEveryRecordFormThePeerWrites) {
    testing::TempDir dir;
    const auto file = dir.path() / "peer.pol";
    ASSERT_EQ(runPeer(file.string()), 0);
    const PolicyFile read = readPolicyFile(testing::readFile(file));
    ASSERT_FALSE(read.damage) << *read.damage;
    ASSERT_EQ(read.records.size(), 10u);

    const std::pair<Action, std::vector<std::u16string>> expected[] = {
        {Action::SetValue, {u"DisableRegistryTools"}},
        {Action::SetValue, {u"Window Title"}},
        {Action::DeleteValue, {u"NoViewSource"}},
        {Action::DeleteAllValues, {}},
        {Action::DeleteValues, {u"NoPrinting", u"NoFileNew"}},
        {Action::DeleteKeys, {u"Old", u"Older"}},
        {Action::SetIfAbsent, {u"NoFavorites"}},
        {Action::Other, {}},
        {Action::CreateKey, {}},
        {Action::SetValue, {u"Blob"}},
    };
    for (std::size_t i = 0; i < read.records.size(); ++i) {
        const PolicyEffect effect = effectOf(read.records[i]);
        EXPECT_EQ(effect.action, expected[i].first) << i;
        EXPECT_EQ(effect.names, expected[i].second) << i;
    }
    EXPECT_EQ(recordText(read.records[1]), u"Grüße Ωmega");
    EXPECT_EQ(read.records[9].data, std::string("\0\x5B\0\x5D\0\x3B\0\xFF", 8));
    // Written again by Quorvane, the file is the peer's byte for byte.
    EXPECT_EQ(writePolicyFile(read.records), testing::readFile(file));
}

// What the reader does with files it must not trust: each damage stops it at the record it
// spoils, keeps the records before, and says where. (A file cut anywhere, and one of no records:
// policy_file_property_test.cpp; a record whose size runs past the end: diagnosis_test.cpp.)
TEST(DamagedPolicyFile, StopsTheReaderAtTheRecordItSpoils) {
    const std::string one = writePolicyFile({{u"K", u"V", 4, std::string("\1\0\0\0", 4)}});
    const std::string record = one.substr(8);
    // Two records, the second with its byte at `fromEnd` (counted from the end) replaced.
    const auto twoRecordsWith = [&](std::size_t fromEnd, char byte) {
        std::string bytes = one + record;
        bytes[bytes.size() - fromEnd] = byte;
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
        std::size_t records;
        const char* damage;
    } cases[] = {
        {"not a policy file", "Windows Registry Editor", 0, "does not begin with \"PReg\""},
        {"empty", "", 0, "does not begin"},
        {"other version", std::string("PReg\2\0\0\0", 8) + record, 0, "version 2"},
        {"no closing bracket", twoRecordsWith(2, ')'), 1, "no ']'"},
        {"key without NUL", one + std::string("[\0K\0", 4), 1, "key name"},
        {"odd byte at the end", one + "x", 1, "no '['"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PolicyFile file = readPolicyFile(c.bytes);
        EXPECT_EQ(file.records.size(), c.records);
        ASSERT_TRUE(file.damage);
        EXPECT_NE(file.damage->find(c.damage), std::string::npos) << *file.damage;
    }
}

}  // namespace
}  // namespace quorvane::diagnosis
