// Accessibility on Linux: an application element is a process; its windows
// are the window system's client windows of that process.
#include "platform/linux/objects.h"
#include "platform/linux/window_system.h"
#include "platform/platform.h"

namespace platform {
namespace {

using linux_desktop::makeText;
using linux_desktop::makeWindow;
using linux_desktop::makeWindowList;

constexpr int axFailure = -25200;
constexpr int axAttributeUnsupported = -25205;
constexpr int axNoValue = -25212;

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

}  // namespace

bool accessibilityTrusted() { return ws::windowSystem().reportsActiveWindow(); }

Handle createApplicationElement(std::int32_t pid) { return linux_desktop::makeApplication(pid); }

int copyAttributeValue(const Handle& element, std::string_view attribute, Handle& value) {
    if (!element) return axFailure;
    switch (element->kind) {
        case Object::Kind::application: return readApplication(*element, attribute, value);
        case Object::Kind::window: return readWindow(*element, attribute, value);
        default: return axFailure;
    }
}

bool isElement(const Handle& value) {
    return value && (value->kind == Object::Kind::window || value->kind == Object::Kind::application);
}

bool isText(const Handle& value) { return value && value->kind == Object::Kind::text; }

bool isElementList(const Handle& value) { return value && value->kind == Object::Kind::windowList; }

std::size_t listCount(const Handle& list) { return isElementList(list) ? list->windows.size() : 0; }

Handle listFirst(const Handle& list) {
    if (listCount(list) == 0) return Handle();
    return makeWindow(list->windows.front());
}

std::string textValue(const Handle& text) { return isText(text) ? text->text : std::string(); }

}  // namespace platform
