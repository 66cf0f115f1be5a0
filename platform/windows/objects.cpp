#include "platform/windows/objects.h"

#include <utility>

namespace platform {

void release(Object* object) { delete object; }

}  // namespace platform

namespace windows_desktop {

using platform::Handle;
using platform::Object;

Handle makeApplication(std::int32_t pid) {
    Handle object(new Object{Object::Kind::application});
    object->pid = pid;
    return object;
}

Handle makeWindow(HWND window) {
    Handle object(new Object{Object::Kind::window});
    object->window = window;
    return object;
}

Handle makeText(std::string text) {
    Handle object(new Object{Object::Kind::text});
    object->text = std::move(text);
    return object;
}

Handle makeWindowList(std::vector<HWND> windows) {
    Handle object(new Object{Object::Kind::windowList});
    object->windows = std::move(windows);
    return object;
}

}  // namespace windows_desktop
