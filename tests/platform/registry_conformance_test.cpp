// What callers of RegistryApi rely on, checked the same way against every implementation: the
// Win32 run under Wine shows what Windows does, the native run that the hive store and an offline
// installation's binary hives do the same.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/registry_target.h"

namespace quorvane::testing {
namespace {

using namespace quorvane::platform;

// Every key-specific right and none of the standard ones: enough to change values.
constexpr std::uint32_t kKeySpecificRights = 0x3F;
constexpr Status kBadPathname = 161;

// Below Software\Quorvane, which the Win32 target clears before and after each test.
std::string scratch(const std::string& subKey) {
    return "Software\\Quorvane\\Conformance\\" + subKey;
}

class RegistryConformance : public ::testing::TestWithParam<RegistryKind> {
protected:
    void TearDown() override {
        for (KeyHandle key : opened_) {
            registry_.closeKey(key);
        }
    }

    KeyHandle create(KeyHandle parent, const std::string& subKey) {
        KeyHandle key = 0;
        EXPECT_EQ(registry_.createKey(parent, subKey, key), kSuccess) << subKey;
        opened_.push_back(key);
        return key;
    }

    KeyHandle open(KeyHandle parent, const std::string& subKey, std::uint32_t access = kKeyRead) {
        KeyHandle key = 0;
        EXPECT_EQ(registry_.openKey(parent, subKey, access, key), kSuccess) << subKey;
        opened_.push_back(key);
        return key;
    }

    Status tryOpen(KeyHandle parent, const std::string& subKey) {
        KeyHandle key = 0;
        const Status status = registry_.openKey(parent, subKey, kKeyRead, key);
        if (status == kSuccess) {
            registry_.closeKey(key);
        }
        return status;
    }

    void setText(KeyHandle key, const std::string& name, const std::string& text) {
        EXPECT_EQ(set(registry_, key, name, sz(text)), kSuccess) << name;
    }
    // The value, or its status when there is none.
    Read value(KeyHandle key, const std::string& name) { return read(registry_, key, name); }
    Stored text(KeyHandle key, const std::string& name) { return value(key, name).value; }

    std::unique_ptr<RegistryTarget> target_ = GetParam().make();
    RegistryApi& registry_ = target_->registry();
    std::vector<KeyHandle> opened_;
};

TEST_P(RegistryConformance, CreateKeyMakesMissingParentsAndKeepsWhatExists) {
    setText(create(kLocalMachine, scratch("A\\B\\C")), "Kept", "yes");
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("A")), kSuccess);
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("A\\B")), kSuccess);

    KeyHandle again = create(kLocalMachine, scratch("A\\B\\C"));
    create(kLocalMachine, scratch("A"));
    EXPECT_EQ(text(again, "Kept"), sz("yes"));
}

TEST_P(RegistryConformance, NamesCompareWithoutRegardToCase) {
    KeyHandle key = create(kCurrentUser, scratch("Abc"));
    setText(key, "Name", "first");
    EXPECT_EQ(text(open(kCurrentUser, "SOFTWARE\\quorvane\\CONFORMANCE\\aBC"), "NAME"),
              sz("first"));

    // Both the key and the value are the ones already there, not new ones beside them.
    setText(create(kCurrentUser, "software\\QUORVANE\\conformance\\ABC"), "NAME", "second");
    EXPECT_EQ(text(key, "name"), sz("second"));
    EXPECT_EQ(registry_.deleteValue(key, "nAmE"), kSuccess);
    EXPECT_EQ(value(key, "Name").status, kFileNotFound);

    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("ABC")), kSuccess);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Abc")), kFileNotFound);
}

// An empty sub-key opens the key itself; doubled separators count as one and a trailing one is
// ignored; a leading one is refused.
TEST_P(RegistryConformance, SubKeyPathsAreSplitAsWindowsDoes) {
    KeyHandle key = create(kCurrentUser, scratch("Outer\\\\Inner\\"));
    setText(key, "Depth", "two");
    EXPECT_EQ(text(open(key, ""), "Depth"), sz("two"));
    EXPECT_EQ(text(open(open(kCurrentUser, ""), scratch("Outer\\Inner")), "Depth"), sz("two"));
    EXPECT_EQ(text(open(kCurrentUser, scratch("OUTER\\\\INNER\\")), "Depth"), sz("two"));
    // Built with append: GCC 12 warns falsely (-Wrestrict) about "\\" + std::string.
    EXPECT_EQ(tryOpen(kCurrentUser, std::string(1, '\\').append(scratch("Outer"))), kBadPathname);
}

TEST_P(RegistryConformance, MissingKeysAndValuesAreNotFound) {
    KeyHandle key = create(kCurrentUser, scratch("Present"));
    setText(key, "Other", "value");

    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Absent")), kFileNotFound);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Absent\\Child")), kFileNotFound);
    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("Absent")), kFileNotFound);
    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("Absent\\Child")), kFileNotFound);
    EXPECT_EQ(value(key, "Absent").status, kFileNotFound);
    EXPECT_EQ(value(key, "").status, kFileNotFound);
    EXPECT_EQ(registry_.deleteValue(key, "Absent"), kFileNotFound);
}

TEST_P(RegistryConformance, KeyWithSubKeysIsNotDeleted) {
    create(kLocalMachine, scratch("Tree\\Leaf"));
    KeyHandle tree = open(kLocalMachine, scratch("Tree"), kKeyAllAccess);
    setText(tree, "Stays", "here");

    EXPECT_EQ(registry_.deleteKey(kLocalMachine, scratch("Tree")), kAccessDenied);
    EXPECT_EQ(text(open(kLocalMachine, scratch("Tree")), "Stays"), sz("here"));
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("Tree\\Leaf")), kSuccess);

    EXPECT_EQ(registry_.deleteKey(tree, "Leaf"), kSuccess);
    EXPECT_EQ(registry_.deleteKey(kLocalMachine, scratch("Tree")), kSuccess);
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("Tree")), kFileNotFound);
}

TEST_P(RegistryConformance, ReadAccessCannotChangeValues) {
    setText(create(kCurrentUser, scratch("Guarded")), "Value", "original");
    KeyHandle readOnly = open(kCurrentUser, scratch("Guarded"));

    EXPECT_EQ(set(registry_, readOnly, "Value", sz("changed")), kAccessDenied);
    EXPECT_EQ(set(registry_, readOnly, "New", sz("changed")), kAccessDenied);
    EXPECT_EQ(registry_.deleteValue(readOnly, "Value"), kAccessDenied);
    EXPECT_EQ(text(readOnly, "Value"), sz("original"));
    EXPECT_EQ(value(readOnly, "New").status, kFileNotFound);

    KeyHandle writable = open(kCurrentUser, scratch("Guarded"), kKeySpecificRights);
    EXPECT_EQ(registry_.deleteValue(writable, "Value"), kSuccess);
    EXPECT_EQ(value(readOnly, "Value").status, kFileNotFound);
}

TEST_P(RegistryConformance, QueryReportsTheSizeItNeeds) {
    KeyHandle key = create(kCurrentUser, scratch("Sizes"));
    setText(key, "Text", "hello");
    EXPECT_EQ(set(registry_, key, "Blob", {kRegBinary, "\1\2\3\4\5\6\7\x08"}), kSuccess);

    for (const auto& [name, needed] : {std::pair{"Text", 6u}, std::pair{"Blob", 8u}}) {
        SCOPED_TRACE(name);
        std::uint32_t size = 0;
        EXPECT_EQ(registry_.queryValue(key, name, nullptr, nullptr, &size), kSuccess);
        EXPECT_EQ(size, needed);

        std::array<std::uint8_t, 5> buffer;
        buffer.fill(0xCC);
        const auto untouched = buffer;
        size = static_cast<std::uint32_t>(buffer.size());
        EXPECT_EQ(registry_.queryValue(key, name, nullptr, buffer.data(), &size), kMoreData);
        EXPECT_EQ(size, needed);
        EXPECT_EQ(buffer, untouched);
    }

    std::array<std::uint8_t, 6> exact{};
    std::uint32_t size = static_cast<std::uint32_t>(exact.size());
    EXPECT_EQ(registry_.queryValue(key, "Text", nullptr, exact.data(), &size), kSuccess);
    EXPECT_EQ(std::memcmp(exact.data(), "hello", 6), 0);
}

TEST_P(RegistryConformance, ValuesComeBackWithTheirTypeAndBytes) {
    KeyHandle key = create(kCurrentUser, scratch("Values"));
    const std::string awkward = "C:\\Program Files\\Quorvane \"beta\" \\\\server\\share\\ end";
    const std::pair<std::string, Stored> values[] = {
        {"Empty", sz("")},
        {"Awkward \"name\" \\", sz(awkward)},
        {"Expand", {kRegExpandSz, std::string("%P%", 4)}},
        {"Zero", dword(0)},
        {"One", dword(1)},
        {"Mixed", dword(0x12345678)},
        {"AllOnes", dword(0xFFFFFFFF)},
        {"Qword", {kRegQword, "\xEF\xCD\xAB\x89\x67\x45\x23\x01"}},
        {"Binary", {kRegBinary, std::string("\x00\xFF\x10\x00\x7F\x80\x01\x00", 8)}},
    };
    for (const auto& [name, data] : values) {
        EXPECT_EQ(set(registry_, key, name, data), kSuccess) << name;
    }
    for (const auto& [name, data] : values) {
        EXPECT_EQ(text(key, name), data) << name;
    }
    // The count leaves out the NUL that follows the text; it is stored all the same.
    const auto* hello = reinterpret_cast<const std::uint8_t*>("hello");
    for (std::uint32_t type : {kRegSz, kRegExpandSz}) {
        EXPECT_EQ(registry_.setValue(key, "Uncounted", type, hello, 5), kSuccess);
        EXPECT_EQ(text(key, "Uncounted"), (Stored{type, std::string("hello", 6)})) << type;
    }
}

TEST_P(RegistryConformance, ClosedAndUnknownHandlesAreInvalid) {
    KeyHandle key = 0;
    ASSERT_EQ(registry_.createKey(kCurrentUser, scratch("Closed"), key), kSuccess);
    ASSERT_EQ(registry_.closeKey(key), kSuccess);

    KeyHandle unused = 0;
    EXPECT_EQ(value(key, "Any").status, kInvalidHandle);
    EXPECT_EQ(set(registry_, key, "Any", sz("x")), kInvalidHandle);
    EXPECT_EQ(registry_.deleteValue(key, "Any"), kInvalidHandle);
    EXPECT_EQ(registry_.openKey(key, "", kKeyRead, unused), kInvalidHandle);
    EXPECT_EQ(registry_.closeKey(key), kInvalidHandle);

    constexpr KeyHandle kUnknown = 0x7FFF0000;
    EXPECT_EQ(value(kUnknown, "Any").status, kInvalidHandle);
    EXPECT_EQ(registry_.closeKey(kUnknown), kInvalidHandle);

    // Roots are never really closed.
    EXPECT_EQ(registry_.closeKey(kCurrentUser), kSuccess);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Closed")), kSuccess);
}

TEST_P(RegistryConformance, HandleToADeletedKeyReportsIt) {
    KeyHandle stale = create(kCurrentUser, scratch("Gone"));
    ASSERT_EQ(registry_.deleteKey(kCurrentUser, scratch("Gone")), kSuccess);

    KeyHandle unused = 0;
    EXPECT_EQ(set(registry_, stale, "Any", sz("x")), kKeyDeleted);
    EXPECT_EQ(value(stale, "Any").status, kKeyDeleted);
    EXPECT_EQ(registry_.openKey(stale, "", kKeyRead, unused), kKeyDeleted);
    // Must not bring the deleted key back as the parent of a new one.
    EXPECT_EQ(registry_.createKey(stale, "Child", unused), kKeyDeleted);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Gone")), kFileNotFound);
}

TEST_P(RegistryConformance, WritesInABatchAreSeenAtOnce) {
    BatchScope batch(registry_);
    setText(create(kCurrentUser, scratch("Batch\\Inner")), "Pending", "value");
    EXPECT_EQ(text(open(kCurrentUser, scratch("Batch\\Inner")), "Pending"), sz("value"));
    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("Batch")), kAccessDenied);

    EXPECT_TRUE(batch.finish().empty());
    EXPECT_EQ(text(open(kCurrentUser, scratch("Batch\\Inner")), "Pending"), sz("value"));
}

// Enumeration gives every sub-key and value once, by index, and the values as a query gives them.
TEST_P(RegistryConformance, EnumerationListsEverySubKeyAndValue) {
    KeyHandle key = create(kCurrentUser, scratch("Listed"));
    for (const char* child : {"Beta", "alpha", "Gamma"}) {
        create(key, child);
    }
    const std::map<std::string, Stored> values = {
        {"", sz("default")},
        {"Text", sz("words")},
        {"Flag", dword(7)},
        {"Blob", {kRegBinary, std::string("\0\1\xFF", 3)}},
        {"Path", {kRegExpandSz, std::string("%T%", 4)}},
    };
    for (const auto& [name, data] : values) {
        ASSERT_EQ(set(registry_, key, name, data), kSuccess) << name;
    }

    KeyHandle reader = open(kCurrentUser, scratch("Listed"));
    std::set<std::string> children;
    std::string name;
    std::uint32_t index = 0;
    while (registry_.enumKey(reader, index, name) == kSuccess) {
        children.insert(name);
        ++index;
    }
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(children, (std::set<std::string>{"Beta", "alpha", "Gamma"}));
    EXPECT_EQ(registry_.enumKey(reader, 3, name), kNoMoreItems);

    std::map<std::string, Stored> listed;
    Stored data;
    for (index = 0; registry_.enumValue(reader, index, name, data.type, data.bytes) == kSuccess;
         ++index) {
        listed[name] = data;
    }
    EXPECT_EQ(index, values.size());
    EXPECT_EQ(listed, values);
    EXPECT_EQ(registry_.enumValue(reader, index, name, data.type, data.bytes), kNoMoreItems);
    // A change through another handle shows in the next enumeration of this one.
    ASSERT_EQ(registry_.deleteValue(key, "Flag"), kSuccess);
    ASSERT_EQ(set(registry_, key, "Zeta", dword(9)), kSuccess);
    ASSERT_EQ(set(registry_, key, "Text", sz("other")), kSuccess);
    std::map<std::string, Stored> relisted;
    for (index = 0; registry_.enumValue(reader, index, name, data.type, data.bytes) == kSuccess;
         ++index) {
        relisted[name] = data;
    }
    std::map<std::string, Stored> changed = values;
    changed.erase("Flag");
    changed["Zeta"] = dword(9);
    changed["Text"] = sz("other");
    EXPECT_EQ(relisted, changed);

    KeyHandle leaf = open(key, "alpha");
    EXPECT_EQ(registry_.enumKey(leaf, 0, name), kNoMoreItems);
    EXPECT_EQ(registry_.enumValue(leaf, 0, name, data.type, data.bytes), kNoMoreItems);
}

TEST_P(RegistryConformance, EnumerationNeedsItsRights) {
    KeyHandle key = create(kCurrentUser, scratch("Rights\\Child"));
    setText(key, "Value", "x");
    KeyHandle setOnly = open(kCurrentUser, scratch("Rights"), kKeySetValue);
    KeyHandle queryOnly = open(kCurrentUser, scratch("Rights\\Child"), kKeyQueryValue);

    std::string name;
    std::uint32_t type = 0;
    std::string data;
    EXPECT_EQ(registry_.enumKey(setOnly, 0, name), kAccessDenied);
    EXPECT_EQ(registry_.enumValue(setOnly, 0, name, type, data), kAccessDenied);
    EXPECT_EQ(registry_.enumKey(queryOnly, 0, name), kAccessDenied);
    EXPECT_EQ(registry_.enumValue(queryOnly, 0, name, type, data), kSuccess);
    EXPECT_EQ(name, "Value");
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryConformance, ::testing::ValuesIn(registryKinds()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvane::testing
