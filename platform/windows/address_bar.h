// The active tab's URL on Windows: the browser's address bar, found in its
// window's UI Automation tree with one search. Which browser and which
// search are plain C++ (no windows.h), tested on every platform over a tree
// of the tests' own; tab_url.cpp asks the real tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace windows_desktop {

enum class Browser { none, chromium, firefox };

// The browser an executable is, told by its file name without regard to
// case: chrome.exe, msedge.exe, brave.exe, vivaldi.exe, opera.exe and
// chromium.exe are the Chromium family, firefox.exe is Firefox.
Browser browserOf(std::u16string_view executablePath);

inline constexpr std::int32_t editControlType = 50004;  // UIA_EditControlTypeId

// What tells the address bar apart in the browser's automation tree: an
// element of this control type and, when given, this automation id.
struct AddressBarCondition {
    std::int32_t controlType = editControlType;
    std::optional<std::u16string> automationId;
    bool operator==(const AddressBarCondition&) const = default;
};

// The condition for `browser` (not none): in the Chromium family the first
// edit in the window, which is the toolbar's, before any page content;
// Firefox's address bar by its id, "urlbar-input".
AddressBarCondition addressBarCondition(Browser browser);

// The automation tree of one window, as the lookup asks it.
class AutomationTree {
public:
    virtual ~AutomationTree() = default;
    // The Value (the Value pattern's) of the first element below the window,
    // in the tree's order, that meets `condition`, fetched with the search in
    // one request. None when no element meets it, it has no value, or the
    // request fails or is not answered in time.
    virtual std::optional<std::u16string> firstValue(const AddressBarCondition& condition) = 0;
};

// Values longer than this in UTF-8 are not taken as a URL (a data: URL can run to megabytes).
inline constexpr std::size_t longestUrl = 64 * 1024;

// The URL in the address bar of the window `tree` is of, whose process runs
// `executablePath`; the empty text when that is no browser known here (the
// tree is then not asked), or the bar cannot be found or read.
std::string addressBarUrl(std::u16string_view executablePath, AutomationTree& tree);

}  // namespace windows_desktop
