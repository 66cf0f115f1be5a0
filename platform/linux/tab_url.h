// The active tab's URL on Linux, read from the accessibility bus.
#pragma once

#include <poll.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linux_desktop {

// Whether `bundleId` (a desktop file ID, or a window's class or toolkit
// application id) names a browser whose documents the accessibility bus shows.
// Compared without regard to case, so that the names the window system gives
// (`Firefox-esr`, `Chromium`) match too.
bool isAccessibleBrowser(std::string_view bundleId);

// The URL of the document shown in the active window of process `pid` (below
// 1: of whichever application's window is active), or the empty text: when
// the session has accessibility off, the bus is not there, the browser does
// not answer within the sample's budget or answers something unusable.
// `windowTitle` is the active window's title, which picks the window when the
// browser marks none of its windows active.
std::string accessibleTabUrl(std::int32_t pid, const std::optional<std::string>& windowTitle);

// The accessibility bus, followed from the main loop so that a browser has
// built what the lookup reads before its first sample. Connects now when the
// session has accessibility on (waiting no longer than one sample's budget);
// then each browser already on the bus, and each one that registers later, is
// asked once for something that makes it build its tree, without waiting for
// the answer. Other applications are never asked anything.
void watchAccessibilityBus();

// Appends the descriptors of the collector's connections to the session bus
// and the accessibility bus, with the events each waits for, and may shorten
// the poll's timeout (milliseconds, -1 for none) when an answer is due.
void accessibilityBusDescriptors(std::vector<pollfd>& fds, int& timeoutMs);

// Handles what has arrived on those connections: answers, new browsers, the
// switch or its keeper changing (then one attempt to connect, within one
// sample's budget). Never waits otherwise.
void serviceAccessibilityBus();

// Whether `address`, as the accessibility bus's keeper gives it, is one the
// collector connects to: a single address of a local socket (unix: with a
// path or an abstract name, and perhaps the bus's guid). Any other transport
// is refused: sd-bus would start the program a unixexec: address names.
bool acceptedBusAddress(std::string_view address);

// The session's accessibility switch as the lookup finds it now: `on`;
// `off`, also while no one keeps it (no accessibility bus has been started);
// `noBus` without a session bus.
enum class SessionAccessibility { on, off, noBus };
SessionAccessibility sessionAccessibility();

// D-Bus calls made since start, those not waited for included (for
// measurements).
std::uint64_t accessibilityBusCalls();

}  // namespace linux_desktop
