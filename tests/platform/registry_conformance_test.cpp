// What callers of RegistryApi rely on, checked the same way against every implementation: the
// Win32 run under Wine shows what Windows does, the native run that the hive store does the same.
#include "tests/platform/registry_conformance.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace quorvane::testing {
namespace {

using namespace quorvane::platform;

// Every key-specific right and none of the standard ones: enough to change values.
constexpr std::uint32_t kKeySpecificRights = 0x3F;
constexpr Status kBadPathname = 161;

std::vector<std::uint8_t> withNul(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

const std::uint8_t* bytesOf(const char* text) {
    return reinterpret_cast<const std::uint8_t*>(text);
}

std::string scratch(const std::string& subKey) {
    return std::string(kConformanceKey) + "\\" + subKey;
}

struct Read {
    Status status = -1;
    std::uint32_t type = 0xFFFF;
    std::vector<std::uint8_t> data;
};

class RegistryConformance : public ::testing::Test {
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

    KeyHandle open(KeyHandle parent, const std::string& subKey, std::uint32_t access) {
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

    void set(KeyHandle key, const std::string& name, std::uint32_t type,
             const std::vector<std::uint8_t>& data) {
        EXPECT_EQ(registry_.setValue(key, name, type, data.data(),
                                     static_cast<std::uint32_t>(data.size())),
                  kSuccess)
            << name;
    }

    void setString(KeyHandle key, const std::string& name, const std::string& text) {
        set(key, name, kRegSz, withNul(text));
    }

    Read read(KeyHandle key, const std::string& name) {
        Read result;
        std::vector<std::uint8_t> buffer(512);
        auto size = static_cast<std::uint32_t>(buffer.size());
        result.status = registry_.queryValue(key, name, &result.type, buffer.data(), &size);
        if (result.status == kSuccess) {
            buffer.resize(size);
            result.data = buffer;
        }
        return result;
    }

    std::unique_ptr<ConformanceTarget> target_ = makeConformanceTarget();
    RegistryApi& registry_ = target_->registry();
    std::vector<KeyHandle> opened_;
};

TEST_F(RegistryConformance, CreateKeyMakesMissingParentsAndKeepsWhatExists) {
    KeyHandle leaf = create(kLocalMachine, scratch("A\\B\\C"));
    setString(leaf, "Kept", "yes");
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("A")), kSuccess);
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("A\\B")), kSuccess);

    KeyHandle again = create(kLocalMachine, scratch("A\\B\\C"));
    create(kLocalMachine, scratch("A"));
    EXPECT_EQ(read(again, "Kept").data, withNul("yes"));
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("A\\B\\C")), kSuccess);
}

TEST_F(RegistryConformance, NamesCompareWithoutRegardToCase) {
    KeyHandle key = create(kCurrentUser, scratch("Abc"));
    setString(key, "Name", "first");

    KeyHandle reopened = open(kCurrentUser, "SOFTWARE\\quorvaneconformance\\aBC", kKeyRead);
    EXPECT_EQ(read(reopened, "NAME").data, withNul("first"));

    // Both the key and the value are the ones already there, not new ones beside them.
    KeyHandle recreated = create(kCurrentUser, "software\\QUORVANECONFORMANCE\\ABC");
    setString(recreated, "NAME", "second");
    EXPECT_EQ(read(key, "name").data, withNul("second"));
    EXPECT_EQ(registry_.deleteValue(key, "nAmE"), kSuccess);
    EXPECT_EQ(read(key, "Name").status, kFileNotFound);

    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("ABC")), kSuccess);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Abc")), kFileNotFound);
}

TEST_F(RegistryConformance, EmptySubKeyOpensTheKeyItself) {
    KeyHandle key = create(kCurrentUser, scratch("Parent"));
    setString(key, "Here", "parent");
    EXPECT_EQ(read(open(key, "", kKeyRead), "Here").data, withNul("parent"));

    KeyHandle root = open(kCurrentUser, "", kKeyRead);
    EXPECT_EQ(read(open(root, scratch("Parent"), kKeyRead), "Here").data, withNul("parent"));
}

TEST_F(RegistryConformance, MissingKeysAndValuesAreNotFound) {
    KeyHandle key = create(kCurrentUser, scratch("Present"));
    setString(key, "Other", "value");

    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Absent")), kFileNotFound);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Absent\\Child")), kFileNotFound);
    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("Absent")), kFileNotFound);
    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("Absent\\Child")), kFileNotFound);
    EXPECT_EQ(read(key, "Absent").status, kFileNotFound);
    EXPECT_EQ(read(key, "").status, kFileNotFound);
    EXPECT_EQ(registry_.deleteValue(key, "Absent"), kFileNotFound);
}

TEST_F(RegistryConformance, KeyWithSubKeysIsNotDeleted) {
    create(kLocalMachine, scratch("Tree\\Leaf"));
    setString(open(kLocalMachine, scratch("Tree"), kKeyAllAccess), "Stays", "here");

    EXPECT_EQ(registry_.deleteKey(kLocalMachine, scratch("Tree")), kAccessDenied);
    EXPECT_EQ(read(open(kLocalMachine, scratch("Tree"), kKeyRead), "Stays").data, withNul("here"));
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("Tree\\Leaf")), kSuccess);

    KeyHandle tree = open(kLocalMachine, scratch("Tree"), kKeyAllAccess);
    EXPECT_EQ(registry_.deleteKey(tree, "Leaf"), kSuccess);
    EXPECT_EQ(registry_.deleteKey(kLocalMachine, scratch("Tree")), kSuccess);
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("Tree")), kFileNotFound);
}

TEST_F(RegistryConformance, ReadAccessCannotChangeValues) {
    setString(create(kCurrentUser, scratch("Guarded")), "Value", "original");
    KeyHandle readOnly = open(kCurrentUser, scratch("Guarded"), kKeyRead);

    const auto replacement = withNul("changed");
    EXPECT_EQ(registry_.setValue(readOnly, "Value", kRegSz, replacement.data(),
                                 static_cast<std::uint32_t>(replacement.size())),
              kAccessDenied);
    EXPECT_EQ(registry_.setValue(readOnly, "New", kRegSz, replacement.data(),
                                 static_cast<std::uint32_t>(replacement.size())),
              kAccessDenied);
    EXPECT_EQ(registry_.deleteValue(readOnly, "Value"), kAccessDenied);
    EXPECT_EQ(read(readOnly, "Value").data, withNul("original"));
    EXPECT_EQ(read(readOnly, "New").status, kFileNotFound);

    KeyHandle writable = open(kCurrentUser, scratch("Guarded"), kKeySpecificRights);
    EXPECT_EQ(registry_.deleteValue(writable, "Value"), kSuccess);
    EXPECT_EQ(read(readOnly, "Value").status, kFileNotFound);
}

TEST_F(RegistryConformance, QueryReportsTheSizeItNeeds) {
    KeyHandle key = create(kCurrentUser, scratch("Sizes"));
    setString(key, "Text", "hello");
    set(key, "Blob", kRegBinary, {1, 2, 3, 4, 5, 6, 7, 8});

    struct Case {
        const char* name;
        std::uint32_t needed;
    };
    for (const auto& [name, needed] : {Case{"Text", 6}, Case{"Blob", 8}}) {
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

TEST_F(RegistryConformance, NarrowStringsComeBackWithTheirTerminator) {
    KeyHandle key = create(kCurrentUser, scratch("Strings"));
    const char text[] = "hello";
    for (std::uint32_t type : {kRegSz, kRegExpandSz}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(registry_.setValue(key, "Counted", type, bytesOf(text), 6), kSuccess);
        // The count leaves out the NUL that follows the text; it is stored all the same.
        EXPECT_EQ(registry_.setValue(key, "Uncounted", type, bytesOf(text), 5), kSuccess);
        for (const char* name : {"Counted", "Uncounted"}) {
            const Read value = read(key, name);
            EXPECT_EQ(value.type, type) << name;
            EXPECT_EQ(value.data, withNul("hello")) << name;
        }
    }

    setString(key, "Empty", "");
    EXPECT_EQ(read(key, "Empty").data, withNul(""));

    const std::string awkward = "C:\\Program Files\\Quorvane \"beta\" \\\\server\\share\\ end";
    setString(key, "Awkward \"name\" \\", awkward);
    EXPECT_EQ(read(key, "Awkward \"name\" \\").data, withNul(awkward));
}

TEST_F(RegistryConformance, DefaultValueHasTheEmptyName) {
    KeyHandle key = create(kCurrentUser, scratch("Default"));
    setString(key, "", "unnamed");
    setString(key, "Named", "named");
    EXPECT_EQ(read(key, "").data, withNul("unnamed"));
    EXPECT_EQ(read(key, "Named").data, withNul("named"));

    EXPECT_EQ(registry_.deleteValue(key, ""), kSuccess);
    EXPECT_EQ(read(key, "").status, kFileNotFound);
    EXPECT_EQ(read(key, "Named").status, kSuccess);
}

TEST_F(RegistryConformance, DwordsRoundTrip) {
    KeyHandle key = create(kLocalMachine, scratch("Numbers"));
    for (std::uint32_t number : {0u, 1u, 0x12345678u, 0xFFFFFFFFu}) {
        std::vector<std::uint8_t> bytes(4);
        std::memcpy(bytes.data(), &number, 4);
        set(key, "Number", kRegDword, bytes);
        const Read value = read(key, "Number");
        EXPECT_EQ(value.type, kRegDword) << number;
        EXPECT_EQ(value.data, bytes) << number;
    }
}

TEST_F(RegistryConformance, EightByteValuesKeepTheirSize) {
    KeyHandle key = create(kCurrentUser, scratch("Wide"));
    const std::vector<std::uint8_t> qword{0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    const std::vector<std::uint8_t> binary{0x00, 0xFF, 0x10, 0x00, 0x7F, 0x80, 0x01, 0x00};
    set(key, "Qword", kRegQword, qword);
    set(key, "Binary", kRegBinary, binary);

    const Read readQword = read(key, "Qword");
    EXPECT_EQ(readQword.type, kRegQword);
    EXPECT_EQ(readQword.data, qword);
    const Read readBinary = read(key, "Binary");
    EXPECT_EQ(readBinary.type, kRegBinary);
    EXPECT_EQ(readBinary.data, binary);
}

TEST_F(RegistryConformance, ClosedAndUnknownHandlesAreInvalid) {
    KeyHandle key = 0;
    ASSERT_EQ(registry_.createKey(kCurrentUser, scratch("Closed"), key), kSuccess);
    ASSERT_EQ(registry_.closeKey(key), kSuccess);

    const auto data = withNul("x");
    KeyHandle unused = 0;
    EXPECT_EQ(read(key, "Any").status, kInvalidHandle);
    EXPECT_EQ(registry_.setValue(key, "Any", kRegSz, data.data(), 2), kInvalidHandle);
    EXPECT_EQ(registry_.deleteValue(key, "Any"), kInvalidHandle);
    EXPECT_EQ(registry_.openKey(key, "", kKeyRead, unused), kInvalidHandle);
    EXPECT_EQ(registry_.closeKey(key), kInvalidHandle);

    constexpr KeyHandle kUnknown = 0x7FFF0000;
    EXPECT_EQ(read(kUnknown, "Any").status, kInvalidHandle);
    EXPECT_EQ(registry_.closeKey(kUnknown), kInvalidHandle);

    // Roots are never really closed.
    EXPECT_EQ(registry_.closeKey(kCurrentUser), kSuccess);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Closed")), kSuccess);
}

TEST_F(RegistryConformance, HandleToADeletedKeyReportsIt) {
    KeyHandle stale = create(kCurrentUser, scratch("Gone"));
    ASSERT_EQ(registry_.deleteKey(kCurrentUser, scratch("Gone")), kSuccess);

    const auto data = withNul("x");
    KeyHandle unused = 0;
    EXPECT_EQ(registry_.setValue(stale, "Any", kRegSz, data.data(), 2), kKeyDeleted);
    EXPECT_EQ(read(stale, "Any").status, kKeyDeleted);
    EXPECT_EQ(registry_.openKey(stale, "", kKeyRead, unused), kKeyDeleted);
    // Must not bring the deleted key back as the parent of a new one.
    EXPECT_EQ(registry_.createKey(stale, "Child", unused), kKeyDeleted);
    EXPECT_EQ(tryOpen(kCurrentUser, scratch("Gone")), kFileNotFound);
}

// Doubled separators count as one and a trailing one is ignored; a leading one is refused.
TEST_F(RegistryConformance, SubKeyPathsAreSplitAsWindowsDoes) {
    setString(create(kCurrentUser, scratch("Outer\\\\Inner\\")), "Depth", "two");
    EXPECT_EQ(read(open(kCurrentUser, scratch("Outer\\Inner"), kKeyRead), "Depth").data,
              withNul("two"));
    EXPECT_EQ(read(open(kCurrentUser, scratch("OUTER\\\\INNER\\"), kKeyRead), "Depth").data,
              withNul("two"));
    const std::string leadingBackslash = std::string(1, '\\').append(scratch("Outer"));
    EXPECT_EQ(tryOpen(kCurrentUser, leadingBackslash), kBadPathname);
}

TEST_F(RegistryConformance, UserAndMachineRootsAreSeparate) {
    setString(create(kCurrentUser, scratch("Both")), "Owner", "user");
    setString(create(kLocalMachine, scratch("Both")), "Owner", "machine");
    EXPECT_EQ(read(open(kLocalMachine, scratch("Both"), kKeyRead), "Owner").data,
              withNul("machine"));

    EXPECT_EQ(registry_.deleteKey(kLocalMachine, scratch("Both")), kSuccess);
    EXPECT_EQ(tryOpen(kLocalMachine, scratch("Both")), kFileNotFound);
    EXPECT_EQ(read(open(kCurrentUser, scratch("Both"), kKeyRead), "Owner").data, withNul("user"));
}

TEST_F(RegistryConformance, WritesInABatchAreSeenAtOnce) {
    BatchScope batch(registry_);
    setString(create(kCurrentUser, scratch("Batch\\Inner")), "Pending", "value");
    EXPECT_EQ(read(open(kCurrentUser, scratch("Batch\\Inner"), kKeyRead), "Pending").data,
              withNul("value"));
    EXPECT_EQ(registry_.deleteKey(kCurrentUser, scratch("Batch")), kAccessDenied);

    EXPECT_EQ(batch.finish(), kSuccess);
    EXPECT_EQ(read(open(kCurrentUser, scratch("Batch\\Inner"), kKeyRead), "Pending").data,
              withNul("value"));
}

}  // namespace
}  // namespace quorvane::testing
