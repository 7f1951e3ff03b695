// A store opened for reading only loads the keys asked for and what lies below them: whatever it
// reads must be exactly what the whole hive gives, however the rest of the file looks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/hive_file.h"
#include "platform/hive_store.h"
#include "restrictions/catalogue.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::platform {
namespace {

namespace fs = std::filesystem;
using testing::copyFixtureHives;
using testing::dword;
using testing::readFile;
using testing::stored;
using testing::sz;
using testing::TempDir;
using testing::write;
using testing::writeFile;

constexpr const char* kMarkerKey = "Software\\Quorvane\\Presets";
constexpr const char* kLinkedKey = "Software\\Wow6432Node\\Classes\\QuorvaneLinked";

// The keys the read-only commands read, and two that hold them, from the top.
std::vector<std::string> keysRead() {
    std::vector<std::string> keys{"Software\\Policies",
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\Policies",
                                  testing::kMainKey, kMarkerKey, kLinkedKey};
    for (const auto& restriction : restrictions::kCatalogue) {
        keys.emplace_back(restriction.subKey);
    }
    return keys;
}

// Everything at and below `subKey` as `registry` shows it: each key's status, values and
// sub-keys, in the order the registry gives them.
std::string listing(RegistryApi& registry, KeyHandle root, const std::string& subKey) {
    KeyHandle key = 0;
    const Status opened = registry.openKey(root, subKey, kKeyRead, key);
    std::string out = subKey + ": " + std::to_string(opened) + "\n";
    if (opened != kSuccess) {
        return out;
    }
    std::string name;
    std::string data;
    std::uint32_t type = 0;
    for (std::uint32_t i = 0; registry.enumValue(key, i, name, type, data) == kSuccess; ++i) {
        out += "  " + name + " (" + std::to_string(type) + ")";
        for (unsigned char byte : data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", byte);
            out += hex;
        }
        out += '\n';
    }
    std::vector<std::string> children;
    for (std::uint32_t i = 0; registry.enumKey(key, i, name) == kSuccess; ++i) {
        children.push_back(name);
    }
    EXPECT_EQ(registry.closeKey(key), kSuccess);
    for (const std::string& child : children) {
        out += listing(registry, root, subKey + "\\" + child);
    }
    return out;
}

// What each restriction, the marker and the page values read as, one per line.
std::string valuesRead(RegistryApi& registry) {
    std::string out;
    const auto line = [&](KeyHandle root, const std::string& key, const std::string& name) {
        const auto value = stored(registry, root, key, name);
        out += key + "\\" + name + " = " +
               (value ? std::to_string(value->type) + ":" + value->bytes : std::string("absent")) +
               "\n";
    };
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        for (const auto& restriction : restrictions::kCatalogue) {
            line(root, restriction.subKey, restriction.valueName);
        }
        line(root, testing::kMainKey, "Start Page");
        line(root, testing::kMainKey, "Search Page");
    }
    line(kCurrentUser, kMarkerKey, "Keys");
    return out;
}

std::string everything(RegistryApi& registry) {
    std::string out = valuesRead(registry);
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        for (const std::string& key : keysRead()) {
            out += listing(registry, root, key);
        }
    }
    return out;
}

class PartialReadTest : public ::testing::Test {
protected:
    PartialReadTest() {
        copyFixtureHives(dir_.path());
        HiveStore writer(dir_.path());
        int n = 0;
        for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
            for (const auto& restriction : restrictions::kCatalogue) {
                const auto value = restriction.kind == restrictions::Kind::String
                                       ? sz("Title " + std::to_string(++n))
                                       : dword(++n);
                EXPECT_EQ(write(writer, root, restriction.subKey, restriction.valueName, value),
                          kSuccess);
            }
            EXPECT_EQ(write(writer, root, testing::kMainKey, "Start Page", sz("http://a/")),
                      kSuccess);
        }
        EXPECT_EQ(write(writer, kCurrentUser, kMarkerKey, "Keys", sz("1,2,3")), kSuccess);
        EXPECT_EQ(write(writer, kLocalMachine, kLinkedKey, "L", dword(5)), kSuccess);
    }

    // Appends sections to system.reg as another program or a damaged disk might leave them.
    void append(const std::string& text) {
        const fs::path file = dir_.path() / "system.reg";
        writeFile(file, readFile(file) + text);
    }

    TempDir dir_;
};

TEST_F(PartialReadTest, ReadsWhatTheWholeHiveGivesThoughTheRestIsDamagedHugeOrShuffled) {
    std::string huge = "\n[Software\\\\Classes\\\\Huge] 1700000000\n#time=1d0a0b0c0d0e0f0\n";
    for (int i = 0; i < 30'000; ++i) {
        huge += "\"v" + std::to_string(i) + "\"=dword:00000001\n";
    }
    append(huge);
    // Damage outside the keys read: a key line Wine cannot read, a bad value, a stray '['.
    append("\n[Software\\\\Broken\n\"x\"=dword:zz\n  [not a key line\n");
    // The keys read, listed again out of order: in another case, with an escaped letter, with a
    // line Wine cannot read (kept as a value without data), and with blanks before the '['.
    append(
        "\n[software\\\\POLICIES\\\\microsoft\\\\Internet Explorer\\\\Restrictions] 1700000000\n"
        "\"Again\"=dword:00000007\n"
        "\"Damaged\"=dword:zz\n"
        "\n[Software\\\\Policies\\\\Microsoft\\\\Internet Explorer\\\\Restrictio\\x6es\\\\Sub] 0\n"
        "\"Escaped\"=\"yes\"\n"
        "\n  [Software\\\\Quorvane\\\\Presets] 0\n\"Keys\"=\"machine\"\n");

    HiveStore reader(dir_.path(), HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
    HiveStore full(dir_.path());
    const std::string whole = everything(full);
    EXPECT_EQ(everything(reader), whole) << "keys loaded one after another";
    // Each key alone, in a store that has loaded nothing else.
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        for (const std::string& key : keysRead()) {
            HiveStore alone(dir_.path(), HiveStore::Creation::UseExisting,
                            HiveStore::Use::ReadOnly);
            EXPECT_EQ(listing(alone, root, key), listing(full, root, key));
        }
    }
    // The appended sections are found, not merely missed by both.
    for (const char* seen : {"Again (4)", "Damaged (0)", "Escaped (1)", "Keys (1)", "L (4)",
                             "Title 24", "Restrictions\\Sub: 0"}) {
        EXPECT_NE(whole.find(seen), std::string::npos) << seen;
    }

    // Another writer's change is seen at the next read.
    {
        HiveStore writer(dir_.path());
        EXPECT_EQ(write(writer, kLocalMachine, restrictions::kRestrictionsKey, "Later", dword(9)),
                  kSuccess);
    }
    EXPECT_EQ(stored(reader, kLocalMachine, restrictions::kRestrictionsKey, "Later"), dword(9));
    EXPECT_EQ(everything(reader), everything(full));
}

TEST_F(PartialReadTest, AWriteAfterReadsInPartChangesOnlyItsSection) {
    append("\n[Software\\\\Broken\n\"x\"=dword:zz\n");
    const fs::path file = dir_.path() / "system.reg";
    const std::string before = readFile(file);
    HiveStore store(dir_.path());
    const std::string read = valuesRead(store);
    EXPECT_EQ(write(store, kLocalMachine, restrictions::kControlPanelKey, "HomePage", dword(0)),
              kSuccess);
    const std::string after = readFile(file);
    std::size_t same = 0;
    while (same < before.size() && same < after.size() && before[same] == after[same]) {
        ++same;
    }
    std::size_t sameEnd = 0;
    while (sameEnd + same < before.size() && sameEnd + same < after.size() &&
           before[before.size() - 1 - sameEnd] == after[after.size() - 1 - sameEnd]) {
        ++sameEnd;
    }
    // Only the Control Panel section differs, and every other byte is kept.
    const std::string was = before.substr(same, before.size() - same - sameEnd);
    const std::string is = after.substr(same, after.size() - same - sameEnd);
    EXPECT_EQ(was.find("\n["), std::string::npos) << was;
    EXPECT_EQ(is.find("\n["), std::string::npos) << is;
    EXPECT_NE(before.substr(0, same).rfind("Control Panel]"), std::string::npos);
    EXPECT_EQ(stored(store, kLocalMachine, restrictions::kControlPanelKey, "HomePage"), dword(0));
    EXPECT_NE(valuesRead(store), read);
    HiveStore fresh(dir_.path(), HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
    EXPECT_EQ(valuesRead(store), valuesRead(fresh));
}

TEST(PartialDocumentTest, IsNeverWrittenBack) {
    auto scanned = std::make_shared<const hive::ScannedHive>(
        "WINE REGISTRY Version 2\n\n[A] 0\n\"v\"=dword:00000001\n\n[B] 0\n");
    const std::u16string wanted[] = {u"a"};
    hive::Document part = hive::Document::parseSelected(scanned, wanted);
    EXPECT_NE(part.root().child(u"a"), nullptr);
    EXPECT_EQ(part.root().child(u"b"), nullptr);
    EXPECT_THROW(static_cast<void>(part.serialize()), std::logic_error) << "[B] would be lost";
}

}  // namespace
}  // namespace quorvane::platform
