// Idle time and input totals, from the platform's input event source.
#include <cmath>
#include <limits>

#include "probes/probes.h"

using namespace platform;

std::int64_t idleSeconds() {
    const double readings[] = {
        secondsSinceLastEventType(hidSystemState, eventType::keyDown),
        secondsSinceLastEventType(hidSystemState, eventType::mouseMoved),
        secondsSinceLastEventType(hidSystemState, eventType::leftMouseDown),
        secondsSinceLastEventType(hidSystemState, eventType::rightMouseDown),
        secondsSinceLastEventType(hidSystemState, eventType::scrollWheel),
        // Moving with a button held is a drag, not a move; a middle click is
        // another button's press.
        secondsSinceLastEventType(hidSystemState, eventType::leftMouseDragged),
        secondsSinceLastEventType(hidSystemState, eventType::rightMouseDragged),
        secondsSinceLastEventType(hidSystemState, eventType::otherMouseDragged),
        secondsSinceLastEventType(hidSystemState, eventType::otherMouseDown),
    };
    // An ordered comparison: a reading that is not a number never replaces,
    // and a first reading that is not a number is never replaced.
    double smallest = readings[0];
    for (double reading : readings) {
        if (reading < smallest) smallest = reading;
    }
    if (!(smallest > 0.0) || !std::isfinite(smallest)) return 0;
    constexpr double beyondInt64 = 9223372036854775808.0;  // 2^63
    if (smallest >= beyondInt64) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(smallest);  // drops the fraction
}

InputCounts inputCounts() {
    const std::uint64_t keys = counterForEventType(hidSystemState, eventType::keyDown);
    const std::uint64_t left = counterForEventType(hidSystemState, eventType::leftMouseDown);
    const std::uint64_t right = counterForEventType(hidSystemState, eventType::rightMouseDown);
    const std::uint64_t other = counterForEventType(hidSystemState, eventType::otherMouseDown);
    return {keys, left + right + other};
}
