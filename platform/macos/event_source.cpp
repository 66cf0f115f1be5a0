// Input event source: the window server's idle times and event counters.
#include <CoreGraphics/CoreGraphics.h>

#include "platform/platform.h"

namespace platform {
namespace {

// The values the collector passes are the framework's own.
static_assert(kCGEventSourceStateHIDSystemState == CGEventSourceStateID(hidSystemState));
static_assert(kCGEventLeftMouseDown == CGEventType(eventType::leftMouseDown));
static_assert(kCGEventRightMouseDown == CGEventType(eventType::rightMouseDown));
static_assert(kCGEventMouseMoved == CGEventType(eventType::mouseMoved));
static_assert(kCGEventLeftMouseDragged == CGEventType(eventType::leftMouseDragged));
static_assert(kCGEventRightMouseDragged == CGEventType(eventType::rightMouseDragged));
static_assert(kCGEventKeyDown == CGEventType(eventType::keyDown));
static_assert(kCGEventScrollWheel == CGEventType(eventType::scrollWheel));
static_assert(kCGEventOtherMouseDown == CGEventType(eventType::otherMouseDown));
static_assert(kCGEventOtherMouseDragged == CGEventType(eventType::otherMouseDragged));

}  // namespace

double secondsSinceLastEventType(int state, int type) {
    return CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID(state), CGEventType(type));
}

std::uint32_t counterForEventType(int state, int type) {
    return CGEventSourceCounterForEventType(CGEventSourceStateID(state), CGEventType(type));
}

}  // namespace platform
