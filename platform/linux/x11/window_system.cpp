// The X11 window system's operations, as the shared Linux desktop calls them.
#include "platform/linux/x11/x11.h"

namespace x11 {
namespace {

bool reportsActiveWindow() { return checkConnection() && display.reportsActive; }

// Without a display nothing serves; without _NET_ACTIVE_WINDOW only the
// idle time and the totals do.
platform::DesktopDescription describe() {
    using platform::Availability;
    if (!checkConnection()) return {};
    const Availability window = display.reportsActive ? Availability::given : Availability::never;
    const Availability input = display.xinput ? Availability::given : Availability::never;
    return {.windowSystem = "x11",
            .process = window,
            .bundleId = window,
            .idleSeconds = display.screensaver ? Availability::given : Availability::never,
            .url = window,
            .windowTitle = window,
            .keysTotal = input,
            .clicksTotal = input};
}

}  // namespace

const ws::WindowSystem windowSystem = {
    .reportsActiveWindow = reportsActiveWindow,
    .descriptors = descriptors,
    .dispatch = dispatch,
    .takeActiveWindowChange = takeActiveWindowChange,
    .readSnapshot = readSnapshot,
    .clientWindows = clientWindows,
    .windowTitle = windowTitle,
    .inputTotals = inputTotals,
    .reconnectIfLost = reconnectIfLost,
    .describe = describe,
};

}  // namespace x11
