// What one callout reads is read once and dropped after it, so that every
// fact of a sample comes from the same moment and nothing carries over to
// the next sample.
#pragma once

namespace windows_desktop {

void dropForeground();    // foreground.cpp
void dropIdleReading();   // event_source.cpp

// The main loop calls it after each callout.
inline void endCallout() {
    dropForeground();
    dropIdleReading();
}

}  // namespace windows_desktop
