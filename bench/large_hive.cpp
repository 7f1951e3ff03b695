#include "bench/large_hive.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "restrictions/catalogue.h"

namespace quorvane::bench {

namespace {

using restrictions::kCatalogue;

constexpr int kVendors = 720;
constexpr int kProductsPerVendor = kGrownKeys / kVendors;
constexpr std::size_t kValueSize = 1000;  // two values per product: ~100 MB in all

hive_node_h childOrAdd(hive_h* h, hive_node_h parent, const std::string& name) {
    const hive_node_h found = hivex_node_get_child(h, parent, name.c_str());
    return found != 0 ? found : hivex_node_add_child(h, parent, name.c_str());
}

// The restriction's key in the SOFTWARE hive: its path without the leading "Software\".
hive_node_h policyKey(hive_h* h, std::string path) {
    path = path.substr(path.find('\\') + 1);
    hive_node_h node = hivex_root(h);
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        node = childOrAdd(h, node, path.substr(start, end - start));
        start = end + 1;
    }
    return node;
}

}  // namespace

void growHive(const std::filesystem::path& file) {
    hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
    if (h == nullptr) {
        throw std::runtime_error("hivex cannot open " + file.string());
    }
    std::string blob(kValueSize, '\x5A');
    std::string first = "Data";
    std::string second = "Other";
    const hive_node_h vendors = hivex_node_add_child(h, hivex_root(h), "Vendors");
    for (int v = 0; v < kVendors; ++v) {
        const hive_node_h vendor =
            hivex_node_add_child(h, vendors, ("Vendor" + std::to_string(v)).c_str());
        for (int p = 0; p < kProductsPerVendor; ++p) {
            const hive_node_h product =
                hivex_node_add_child(h, vendor, ("Product" + std::to_string(p)).c_str());
            const hive_set_value values[] = {
                {first.data(), hive_t_REG_BINARY, blob.size(), blob.data()},
                {second.data(), hive_t_REG_BINARY, blob.size(), blob.data()}};
            if (product == 0 || hivex_node_set_values(h, product, 2, values, 0) != 0) {
                throw std::runtime_error(std::string("hivex cannot fill the hive: ") +
                                         std::strerror(errno));
            }
        }
    }
    // Every restriction in force in the machine hive.
    std::string one("\1\0\0\0", 4);
    std::string title("T\0i\0t\0l\0e\0\0\0", 12);
    for (const auto& restriction : kCatalogue) {
        std::string name = restriction.valueName;
        const bool text = restriction.kind == restrictions::Kind::String;
        const hive_set_value value{name.data(), text ? hive_t_REG_SZ : hive_t_REG_DWORD,
                                   text ? title.size() : one.size(),
                                   text ? title.data() : one.data()};
        hivex_node_set_value(h, policyKey(h, restriction.subKey), &value, 0);
    }
    if (hivex_commit(h, nullptr, 0) != 0) {
        throw std::runtime_error(std::string("hivex cannot write the hive: ") +
                                 std::strerror(errno));
    }
    hivex_close(h);
}

}  // namespace quorvane::bench
