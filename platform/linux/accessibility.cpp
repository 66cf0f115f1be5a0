// Accessibility on Linux: an application element is a process; its windows
// are the window system's client windows of that process.
#include "platform/linux/window_system.h"
#include "platform/platform.h"
#include "platform/window_accessibility.h"

namespace window_accessibility {

using platform::axSuccess;
using platform::Handle;
using platform::Object;

int readApplication(const Object& application, std::string_view attribute, Handle& value) {
    if (attribute == "AXFocusedWindow") {
        const auto& active = ws::snapshot().active;
        if (!active || active->pid != application.pid) return axNoValue;
        value = makeWindow(active->id);
        return axSuccess;
    }
    if (attribute == "AXWindows") {
        if (!ws::windowSystem().reportsActiveWindow()) return axFailure;
        std::vector<std::uint64_t> windows;
        for (const auto& client : ws::clientWindows()) {
            if (client.pid == application.pid) windows.push_back(client.id);
        }
        value = makeWindowList(std::move(windows));
        return axSuccess;
    }
    return axAttributeUnsupported;
}

int readWindow(const Object& window, std::string_view attribute, Handle& value) {
    if (attribute != "AXTitle") return axAttributeUnsupported;
    const auto& active = ws::snapshot().active;
    std::optional<std::string> title = active && active->id == window.window
                                           ? active->title
                                           : ws::windowSystem().windowTitle(window.window);
    if (!title) return axNoValue;
    value = makeText(std::move(*title));
    return axSuccess;
}

}  // namespace window_accessibility

namespace platform {

bool accessibilityTrusted() { return ws::windowSystem().reportsActiveWindow(); }

}  // namespace platform
