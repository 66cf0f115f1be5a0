// Accessibility on the desktops whose window system tells the windows and
// their titles (Linux, Windows), written once: an application element is a
// process, its windows are the window system's, and every platform object is
// a small value the collector owns through a platform::Handle.
//
// Each such desktop defines the two readers below and accessibilityTrusted();
// window_accessibility.cpp defines the rest of the accessibility boundary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct Object {
    enum class Kind { application, window, text, windowList };
    Kind kind;
    std::int32_t pid = 0;                  // application: its process
    std::uint64_t window = 0;              // window: its id in the window system
    std::string text{};                    // text: UTF-8 bytes
    std::vector<std::uint64_t> windows{};  // window list: ids, top-most first
};

}  // namespace platform

namespace window_accessibility {

inline constexpr int axFailure = -25200;
inline constexpr int axAttributeUnsupported = -25205;
inline constexpr int axNoValue = -25212;

platform::Handle makeApplication(std::int32_t pid);
platform::Handle makeWindow(std::uint64_t window);
platform::Handle makeText(std::string text);
platform::Handle makeWindowList(std::vector<std::uint64_t> windows);

// The desktop's readers of one attribute ("AXFocusedWindow", "AXWindows" of
// an application; "AXTitle" of a window), with copyAttributeValue's contract.
int readApplication(const platform::Object& application, std::string_view attribute, platform::Handle& value);
int readWindow(const platform::Object& window, std::string_view attribute, platform::Handle& value);

}  // namespace window_accessibility
