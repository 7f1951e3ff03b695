#include "platform/regf_header.h"

namespace quorvane::platform::regf {

std::uint32_t checksum(std::string_view baseBlock) {
    std::uint32_t sum = 0;
    for (std::size_t offset = 0; offset < kChecksumOffset; offset += 4) {
        sum ^= readUint32(baseBlock, offset);
    }
    if (sum == 0) {
        return 1;
    }
    return sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

std::optional<BaseBlock> parseBaseBlock(std::string_view bytes) {
    if (bytes.size() < kBaseBlockSize || bytes.substr(0, kSignature.size()) != kSignature) {
        return std::nullopt;
    }
    return BaseBlock{readUint32(bytes, kPrimarySequenceOffset),
                     readUint32(bytes, kSecondarySequenceOffset),
                     checksum(bytes) == readUint32(bytes, kChecksumOffset)};
}

}  // namespace quorvane::platform::regf
