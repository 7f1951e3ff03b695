// Base64 (RFC 4648 section 4): the mail's encoded subject words, and the encoded commands that
// PowerShell is handed on its command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::formats {

// With "=" padding.
std::string base64Encode(std::string_view bytes);
// The bytes `text` encodes, padded or not; none when it holds anything else (white space
// included) or ends in the middle of a byte.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace quorvane::formats
