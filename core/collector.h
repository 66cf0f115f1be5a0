// The collector: start-up, the three triggers and the sample record.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "platform/platform.h"

// The three process-wide values, set once during start-up and only read after.
extern double refreshInterval;
extern std::set<std::string, std::less<>> browserBundleIds;
extern platform::InputHandle stdinHandle;

inline constexpr std::string_view accessibilityMessage =
    "Accessibility permission is not granted; window titles cannot be read.";

// Start-up up to and including the start sample; the caller then runs the
// main loop.
void startCollector();

// Takes one snapshot of the desktop and writes it as one sample record.
void emitSample(std::string_view event);

// The triggers.
void activationTrigger();
void refreshTrigger();
void stdinWatcher(platform::InputHandle input);
