#include "formats/result.h"

#include <cctype>
#include <cerrno>

namespace quorvane {

std::string describeError(int error) {
    switch (error) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return "disk full";
        case EIO:
            return "input/output error";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EROFS:
            return "read-only file system";
        case ENOLCK:
            return "no locks available";
        default:
            break;
    }
    std::string text = std::generic_category().message(error);
    if (!text.empty()) {
        text.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(text.front())));
    }
    return text;
}

std::string describeError(const std::error_code& error) {
    if (error.category() == std::generic_category()
#ifndef _WIN32
        || error.category() == std::system_category()
#endif
    ) {
        return describeError(error.value());
    }
    return error.message();
}

}  // namespace quorvane
