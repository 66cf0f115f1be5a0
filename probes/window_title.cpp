// The title of an application's focused window, or else of its first window,
// read through the accessibility interface.
#include "platform/utf8.h"
#include "probes/probes.h"

using namespace platform;

Handle axValue(const Handle& element, std::string_view attribute) {
    Handle value;
    if (copyAttributeValue(element, attribute, value) != axSuccess) return {};
    return value;
}

namespace {

// The title of `window` when it reads as a text; nothing otherwise.
std::optional<std::string> titleOf(Handle window) {
    Handle title = axValue(window, "AXTitle");
    window.reset();
    if (!title || !isText(title)) return std::nullopt;
    return textValue(title);
}

std::optional<std::string> focusedTitle(const Handle& application) {
    Handle window = axValue(application, "AXFocusedWindow");
    if (!window || !isElement(window)) return std::nullopt;
    return titleOf(std::move(window));
}

std::optional<std::string> firstWindowTitle(const Handle& application) {
    Handle windows = axValue(application, "AXWindows");
    if (!windows || !isElementList(windows) || listCount(windows) == 0) return std::nullopt;
    Handle first = listFirst(windows);
    windows.reset();
    return titleOf(std::move(first));
}

}  // namespace

std::string focusedWindowTitle(std::int32_t pid) {
    Handle application = createApplicationElement(pid);
    auto title = focusedTitle(application);
    if (!title) title = firstWindowTitle(application);
    return title ? boundedUtf8(*title, longestTitle) : std::string();
}
