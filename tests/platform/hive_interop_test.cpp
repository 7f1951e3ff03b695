// The hive store against Wine itself, in a prefix of the test's own: drawn values the store
// writes, Wine reads (what Wine writes, the store reads: the fixture tests load Wine's own files;
// that a running wineserver keeps the store out: hive_store_fault_test, with Wine's own server in
// its stress loop). Wine's `reg export` is the witness on Wine's side: it writes UTF-16, so text
// outside ASCII survives whatever the console's code page is.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <map>

#include "formats/little_endian.h"
#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "platform/hive_store.h"
#include "tests/support/reg_file_show.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;
using namespace quorvane::testing;
using quorvane::formats::RegValue;

WinePrefix& prefix() {
    static WinePrefix wine;
    return wine;
}

// Names and texts of ASCII, the characters the formats escape, and characters outside ASCII.
rc::Gen<std::string> text() {
    return rc::gen::map(
        rc::gen::container<std::vector<std::string>>(rc::gen::oneOf(
            rc::gen::elementOf(std::vector<std::string>{"\"", "\\", "[", "]", "Grüße", "Ω", "€"}),
            rc::gen::map(rc::gen::inRange<char>(0x20, 0x7F),
                         [](char c) { return std::string(1, c); }))),
        [](const std::vector<std::string>& parts) {
            std::string joined;
            for (const std::string& part : parts) {
                joined += part;
            }
            return joined;
        });
}

// A value as the registry functions take it: a text without NULs in the narrow encoding, a list
// of texts ending as Windows ends it, a DWORD of four bytes, or any bytes of other types.
rc::Gen<Stored> value() {
    return rc::gen::exec([] {
        const auto type = *rc::gen::elementOf(std::vector<std::uint32_t>{0, 1, 2, 3, 4, 7, 11});
        std::string data = *rc::gen::arbitrary<std::string>();
        if (isStringType(type)) {
            data.clear();
            for (const std::string& each : *rc::gen::container<std::vector<std::string>>(
                     type == kRegMultiSz ? *rc::gen::inRange(1, 4) : 1,
                     rc::gen::nonEmpty(text()))) {
                data += each + '\0';
            }
            data += type == kRegMultiSz ? std::string(1, '\0') : "";
        }
        return Stored{type, type == kRegDword ? quorvane::formats::dwordBytes(
                                                    *rc::gen::arbitrary<std::uint32_t>())
                                              : data};
    });
}

// The value as a registry file holds it: texts as UTF-16LE units.
RegValue inFile(const std::string& name, const Stored& stored) {
    const std::string data =
        isStringType(stored.type)
            ? quorvane::formats::utf16LeBytes(quorvane::formats::utf8ToUtf16(stored.bytes))
            : stored.bytes;
    return {quorvane::formats::utf8ToUtf16(name), false, stored.type, data};
}

// A few values a run: each run asks Wine once.
RC_GTEST_PROP(HiveInterop, WineExportsWhatTheStoreWrote, ()) {
    RC_ASSERT(prefix().booted());
    // Names differ in more than the case of their ASCII letters: the registry's would be one.
    std::map<std::string, std::pair<std::string, Stored>> values;
    for (auto& [name, stored] : *rc::gen::container<std::vector<std::pair<std::string, Stored>>>(
             rc::gen::pair(text(), value()))) {
        std::string folded = name;
        std::transform(folded.begin(), folded.end(), folded.begin(), ::tolower);
        values.emplace(folded, std::pair(name, stored));
    }
    const std::string key = "Software\\QuorvaneInterop\\Drawn";
    std::map<std::u16string, RegValue> expected;
    {
        HiveStore store(prefix().path());
        KeyHandle root = 0;
        RC_ASSERT(store.createKey(kCurrentUser, "Software\\QuorvaneInterop", root) == kSuccess);
        static_cast<void>(store.deleteKey(root, "Drawn"));
        store.closeKey(root);
        makeKey(store, kCurrentUser, key);
        BatchScope batch(store);
        for (const auto& [folded, value] : values) {
            const auto& [name, stored] = value;
            RC_ASSERT(write(store, kCurrentUser, key, name, stored) == kSuccess);
            expected[quorvane::formats::utf8ToUtf16(name)] = inFile(name, stored);
        }
        RC_ASSERT(batch.finish().empty());
    }
    TempDir dir;
    const fs::path file = dir.path() / "export.reg";
    const int exported =
        prefix().run("wine reg export 'HKCU\\" + key + "' '" + windowsPathOf(file) + "' /y");
    prefix().stopServer();
    RC_ASSERT(exported == 0);
    const auto read = quorvane::formats::readRegFile(readFile(file));
    RC_ASSERT(read.ok());
    std::map<std::u16string, RegValue> listed;
    for (const RegValue& each : read->at(0).values) {
        listed[each.name] = each;
    }
    RC_ASSERT(listed == expected);
}

}  // namespace
