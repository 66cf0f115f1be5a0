// What a platform object is on Linux: a small value the collector owns through
// a platform::Handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct Object {
    enum class Kind { application, window, text, windowList };
    Kind kind;
    std::int32_t pid = 0;                // application: its process
    std::uint64_t window = 0;            // window: its id
    std::string text{};                    // text: UTF-8 bytes
    std::vector<std::uint64_t> windows{};  // window list: ids, top-most first
};

}  // namespace platform

namespace linux_desktop {

platform::Handle makeApplication(std::int32_t pid);
platform::Handle makeWindow(std::uint64_t window);
platform::Handle makeText(std::string text);
platform::Handle makeWindowList(std::vector<std::uint64_t> windows);

}  // namespace linux_desktop
