#include "diagnosis/shell_link.h"

#include <cstdint>
#include <optional>

#include "formats/little_endian.h"
#include "formats/utf16.h"

namespace quorvane::diagnosis {

namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr std::string_view kLinkClsid{
    "\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};

// LinkFlags.
constexpr std::uint32_t kHasTargetIdList = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kHasName = 0x4;
constexpr std::uint32_t kHasRelativePath = 0x8;
constexpr std::uint32_t kHasWorkingFolder = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kForceNoLinkInfo = 0x100;

// LinkInfoFlags.
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;

constexpr std::uint32_t kEnvironmentBlock = 0xA0000001;
constexpr std::size_t kEnvironmentAnsiSize = 260;

// Reads little-endian numbers and strings from bytes it never reads past.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::optional<std::uint32_t> number(std::size_t at, std::size_t size) const {
        const auto value = formats::readLe(bytes_, at, size);
        return value ? std::optional(static_cast<std::uint32_t>(*value)) : std::nullopt;
    }

    std::optional<std::string_view> span(std::size_t at, std::size_t size) const {
        if (at > bytes_.size() || size > bytes_.size() - at) {
            return std::nullopt;
        }
        return bytes_.substr(at, size);
    }

    // A string ending in a NUL (one byte, or two for UTF-16) at `at`, without it.
    std::optional<std::string> terminated(std::size_t at, bool unicode) const {
        const std::size_t unit = unicode ? 2 : 1;
        for (std::size_t end = at; end + unit <= bytes_.size(); end += unit) {
            if (bytes_.substr(end, unit).find_first_not_of('\0') == std::string_view::npos) {
                return decode(bytes_.substr(at, end - at), unicode);
            }
        }
        return std::nullopt;
    }

    static std::string decode(std::string_view bytes, bool unicode) {
        if (unicode) {
            return formats::utf16ToNarrow(formats::utf16Units(bytes));
        }
#ifdef _WIN32
        return std::string(bytes);  // the narrow encoding is the ANSI code page itself
#else
        // The ANSI code page of the link's maker is not recorded; its first 256 characters are
        // taken as Latin-1, which Western code pages share outside 0x80-0x9F.
        std::u16string units;
        for (char c : bytes) {
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
        }
        return formats::utf16ToNarrow(units);
#endif
    }

private:
    std::string_view bytes_;
};

// The link info's local path, base and suffix joined; nullopt when it is damaged.
std::optional<std::string> linkInfoPath(const Reader& link, std::size_t at, std::size_t size) {
    const auto headerSize = link.number(at + 4, 4);
    const auto flags = link.number(at + 8, 4);
    if (!headerSize || !flags || *headerSize < 0x1C || *headerSize > size) {
        return std::nullopt;
    }
    if ((*flags & kVolumeIdAndLocalBasePath) == 0) {
        return std::string();  // on a network share only
    }
    const bool unicode = *headerSize >= 0x24;
    const auto baseOffset = link.number(at + (unicode ? 0x1C : 0x10), 4);
    const auto suffixOffset = link.number(at + (unicode ? 0x20 : 0x18), 4);
    if (!baseOffset || !suffixOffset || *baseOffset >= size || *suffixOffset >= size) {
        return std::nullopt;
    }
    const Reader info(*link.span(at, size));
    const auto base = info.terminated(*baseOffset, unicode);
    const auto suffix = info.terminated(*suffixOffset, unicode);
    if (!base || !suffix) {
        return std::nullopt;
    }
    return *base + (!base->empty() && !suffix->empty() && base->back() != '\\' ? "\\" : "") +
           *suffix;
}

// The target the environment-variables block names ("%windir%\regedit.exe"), if there is one.
std::string environmentTarget(const Reader& link, std::size_t at) {
    for (int blocks = 0; blocks < 64; ++blocks) {
        const auto size = link.number(at, 4);
        const auto signature = link.number(at + 4, 4);
        if (!size || *size < 8 || !signature) {
            break;
        }
        if (*signature == kEnvironmentBlock) {
            const auto unicode = link.span(at + 8 + kEnvironmentAnsiSize, 2 * kEnvironmentAnsiSize);
            const auto ansi = link.span(at + 8, kEnvironmentAnsiSize);
            if (unicode) {
                const Reader block(*unicode);
                if (auto text = block.terminated(0, true); text && !text->empty()) {
                    return *text;
                }
            }
            if (ansi) {
                return Reader(*ansi).terminated(0, false).value_or(std::string());
            }
            break;
        }
        at += *size;
    }
    return {};
}

}  // namespace

std::string ShellLink::commandLine() const {
    const std::string& program = target.empty() ? relativePath : target;
    std::string line = program.find(' ') == std::string::npos ? program : '"' + program + '"';
    if (!arguments.empty()) {
        line += (line.empty() ? "" : " ") + arguments;
    }
    return line;
}

Result<ShellLink> readShellLink(std::string_view bytes) {
    const Reader link(bytes);
    const auto headerSize = link.number(0, 4);
    const auto clsid = link.span(4, 16);
    const auto flags = link.number(0x14, 4);
    if (!headerSize || *headerSize != kHeaderSize || !clsid || *clsid != kLinkClsid || !flags) {
        return failure("it is no shell link (its header is not one)");
    }
    ShellLink result;
    std::size_t at = kHeaderSize;
    if (*flags & kHasTargetIdList) {
        const auto size = link.number(at, 2);
        if (!size) {
            return failure("its target ID list runs past the end");
        }
        at += 2 + *size;
    }
    if ((*flags & kHasLinkInfo) && !(*flags & kForceNoLinkInfo)) {
        const auto size = link.number(at, 4);
        if (!size || !link.span(at, *size)) {
            return failure("its link info runs past the end");
        }
        auto path = linkInfoPath(link, at, *size);
        if (!path) {
            return failure("its link info is damaged");
        }
        result.target = std::move(*path);
        at += *size;
    } else if (*flags & kHasLinkInfo) {
        at += link.number(at, 4).value_or(0);
    }
    const bool unicode = (*flags & kIsUnicode) != 0;
    std::string ignored;
    std::string* const strings[] = {&ignored, &result.relativePath, &result.workingFolder,
                                    &result.arguments, &ignored};
    const std::uint32_t present[] = {kHasName, kHasRelativePath, kHasWorkingFolder, kHasArguments,
                                     kHasIconLocation};
    for (std::size_t i = 0; i < std::size(present); ++i) {
        if ((*flags & present[i]) == 0) {
            continue;
        }
        const auto count = link.number(at, 2);
        const std::size_t size = count ? *count * (unicode ? 2u : 1u) : 0;
        const auto text = count ? link.span(at + 2, size) : std::nullopt;
        if (!text) {
            return failure("its string data runs past the end");
        }
        *strings[i] = Reader::decode(*text, unicode);
        at += 2 + size;
    }
    if (result.target.empty()) {
        result.target = environmentTarget(link, at);
    }
    return result;
}

}  // namespace quorvane::diagnosis
