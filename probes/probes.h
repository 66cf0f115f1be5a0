// The desktop probes: each reads one fact afresh through the platform and
// returns a value in every case; 0 or the empty text stands for a fact that
// could not be read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

struct InputCounts {
    std::uint64_t keys = 0;
    std::uint64_t clicks = 0;
};

// Whole seconds since the last key press, mouse movement, left or right button
// press or scroll-wheel event.
std::int64_t idleSeconds();

// Running totals of key presses and of mouse-button presses.
InputCounts inputCounts();

// One attribute of an accessibility element, or nothing unless the read
// succeeded and delivered a value.
platform::Handle axValue(const platform::Handle& element, std::string_view attribute);

// Title of process `pid`'s focused window, or else of its first window, as
// well-formed UTF-8 of at most `longestTitle` bytes: a longer title is cut at
// a character boundary (a title is whatever its application put there, and
// may run to megabytes).
inline constexpr std::size_t longestTitle = 64 * 1024;
std::string focusedWindowTitle(std::int32_t pid);

// URL of the active tab when `bundleId` names a supported browser.
std::string browserUrl(std::string_view bundleId, std::string_view appName);

// The browsers the URL probe knows, by bundle identifier.
inline constexpr std::array<std::string_view, 7> browserTable = {
    "com.google.Chrome",      "com.google.Chrome.beta", "com.brave.Browser",
    "com.microsoft.edgemac",  "com.apple.Safari",       "company.thebrowser.Browser",
    "org.mozilla.firefox",
};
