#include "diagnosis/text_scan.h"

#include <algorithm>

#include "formats/utf16.h"

namespace quorvane::diagnosis {

namespace {

// Text without a byte-order mark whose odd bytes are mostly NUL is UTF-16LE.
bool looksLikeUtf16(std::string_view bytes) {
    const std::size_t pairs = std::min<std::size_t>(bytes.size() / 2, 256);
    std::size_t nulls = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        nulls += bytes[2 * i + 1] == '\0' && bytes[2 * i] != '\0' ? 1 : 0;
    }
    return pairs > 0 && nulls * 4 >= pairs * 3;
}

}  // namespace

std::string decodeText(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) {
        return formats::utf16ToNarrow(formats::utf16Units(bytes.substr(2)));
    }
    if (bytes.starts_with("\xFE\xFF")) {
        return formats::utf16ToNarrow(
            formats::utf16Units(bytes.substr(2), formats::ByteOrder::Big));
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    } else if (looksLikeUtf16(bytes)) {
        return formats::utf16ToNarrow(formats::utf16Units(bytes));
    }
    return std::string(bytes);
}

std::string unescapeXml(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, character] : kEntities) {
            if (text.substr(i, entity.size()) == entity) {
                out.push_back(character);
                i += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out.push_back(text[i++]);
        }
    }
    return out;
}

}  // namespace quorvane::diagnosis
