// Input readings: idle time from the screen saver extension, totals from the
// XInput 2 raw events counted since the collector started.
#include "platform/linux/display.h"
#include "platform/platform.h"

namespace platform {

double secondsSinceLastEventType(int, int) { return x11::snapshot().idleSeconds; }

std::uint32_t counterForEventType(int, int type) {
    x11::snapshot();  // counts the input the server has sent up to this sample
    const auto& totals = x11::inputTotals();
    switch (type) {
        case eventType::keyDown: return totals.keys;
        case eventType::leftMouseDown: return totals.left;
        case eventType::rightMouseDown: return totals.right;
        case eventType::otherMouseDown: return totals.other;
        default: return 0;
    }
}

}  // namespace platform
