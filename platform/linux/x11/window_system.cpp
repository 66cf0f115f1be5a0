// The X11 window system's operations, as the shared Linux desktop calls them.
#include "platform/linux/x11/x11.h"

namespace x11 {
namespace {

bool reportsActiveWindow() { return checkConnection() && display.reportsActive; }

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
};

}  // namespace x11
