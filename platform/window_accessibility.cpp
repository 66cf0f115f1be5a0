#include "platform/window_accessibility.h"

#include <utility>

namespace window_accessibility {

using platform::Handle;
using platform::Object;

Handle makeApplication(std::int32_t pid) {
    Handle object(new Object{Object::Kind::application});
    object->pid = pid;
    return object;
}

Handle makeWindow(std::uint64_t window) {
    Handle object(new Object{Object::Kind::window});
    object->window = window;
    return object;
}

Handle makeText(std::string text) {
    Handle object(new Object{Object::Kind::text});
    object->text = std::move(text);
    return object;
}

Handle makeWindowList(std::vector<std::uint64_t> windows) {
    Handle object(new Object{Object::Kind::windowList});
    object->windows = std::move(windows);
    return object;
}

}  // namespace window_accessibility

namespace platform {

using namespace window_accessibility;

void release(Object* object) { delete object; }

Handle createApplicationElement(std::int32_t pid) { return makeApplication(pid); }

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
