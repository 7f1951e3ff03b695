// What holds for every Registry.pol file: any records written read back as they were, and a file
// cut anywhere keeps the records before the cut and names the damage; every record form an
// independent writer in Python (preg_peer.py) writes is read as it is meant, and written back byte
// for byte; damage stops the reader where it is. With QUORVANE_PREG_BY_SAMBA, instead: Samba's
// parser (samba.dcerpc.preg), the independent reader, reads drawn files and packs them again byte
// for byte.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include "diagnosis/policy_file.h"
#include "formats/little_endian.h"
#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "tests/support/temp_dir.h"

namespace quorvane::diagnosis {

void showValue(const PolicyRecord& record, std::ostream& out) {
    out << "[" << formats::utf16ToUtf8(record.key) << ";" << formats::utf16ToUtf8(record.value)
        << ";" << record.type << ";" << rc::toString(record.data) << "]";
}

namespace {

// Names end in a NUL in the file, so they hold none; anything else goes, "[", ";" and "]"
// among it.
rc::Gen<std::u16string> name() {
    return rc::gen::container<std::u16string>(rc::gen::oneOf(
        rc::gen::elementOf(std::u16string(u"[];\\* ")), rc::gen::inRange<char16_t>(1, 0xFFFF)));
}

#ifndef QUORVANE_PREG_BY_SAMBA

rc::Gen<PolicyRecord> record() {
    return rc::gen::build<PolicyRecord>(
        rc::gen::set(&PolicyRecord::key, name()), rc::gen::set(&PolicyRecord::value, name()),
        rc::gen::set(&PolicyRecord::type,
                     rc::gen::elementOf(std::vector<std::uint32_t>{0, 1, 3, 4})),
        rc::gen::set(&PolicyRecord::data, rc::gen::arbitrary<std::string>()));
}

// Whole, the file reads back as written, without damage.
RC_GTEST_PROP(PolicyFile, ReadsBackWhatWasWrittenAndACutFileKeepsTheRecordsBeforeTheCut, ()) {
    const auto records = *rc::gen::container<std::vector<PolicyRecord>>(record());
    const std::string bytes = writePolicyFile(records);
    const PolicyFile all = readPolicyFile(bytes);
    RC_ASSERT(!all.damage && all.records == records);
    const std::size_t cut = *rc::gen::inRange<std::size_t>(8, bytes.size() + 1);
    // Where each record ends: the records that end before the cut are whole, and a cut
    // elsewhere than at such an end is damage.
    std::vector<PolicyRecord> whole;
    bool atAnEnd = cut == 8;
    for (std::size_t end = 8; const PolicyRecord& each : records) {
        end += writePolicyFile({each}).size() - 8;
        if (end <= cut) {
            whole.push_back(each);
        }
        atAnEnd = atAnEnd || end == cut;
    }
    const PolicyFile read = readPolicyFile(bytes.substr(0, cut));
    RC_ASSERT(read.records == whole);
    RC_ASSERT(read.damage.has_value() == !atAnEnd);
}

using Action = PolicyEffect::Action;

TEST(PolicyFilePeer, ReadsEveryRecordFormThePeerWrites) {
    testing::TempDir dir;
    const auto file = dir.path() / "peer.pol";
    const int status = std::system(("python3 " QUORVANE_PREG_PEER " " + file.string()).c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
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
// the properties above; a record whose size runs past the end: diagnosis_test.cpp.)
TEST(DamagedPolicyFile, StopsTheReaderAtTheRecordItSpoils) {
    const std::string one = writePolicyFile({{u"K", u"V", 4, std::string("\1\0\0\0", 4)}});
    const std::string record = one.substr(8);
    // Two records, the second's closing bracket replaced.
    std::string unclosed = one + record;
    unclosed[unclosed.size() - 2] = ')';
    const struct {
        const char* what;
        std::string bytes;
        std::size_t records;
        const char* damage;
    } cases[] = {
        {"not a policy file", "Windows Registry Editor", 0, "does not begin with \"PReg\""},
        {"empty", "", 0, "does not begin"},
        {"other version", std::string("PReg\2\0\0\0", 8) + record, 0, "version 2"},
        {"no closing bracket", unclosed, 1, "no ']'"},
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

#else

// Samba reads names and texts as text, in which no surrogate stands alone; it reads the data of
// each type by its kind: texts as UTF-16 ending in NUL, numbers of four bytes, binary data as it
// is.
rc::Gen<std::u16string> text() {
    return rc::gen::map(name(), [](std::u16string text) {
        std::replace_if(
            text.begin(), text.end(),
            [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }, u'?');
        return text;
    });
}

RC_GTEST_PROP(PolicyFile, SambasParserReadsDrawnFilesAsWritten, ()) {
    const auto records = *rc::gen::container<std::vector<PolicyRecord>>(rc::gen::exec([] {
        PolicyRecord each{*text(), *text(),
                          *rc::gen::elementOf(std::vector<std::uint32_t>{0, 1, 3, 4}),
                          *rc::gen::arbitrary<std::string>()};
        each.data = each.type == 1   ? formats::registryString(*text())
                    : each.type == 4 ? formats::dwordBytes(*rc::gen::arbitrary<std::uint32_t>())
                    : each.type == 0 ? ""
                                     : each.data;
        return each;
    }));
    testing::TempDir dir;
    const std::string bytes = writePolicyFile(records);
    testing::writeFile(dir.path() / "in.pol", bytes);
    const std::string command =
        "/usr/bin/python3 -c 'import sys; from samba.dcerpc import preg; from samba.ndr import "
        "ndr_pack, "
        "ndr_unpack; open(sys.argv[2], \"wb\").write(ndr_pack(ndr_unpack(preg.file, "
        "open(sys.argv[1], \"rb\").read())))' '" +
        (dir.path() / "in.pol").string() + "' '" + (dir.path() / "out.pol").string() + "'";
    const int status = std::system(command.c_str());
    RC_ASSERT(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    RC_ASSERT(testing::readFile(dir.path() / "out.pol") == bytes);
}

#endif

}  // namespace
}  // namespace quorvane::diagnosis
