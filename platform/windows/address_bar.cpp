#include "platform/windows/address_bar.h"

#include <array>
#include <utility>

#include "platform/utf16.h"
#include "platform/windows/identity.h"

namespace windows_desktop {
namespace {

constexpr std::array<std::pair<std::u16string_view, Browser>, 7> browsers = {{
    {u"chrome.exe", Browser::chromium},
    {u"msedge.exe", Browser::chromium},
    {u"brave.exe", Browser::chromium},
    {u"vivaldi.exe", Browser::chromium},
    {u"opera.exe", Browser::chromium},
    {u"chromium.exe", Browser::chromium},
    {u"firefox.exe", Browser::firefox},
}};

}  // namespace

Browser browserOf(std::u16string_view executablePath) {
    const std::u16string_view name = fileName(executablePath);
    for (const auto& [file, browser] : browsers) {
        if (equalIgnoringAsciiCase(name, file)) return browser;
    }
    return Browser::none;
}

AddressBarCondition addressBarCondition(Browser browser) {
    AddressBarCondition condition;
    if (browser == Browser::firefox) condition.automationId = u"urlbar-input";
    return condition;
}

std::string addressBarUrl(std::u16string_view executablePath, AutomationTree& tree) {
    const Browser browser = browserOf(executablePath);
    if (browser == Browser::none) return {};
    const std::optional<std::u16string> value = tree.firstValue(addressBarCondition(browser));
    if (!value || value->size() > longestUrl) return {};
    std::string url = platform::utf16ToUtf8(*value);
    return url.size() <= longestUrl ? url : std::string();
}

}  // namespace windows_desktop
