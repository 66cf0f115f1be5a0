// What a platform object is on Windows: a small value the collector owns
// through a platform::Handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct Object {
    enum class Kind { application, window, text, windowList };
    Kind kind;
    std::int32_t pid = 0;          // application: its process
    HWND window = nullptr;         // window
    std::string text{};            // text: UTF-8 bytes
    std::vector<HWND> windows{};   // window list, top-most first
};

}  // namespace platform

namespace windows_desktop {

platform::Handle makeApplication(std::int32_t pid);
platform::Handle makeWindow(HWND window);
platform::Handle makeText(std::string text);
platform::Handle makeWindowList(std::vector<HWND> windows);

}  // namespace windows_desktop
