#include "platform/narrow_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/hive_text.h"
#endif

namespace quorvane::platform {

#ifdef _WIN32

std::u16string narrowToUtf16(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), needed);
    return std::u16string(wide.begin(), wide.end());
}

std::string utf16ToNarrow(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    const std::wstring wide(text.begin(), text.end());
    const int size = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

#else

std::u16string narrowToUtf16(std::string_view text) {
    return hive::utf8ToUtf16(text);
}

std::string utf16ToNarrow(std::u16string_view text) {
    return hive::utf16ToUtf8(text);
}

#endif

}  // namespace quorvane::platform
