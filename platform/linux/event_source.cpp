// Input readings: idle time as the window system reports it, totals of the
// input counted since the collector started.
#include "platform/linux/window_system.h"
#include "platform/platform.h"

namespace platform {

double secondsSinceLastEventType(int, int) { return ws::snapshot().idleSeconds; }

std::uint32_t counterForEventType(int, int type) {
    ws::snapshot();  // counts the input the server has sent up to this sample
    const auto totals = ws::windowSystem().inputTotals();
    switch (type) {
        case eventType::keyDown: return totals.keys;
        case eventType::leftMouseDown: return totals.left;
        case eventType::rightMouseDown: return totals.right;
        case eventType::otherMouseDown: return totals.other;
        default: return 0;
    }
}

}  // namespace platform
