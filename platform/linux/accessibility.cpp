// Accessibility on X11: an application element is a process; its windows are
// the window manager's client windows that the process created.
#include "platform/linux/display.h"
#include "platform/linux/objects.h"
#include "platform/platform.h"

namespace platform {
namespace {

constexpr int axFailure = -25200;
constexpr int axAttributeUnsupported = -25205;
constexpr int axNoValue = -25212;

int readApplication(const Object& application, std::string_view attribute, Handle& value) {
    if (attribute == "AXFocusedWindow") {
        const auto& active = x11::snapshot().active;
        if (!active || active->pid != application.pid) return axNoValue;
        value = x11::makeWindow(active->id);
        return axSuccess;
    }
    if (attribute == "AXWindows") {
        if (!x11::connected()) return axFailure;
        const auto& clients = x11::clientWindows();
        std::vector<std::uint32_t> windows;
        for (auto it = clients.rbegin(); it != clients.rend(); ++it) {  // the list runs bottom to top
            if (it->pid == application.pid) windows.push_back(it->id);
        }
        value = x11::makeWindowList(std::move(windows));
        return axSuccess;
    }
    return axAttributeUnsupported;
}

int readWindow(const Object& window, std::string_view attribute, Handle& value) {
    if (attribute != "AXTitle") return axAttributeUnsupported;
    const auto& active = x11::snapshot().active;
    std::optional<std::string> title =
        active && active->id == window.window ? active->title : x11::windowTitle(window.window);
    if (!title) return axNoValue;
    value = x11::makeText(std::move(*title));
    return axSuccess;
}

}  // namespace

bool accessibilityTrusted() { return x11::windowManagerReportsActiveWindow(); }

Handle createApplicationElement(std::int32_t pid) { return x11::makeApplication(pid); }

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
    return x11::makeWindow(list->windows.front());
}

std::string textValue(const Handle& text) { return isText(text) ? text->text : std::string(); }

}  // namespace platform
