// The Wayland window system's operations, as the shared Linux desktop calls
// them. Wayland gives an unprivileged client no view of other clients' key
// presses or clicks, so the input totals stay 0.
#include "platform/linux/wayland/wayland.h"

namespace wayland {
namespace {

// The compositor offered the foreign-toplevel manager when the collector
// started: that is the trust answer, lost connection or not.
bool reportsActiveWindow() { return true; }

ws::InputTotals inputTotals() { return {}; }

platform::DesktopDescription describe() {
    using platform::Availability;
    return {.windowSystem = "wlroots",
            .process = Availability::given,
            .bundleId = Availability::given,
            .idleSeconds = offersIdle() ? Availability::given : Availability::never,
            .url = Availability::given,
            .windowTitle = Availability::given};
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

}  // namespace wayland
