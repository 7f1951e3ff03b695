// The cells of a Windows binary hive (regf) in memory, checked before hivex reads or changes them:
// hivex trusts a hive's offsets and counts in places (it reads past a list's cell, and asserts
// when a change frees a cell that is not one), so every key, list and value it will read or
// free is looked at here first, with the same rules it uses to find cells. Offsets are file
// offsets, as hivex's node and value handles are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quorvane::platform::regf {

// Windows keeps a value larger than this in a big-data record when the hive's format is 1.4 or
// later; hivex writes every value as one cell, so a key holding one is never rewritten.
inline constexpr std::uint32_t kLargestValueInOneCell = 16344;
// Windows' own bound on how deep keys nest.
inline constexpr std::size_t kDeepestKey = 512;

class Cells {
public:
    // The used cells of `bytes` (which must outlive this), found as hivex finds them when it
    // opens a hive: bin after bin from the first to the end the base block gives. A bin's cells
    // are looked at when a check first reaches into it.
    explicit Cells(std::string_view bytes);

    std::uint32_t root() const { return root_; }
    // Whether a used cell starts at `offset`.
    bool isCell(std::uint64_t offset) const;

    // What is damaged of the key at `node` that reading it touches: the key itself, its lists of
    // sub-keys and each sub-key's own record, its value list and each value's record, its
    // security and class cells. Empty when intact.
    std::string keyDamage(std::uint32_t node) const;
    // What is damaged of the value at `value` (its record and its data); empty when intact.
    std::string valueDamage(std::uint32_t value) const;
    // Whether hivex would store the value differently from Windows when it rewrites its key: a
    // value too large for one cell in a hive of format 1.4 or later. Of an intact value only.
    bool heldInBigData(std::uint32_t value) const;

    // The sub-keys and values of an intact key (keyDamage empty), and their names (UTF-8).
    std::vector<std::uint32_t> children(std::uint32_t node) const;
    std::vector<std::uint32_t> values(std::uint32_t node) const;
    std::string keyName(std::uint32_t node) const;
    std::string valueName(std::uint32_t value) const;

    // Every key from the root down, each once (depth and keys bounded), every value and its
    // data: the first damage met, where it is, and the keys that hold a value kept in big data.
    struct Survey {
        std::string damage;  // empty: the whole hive is intact
        std::string where;   // the damaged key's path below the root, "a\b"
        std::unordered_set<std::uint32_t> bigDataKeys;
        std::size_t keys = 0;
    };
    Survey survey() const;

private:
    std::uint32_t u32(std::uint64_t offset) const;
    std::uint16_t u16(std::uint64_t offset) const;
    std::uint32_t cellSize(std::uint32_t offset) const;
    bool hasId(std::uint32_t offset, std::string_view id) const;
    std::string nodeDamage(std::uint32_t node) const;
    std::string listDamage(std::uint32_t node, std::vector<std::uint32_t>* children) const;
    std::string valueListDamage(std::uint32_t node, std::vector<std::uint32_t>* values) const;

    // Finds the used cells of the bin that holds `offset`, once.
    void scanBinOf(std::uint64_t offset) const;

    std::string_view bytes_;
    std::uint32_t root_ = 0;
    std::uint32_t minorVersion_ = 0;
    std::vector<std::uint64_t> bins_;  // where each bin starts, in order, and the end of the last
    // Which bins' cells are known, and one bit for each 4 bytes: a used cell starts there.
    mutable std::vector<bool> scanned_;
    mutable std::vector<std::uint64_t> starts_;
};

}  // namespace quorvane::platform::regf
