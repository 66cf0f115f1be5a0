// Accessibility on Windows: an application element is a process; its windows
// are its visible top-level windows, and a window's title is its text as the
// system keeps it.
#include <windows.h>

#include <vector>

#include "platform/platform.h"
#include "platform/utf16.h"
#include "platform/window_accessibility.h"
#include "platform/windows/foreground.h"
#include "platform/windows/handles.h"

namespace window_accessibility {
namespace {

// Titles are read up to this many UTF-16 units; a longer one is cut there.
constexpr int longestTitle = 32767;
// At most this many of a process's windows are listed.
constexpr std::size_t mostWindows = 64;

std::uint64_t id(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }
HWND handle(std::uint64_t window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }

// The window's text. For a window of another process GetWindowTextW reads
// what the system keeps without sending the window a message, so a window
// that does not answer cannot hold a sample up. None when it has no text.
std::optional<std::string> windowTitle(HWND window) {
    static wchar_t buffer[longestTitle + 1];  // the main thread's
    const int length = GetWindowTextW(window, buffer, longestTitle + 1);
    if (length <= 0) return std::nullopt;
    return platform::utf16ToUtf8(windows_desktop::units(buffer, static_cast<std::size_t>(length)));
}

// The visible top-level windows of process `pid` that have a title, top-most
// first (the order EnumWindows gives).
std::vector<std::uint64_t> titledWindowsOf(std::int32_t pid) {
    struct Search {
        DWORD pid;
        std::vector<std::uint64_t> windows;
    } search{static_cast<DWORD>(pid), {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t first[2];
            if (owner == s.pid && IsWindowVisible(window) && GetWindowTextW(window, first, 2) > 0) {
                s.windows.push_back(id(window));
            }
            return s.windows.size() < mostWindows;
        },
        reinterpret_cast<LPARAM>(&search));
    return std::move(search.windows);
}

}  // namespace

using platform::axSuccess;
using platform::Handle;
using platform::Object;

int readApplication(const Object& application, std::string_view attribute, Handle& value) {
    if (attribute == "AXFocusedWindow") {
        const auto& facts = windows_desktop::foreground();
        if (!facts || static_cast<std::int32_t>(facts->pid) != application.pid) return axNoValue;
        value = makeWindow(id(facts->window));
        return axSuccess;
    }
    if (attribute == "AXWindows") {
        value = makeWindowList(titledWindowsOf(application.pid));
        return axSuccess;
    }
    return axAttributeUnsupported;
}

int readWindow(const Object& window, std::string_view attribute, Handle& value) {
    if (attribute != "AXTitle") return axAttributeUnsupported;
    std::optional<std::string> title = windowTitle(handle(window.window));
    if (!title) return axNoValue;
    value = makeText(std::move(*title));
    return axSuccess;
}

}  // namespace window_accessibility

namespace platform {

// Windows has no permission to grant for reading other programs' windows.
// (An unelevated collector is denied some of elevated windows by UIPI all
// the same; the README says what.)
bool accessibilityTrusted() { return true; }

// Every member is real on Windows, with nothing to grant (what an unelevated
// collector cannot see of elevated windows aside).
DesktopDescription describeDesktop() {
    return {.windowSystem = "windows",
            .process = Availability::given,
            .bundleId = Availability::given,
            .idleSeconds = Availability::given,
            .url = Availability::given,
            .windowTitle = Availability::given,
            .keysTotal = Availability::given,
            .clicksTotal = Availability::given};
}

}  // namespace platform
