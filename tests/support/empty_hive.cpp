#include "tests/support/empty_hive.h"

#include <hivex.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/regf_header.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {

namespace {

namespace regf = platform::regf;

constexpr std::size_t kBinSize = 0x1000;
constexpr std::size_t kBinHeaderSize = 0x20;
constexpr std::uint32_t kNone = 0xFFFFFFFF;
// 2009-02-13 23:31:30 UTC: any fixed time will do, so that two hives made alike are alike.
constexpr std::uint64_t kFileTime = 128790882900000000ULL;
// ASCII, as Windows stores it compressed.
constexpr std::string_view kRootName = "ROOT";

// The `size` low bytes of `value` at `offset`, least significant first.
void put(std::string& out, std::size_t offset, std::uint64_t value, std::size_t size = 4) {
    for (std::size_t i = 0; i < size; ++i) {
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A security identifier: revision 1, the authority, then its sub-authorities.
std::string sid(std::uint8_t authority, std::vector<std::uint32_t> subAuthorities) {
    std::string out(8 + 4 * subAuthorities.size(), '\0');
    out[0] = 1;
    out[1] = static_cast<char>(subAuthorities.size());
    out[7] = static_cast<char>(authority);  // six bytes, big-endian
    for (std::size_t i = 0; i < subAuthorities.size(); ++i) {
        put(out, 8 + 4 * i, subAuthorities[i]);
    }
    return out;
}

// An ACE that allows `mask` to `who`, inherited by sub-keys.
std::string allow(std::uint32_t mask, const std::string& who) {
    std::string ace(8, '\0');
    ace[0] = 0;  // ACCESS_ALLOWED_ACE_TYPE
    ace[1] = 2;  // CONTAINER_INHERIT_ACE
    put(ace, 2, static_cast<std::uint16_t>(8 + who.size()), 2);
    put(ace, 4, mask);
    return ace + who;
}

// A self-relative security descriptor as Windows gives a hive's root: owned by the
// Administrators, full control for SYSTEM and the Administrators, reading for the Users.
std::string rootSecurity() {
    const std::string system = sid(5, {18});
    const std::string administrators = sid(5, {32, 544});
    const std::string users = sid(5, {32, 545});
    const std::string aces =
        allow(0xF003F, system) + allow(0xF003F, administrators) + allow(0x20019, users);
    std::string acl(8, '\0');
    acl[0] = 2;  // ACL_REVISION
    put(acl, 2, static_cast<std::uint16_t>(8 + aces.size()), 2);
    put(acl, 4, 3, 2);
    acl += aces;

    std::string descriptor(20, '\0');
    descriptor[0] = 1;
    put(descriptor, 2, 0x8004, 2);  // self-relative, DACL present
    const std::size_t owner = descriptor.size() + acl.size();
    put(descriptor, 4, static_cast<std::uint32_t>(owner));
    put(descriptor, 8, static_cast<std::uint32_t>(owner + administrators.size()));
    put(descriptor, 16, static_cast<std::uint32_t>(descriptor.size()));
    return descriptor + acl + administrators + system;
}

std::size_t roundUp8(std::size_t size) {
    return (size + 7) & ~std::size_t{7};
}

void setChecksum(std::string& hive) {
    put(hive, regf::kChecksumOffset, regf::checksum(hive));
}

}  // namespace

void writeEmptyHive(const std::filesystem::path& file, const EmptyHiveOptions& options) {
    std::string hive(regf::kBaseBlockSize + kBinSize, '\0');

    // The bin and its cells; cell offsets count from the first bin.
    std::string bin(kBinSize, '\0');
    bin.replace(0, 4, "hbin");
    put(bin, 4, 0);  // this bin's offset
    put(bin, 8, kBinSize);
    put(bin, 0x14, kFileTime, 8);

    const std::size_t nk = kBinHeaderSize;
    const std::size_t nkSize = roundUp8(0x50 + kRootName.size());
    const std::size_t sk = nk + nkSize;
    const std::string security = rootSecurity();
    const std::size_t skSize = roundUp8(0x18 + security.size());
    const std::size_t free = sk + skSize;

    // Allocated cells give their size negated.
    put(bin, nk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(nkSize)));
    bin.replace(nk + 4, 2, "nk");
    put(bin, nk + 0x06, 0x2C, 2);  // the hive's entry key, not deletable, ASCII name
    put(bin, nk + 0x08, kFileTime, 8);
    put(bin, nk + 0x14, kNone);  // no parent
    put(bin, nk + 0x20, kNone);  // no sub-key lists
    put(bin, nk + 0x24, kNone);
    put(bin, nk + 0x2C, kNone);  // no value list
    put(bin, nk + 0x30, static_cast<std::uint32_t>(sk));
    put(bin, nk + 0x34, kNone);  // no class name
    put(bin, nk + 0x4C, static_cast<std::uint16_t>(kRootName.size()), 2);
    bin.replace(nk + 0x50, kRootName.size(), kRootName);

    put(bin, sk, static_cast<std::uint32_t>(-static_cast<std::int32_t>(skSize)));
    bin.replace(sk + 4, 2, "sk");
    put(bin, sk + 0x08, static_cast<std::uint32_t>(sk));  // the only one: its own neighbours
    put(bin, sk + 0x0C, static_cast<std::uint32_t>(sk));
    put(bin, sk + 0x10, 1);  // keys that use it
    put(bin, sk + 0x14, static_cast<std::uint32_t>(security.size()));
    bin.replace(sk + 0x18, security.size(), security);

    put(bin, free, static_cast<std::uint32_t>(kBinSize - free));  // free cells count positive

    hive.replace(0, 4, regf::kSignature);
    put(hive, regf::kPrimarySequenceOffset, options.primarySequence);
    put(hive, regf::kSecondarySequenceOffset, options.secondarySequence);
    put(hive, 0x0C, kFileTime, 8);
    put(hive, 0x14, 1);  // format version 1.5
    put(hive, 0x18, 5);
    put(hive, 0x1C, 0);  // a primary file
    put(hive, 0x20, 1);  // direct memory load
    put(hive, 0x24, static_cast<std::uint32_t>(nk));
    put(hive, 0x28, kBinSize);  // size of all bins
    put(hive, 0x2C, 1);         // clustering factor
    for (std::size_t i = 0; i < options.fileName.size() && i < 32; ++i) {
        put(hive, 0x30 + 2 * i, options.fileName[i], 2);
    }
    setChecksum(hive);
    hive.replace(regf::kBaseBlockSize, kBinSize, bin);
    writeFile(file, hive);
}

void setSequenceNumbers(const std::filesystem::path& file, std::uint32_t primary,
                        std::uint32_t secondary) {
    std::string hive = readFile(file);
    put(hive, regf::kPrimarySequenceOffset, primary);
    put(hive, regf::kSecondarySequenceOffset, secondary);
    setChecksum(hive);
    writeFile(file, hive);
}

std::uint64_t keyOffset(const std::filesystem::path& hive, const std::string& path) {
    hive_h* h = hivex_open(hive.c_str(), 0);
    hive_node_h node = h != nullptr ? hivex_root(h) : 0;
    for (std::size_t start = 0; node != 0 && start < path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        node = hivex_node_get_child(h, node, path.substr(start, end - start).c_str());
        start = end + 1;
    }
    if (h != nullptr) {
        hivex_close(h);
    }
    return node;
}

void setField(const std::filesystem::path& file, std::uint64_t offset, std::uint32_t value) {
    std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
    std::string bytes(4, '\0');
    put(bytes, 0, value);
    io.seekp(static_cast<std::streamoff>(offset));
    if (!io.write(bytes.data(), 4).flush()) {
        throw std::runtime_error("cannot write into " + file.string());
    }
}

void dataOutOfRange(const std::filesystem::path& hive, const std::string& key, const char* value) {
    const std::uint64_t node = keyOffset(hive, key);
    hive_h* h = hivex_open(hive.c_str(), 0);
    const hive_value_h found = h != nullptr && node != 0 ? hivex_node_get_value(h, node, value) : 0;
    if (h != nullptr) {
        hivex_close(h);
    }
    setField(hive, found + 0x0C, kOutOfRange);
}

void listItself(const std::filesystem::path& hive, const std::string& key) {
    const std::uint64_t node = keyOffset(hive, key);
    const std::uint64_t list =
        regf::readUint32(readFile(hive), node + 0x20) + std::uint64_t{0x1000};
    setField(hive, list + 8, static_cast<std::uint32_t>(node - 0x1000));
}

}  // namespace quorvane::testing
