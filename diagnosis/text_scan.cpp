#include "diagnosis/text_scan.h"

#include <algorithm>

#include "diagnosis/policy_file.h"
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

std::optional<std::string> keyBelowHive(std::string_view path) {
    // Another computer's registry: \\NAME\HKLM\...
    if (path.starts_with("\\\\")) {
        const std::size_t name = path.find('\\', 2);
        path.remove_prefix(name == std::string_view::npos ? path.size() : name + 1);
    }
    // PowerShell's provider paths: [Microsoft.PowerShell.Core\]Registry::HKEY_CURRENT_USER\...
    const std::string lower = lowerCase(path);
    for (const std::string_view provider :
         {"microsoft.powershell.core\\registry::", "registry::"}) {
        if (lower.starts_with(provider)) {
            path.remove_prefix(provider.size());
            break;
        }
    }
    const std::size_t end = std::min(path.find_first_of("\\:"), path.size());
    const std::string root = lowerCase(path.substr(0, end));
    const bool drive = end < path.size() && path[end] == ':';
    path.remove_prefix(std::min(end + 1, path.size()));
    if (root == "hkcu" || root == "hkey_current_user" || root == "hklm" ||
        root == "hkey_local_machine") {
        return normalisedKey(path);
    }
    if (!drive && (root == "hku" || root == "hkey_users")) {
        // Below the user's own key.
        const std::string below = normalisedKey(path);
        const std::size_t user = below.find('\\');
        return user == std::string::npos ? std::string() : below.substr(user + 1);
    }
    return std::nullopt;
}

bool holdsRestriction(std::string_view subKey, const restrictions::Restriction& restriction) {
    std::string key = normalisedKey(subKey);
    constexpr std::string_view kSoftware = "software";
    constexpr std::string_view kView = "\\wow6432node";
    const std::string lower = lowerCase(key);
    const std::size_t viewEnd = kSoftware.size() + kView.size();
    if (lower.starts_with(std::string(kSoftware) + std::string(kView)) &&
        (lower.size() == viewEnd || lower[viewEnd] == '\\')) {
        key.erase(kSoftware.size(), kView.size());
    }
    return equalIgnoringCase(key, restriction.subKey);
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
