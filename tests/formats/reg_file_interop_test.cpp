// The registry file writer and reader against Wine's registry editor, on drawn values of every
// type: what Quorvane writes, `regedit` imports, and the key `regedit /e` exports then reads back
// as the same values.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <vector>

#include "formats/little_endian.h"
#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "tests/support/reg_file_show.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace quorvane::formats {
namespace {

const std::u16string kKey = u"HKEY_CURRENT_USER\\Software\\Quorvane\\Exported";

// Names and texts of printable ASCII, the characters the format escapes, line breaks, and
// characters without letter case outside ASCII; names that differ in letter case only are one
// name to the registry, so each is drawn once.
rc::Gen<std::u16string> text() {
    return rc::gen::container<std::u16string>(
        rc::gen::oneOf(rc::gen::inRange<char16_t>(0x20, 0x7F),
                       rc::gen::elementOf(std::u16string(u"\"\\\n\r€漢ß"))));
}

std::u16string folded(std::u16string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit + 32 : unit; });
    return name;
}

rc::Gen<RegValue> value() {
    return rc::gen::exec([] {
        RegValue value;
        value.name = *text();
        value.type = *rc::gen::elementOf(std::vector<std::uint32_t>{0, 1, 2, 3, 4, 7, 11, 0x4000});
        // Wine's registry editor reads hex(4) data as four bytes, whatever the file holds, writes
        // a text only up to its first NUL, and ends a list of texts with a NUL of its own: data
        // of these types is drawn in the form Windows gives it, of the others in any form.
        const int form = value.type == 4                      ? 1
                         : value.type == 1 || value.type == 2 ? 0
                         : value.type == 7                    ? 3
                                                              : *rc::gen::inRange(0, 3);
        if (form == 0) {
            value.data = registryString(*text());
        } else if (form == 1) {
            value.data = dwordBytes(*rc::gen::arbitrary<std::uint32_t>());
        } else if (form == 2) {
            value.data = *rc::gen::arbitrary<std::string>();
        } else {
            for (const std::u16string& each :
                 *rc::gen::container<std::vector<std::u16string>>(rc::gen::nonEmpty(text()))) {
                value.data += registryString(each);
            }
            value.data += std::string(2, '\0');
        }
        return value;
    });
}

std::vector<RegValue> byName(std::vector<RegValue> values) {
    std::ranges::sort(values, {}, &RegValue::name);
    return values;
}

RC_GTEST_PROP(RegFileInterop, RegeditImportsWhatWasWrittenAndExportsItBack, ()) {
    static testing::WinePrefix wine;
    RC_ASSERT(wine.booted());
    const auto values = *rc::gen::uniqueBy<std::vector<RegValue>>(
        value(), [](const RegValue& value) { return folded(value.name); });
    testing::TempDir dir;
    testing::writeFile(dir.path() / "in.reg",
                       writeRegFile({{kKey, true, {}}, {kKey, false, values}}));
    const auto exported = dir.path() / "out.reg";
    const std::string key = "'" + utf16ToUtf8(kKey) + "'";
    RC_ASSERT(wine.run("wine regedit /s '" + testing::windowsPathOf(dir.path() / "in.reg") + "'") ==
              0);
    RC_ASSERT(wine.run("wine regedit /e '" + testing::windowsPathOf(exported) + "' " + key) == 0);

    const auto read = readRegFile(testing::readFile(exported));
    if (!read) {
        RC_FAIL(read.failure().reason);
    }
    RC_ASSERT(read->size() == 1u);
    RC_ASSERT(read->front().key == kKey);
    RC_ASSERT(byName(read->front().values) == byName(values));
}

}  // namespace
}  // namespace quorvane::formats
