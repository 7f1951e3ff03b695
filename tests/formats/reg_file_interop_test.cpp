// The registry file reader against Wine's registry editor: a key exported with `regedit /e`
// reads back as exactly the values the prefix's hive files hold, every type included.
#include <gtest/gtest.h>

#include <map>
#include <variant>

#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "platform/hive_store.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace quorvane::formats {
namespace {

constexpr const char* kKey = "HKEY_CURRENT_USER\\Software\\Quorvane\\Exported";

// The value as a registry file holds it: strings as UTF-16LE units.
testing::Stored asInFile(const testing::Stored& stored) {
    if (!platform::isStringType(stored.type)) {
        return stored;
    }
    std::string bytes = formats::registryString(formats::narrowToUtf16(stored.bytes));
    bytes.resize(bytes.size() - 2);
    return {stored.type, bytes};
}

TEST(RegFileInterop, ReadsWhatRegeditExports) {
    testing::WinePrefix wine;
    ASSERT_TRUE(wine.booted()) << wine.bootLog();
    const std::string key = std::string("\"") + kKey + "\"";
    const char* const additions[] = {
        "/ve /t REG_SZ /d \"default text\"",
        "/v Quoted /t REG_SZ /d \"C:\\Program Files\\\\\\\"Q\\\" Grüße\"",
        "/v Expand /t REG_EXPAND_SZ /d %SystemRoot%\\system32",
        "/v Multi /t REG_MULTI_SZ /d one\\0two",
        "/v Flag /t REG_DWORD /d 305419896",
        "/v Big /t REG_QWORD /d 0x0123456789abcdef",
        "/v Blob /t REG_BINARY /d 00ff10207f80aabbccddeeff00112233445566778899aabbccddeeff0011",
        "/v Empty /t REG_SZ /d \"\"",
    };
    for (const char* addition : additions) {
        ASSERT_EQ(wine.run("wine reg add " + key + " " + addition + " /f"), 0) << addition << '\n'
                                                                               << wine.log();
    }
    testing::TempDir dir;
    const auto file = dir.path() / "exported.reg";
    ASSERT_EQ(wine.run("wine regedit /e '" + testing::windowsPathOf(file) + "' " + key), 0)
        << wine.log();
    wine.stopServer();

    const auto read = readRegFile(testing::readFile(file));
    ASSERT_TRUE(read) << read.failure().reason;
    const auto& sections = *read;
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].key, formats::narrowToUtf16(kKey));

    std::map<std::string, testing::Stored> fromFile;
    for (const RegValue& value : sections[0].values) {
        fromFile[formats::utf16ToNarrow(value.name)] = {value.type, value.data};
    }
    platform::HiveStore hives(wine.path());
    platform::KeyHandle opened = 0;
    ASSERT_EQ(hives.openKey(platform::kCurrentUser, "Software\\Quorvane\\Exported",
                            platform::kKeyRead, opened),
              platform::kSuccess);
    std::map<std::string, testing::Stored> inHive;
    std::string name;
    testing::Stored value;
    for (std::uint32_t index = 0;
         hives.enumValue(opened, index, name, value.type, value.bytes) == platform::kSuccess;
         ++index) {
        inHive[name] = asInFile(value);
    }
    hives.closeKey(opened);
    EXPECT_EQ(inHive.size(), std::size(additions));
    EXPECT_EQ(fromFile, inHive);
}

}  // namespace
}  // namespace quorvane::formats
