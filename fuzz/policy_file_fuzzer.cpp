// Feeds arbitrary bytes to the Registry.pol reader and checks what must hold for every input,
// however damaged: Group Policy files come from anywhere, including the malware being looked for.
//
//  1. Reading never runs past the input: every record's data is at most what the input holds.
//  2. What the writer makes of the records read back reads back the same, undamaged.
//  3. An undamaged file is written back byte for byte.
//  4. Every record's effect can be asked for; a deletion list never names an empty name.
// A broken rule aborts, so that libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "diagnosis/policy_file.h"

namespace {

namespace diagnosis = quorvane::diagnosis;

[[noreturn]] void broken(const char* rule) {
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const diagnosis::PolicyFile file = diagnosis::readPolicyFile(input);

    std::size_t total = 0;
    for (const diagnosis::PolicyRecord& record : file.records) {
        total += record.data.size() + 2 * (record.key.size() + record.value.size());
        const diagnosis::PolicyEffect effect = diagnosis::effectOf(record);
        for (const std::u16string& name : effect.names) {
            if (name.empty() && effect.action != diagnosis::PolicyEffect::Action::SetValue &&
                effect.action != diagnosis::PolicyEffect::Action::SetIfAbsent &&
                effect.action != diagnosis::PolicyEffect::Action::DeleteValue) {
                broken("no empty name in a deletion list");
            }
        }
    }
    if (total > size) {
        broken("records hold no more than the input");
    }

    const std::string written = diagnosis::writePolicyFile(file.records);
    const diagnosis::PolicyFile again = diagnosis::readPolicyFile(written);
    if (again.damage || again.records != file.records) {
        broken("the written records read back the same");
    }
    if (!file.damage && written != input) {
        broken("an undamaged file is written back byte for byte");
    }
    return 0;
}
