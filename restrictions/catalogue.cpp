#include "restrictions/catalogue.h"

#include "platform/letter_case.h"

namespace quorvane::restrictions {

namespace {

constexpr const char* kPanel = kControlPanelKey;
constexpr const char* kRestr = kRestrictionsKey;
constexpr const char* kTbRestr = kToolbarRestrictionsKey;
constexpr const char* kSysPol = kSystemPoliciesKey;
constexpr const char* kIeMain = kBrowserMainKey;
constexpr Kind kDword = Kind::Dword;

}  // namespace

// clang-format off
const std::array<Restriction, kRestrictionCount> kCatalogue = {{
    // no caption                                tooltip pos tab col row sub-key   value name
    {1,  "Change Home/Search Page",             "",  1, 1, 1, 1, kPanel,   "HomePage", kDword},
    {2,  "Always prompt when downloading",      "",  2, 1, 1, 2, kRestr,   "AlwaysPromptWhenDownload", kDword},
    {3,  "Changes to browsers bars",            "",  3, 1, 1, 3, kRestr,   "NoBrowserBars", kDword},
    {4,  "Closing Internet Explorer",           "",  4, 1, 1, 4, kRestr,   "NoBrowserClose", kDword},
    {5,  "Rght-click context menu",             "",  5, 1, 2, 1, kRestr,   "NoBrowserContextMenu", kDword},
    {6,  "Tools > Internet Options menu",       "",  6, 1, 2, 2, kRestr,   "NoBrowserOptions", kDword},
    {7,  "File > Save As command",              "",  9, 2, 1, 1, kRestr,   "NoBrowserSaveAs", kDword},
    {8,  "Favorites",                           "",  7, 1, 2, 3, kRestr,   "NoFavorites", kDword},
    {9,  "File > New command",                  "", 10, 2, 1, 2, kRestr,   "NoFileNew", kDword},
    {10, "File > Open command",                 "", 11, 2, 1, 3, kRestr,   "NoFileOpen", kDword},
    {11, "Find Files command",                  "", 12, 2, 1, 4, kRestr,   "NoFindFiles", kDword},
    {12, "Forward and Back navigation buttons", "",  8, 1, 2, 4, kRestr,   "NoNavButtons", kDword},
    {13, "Open in New Window option",           "", 13, 2, 2, 1, kRestr,   "NoOpeninNewWnd", kDword},
    {14, "Print/Print Preview",                 "", 14, 2, 2, 2, kRestr,   "NoPrinting", kDword},
    {15, "Selecting a download directory",      "", 15, 2, 2, 3, kRestr,   "NoSelectDownloadDir", kDword},
    {16, "Full Screen view",                    "", 17, 3, 1, 1, kRestr,   "NoTheaterMode", kDword},
    {17, "View the page source",                "", 16, 2, 2, 4, kRestr,   "NoViewSource", kDword},
    {18, "Mail and News menu",                  "", 18, 3, 1, 2, kRestr,   "RestGoMenu", kDword},
    {19, "Toolbar options",                     "", 19, 3, 1, 3, kTbRestr, "NoToolbarOptions", kDword},
    {20, "Address bar",                         "", 20, 3, 1, 4, kTbRestr, "NoAddressBar", kDword},
    {21, "Toolbar",                             "", 21, 3, 2, 1, kTbRestr, "NoToolBar", kDword},
    {22, "Links bar",                           "", 22, 3, 2, 2, kTbRestr, "NoLinksBar", kDword},
    {23, "Registry Editor",                     "", 23, 3, 2, 3, kSysPol,  kRegistryToolsValue, kDword},
    {24, "Custom Window Title", "Uncheck to remove custom window title",
                                                     24, 3, 2, 4, kIeMain,  kWindowTitleValue, Kind::String},
}};
// clang-format on

const std::array<const char*, 3> kTabCaptions = {"Restrictions 1-8  ", "Restrictions 9-16  ",
                                                 "Restrictions 17-24  "};

std::optional<Restriction> restrictionByNumber(int number) {
    if (number < 1 || number > kRestrictionCount) {
        return std::nullopt;
    }
    return kCatalogue[static_cast<std::size_t>(number - 1)];
}

std::optional<Restriction> restrictionByValueName(std::string_view valueName) {
    for (const Restriction& restriction : kCatalogue) {
        if (platform::equalIgnoringCase(restriction.valueName, valueName)) {
            return restriction;
        }
    }
    return std::nullopt;
}

Placement placementOf(const Restriction& restriction) {
    constexpr int kPitch = 600;
    return {restriction.column == 1 ? 240 : 4080, 1200 + (restriction.row - 1) * kPitch,
            restriction.position <= 12 ? 3135 : 2595, 195};
}

}  // namespace quorvane::restrictions
