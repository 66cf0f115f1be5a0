// The GNOME Shell window system's operations, as the shared Linux desktop
// calls them. Wayland gives an unprivileged client no view of other clients'
// key presses or clicks, so the input totals stay 0.
#include "platform/linux/gnome/gnome.h"

namespace gnome {
namespace {

// The extension answered when the collector started: that is the trust
// answer, lost connection or not. Without it, the idle time alone.
bool reportsActiveWindow() { return extensionAnsweredAtStart(); }

ws::InputTotals inputTotals() { return {}; }

// The window facts come from the extension; the idle time from Mutter.
platform::DesktopDescription describe() {
    using platform::Availability;
    const Availability window = extensionAnsweredAtStart() ? Availability::given : Availability::noExtension;
    const Session* s = session();
    const bool monitor = s && s->monitor == Session::Answer::yes;
    return {.windowSystem = "gnome",
            .process = window,
            .bundleId = window,
            .idleSeconds = monitor ? Availability::given : Availability::never,
            .url = window,
            .windowTitle = window};
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

}  // namespace gnome
