// The X display connection: opening it, losing and reopening it, the events it
// delivers, and the snapshot of the desktop that one callout reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace x11 {

// Opens the display on first use. False when there is no usable display.
bool connected();

// The window manager keeps _NET_ACTIVE_WINDOW (it lists it in _NET_SUPPORTED).
bool windowManagerReportsActiveWindow();

// The connection's descriptor, or -1 when there is no connection.
int connectionFd();

// After a lost display: tries once to open it again.
void reconnectIfLost();

// Flushes, then handles every event XCB has already queued and, with
// `readSocket`, those waiting on the connection.
void drainEvents(bool readSocket);

// Whether a change of _NET_ACTIVE_WINDOW has been seen since the last call.
bool takeActiveWindowChange();

// Raw input counted since the collector started.
struct InputTotals {
    std::uint32_t keys = 0;
    std::uint32_t left = 0;    // button 1
    std::uint32_t right = 0;   // button 3
    std::uint32_t other = 0;   // button 2, and 8 and up
};
const InputTotals& inputTotals();

// What one callout reads about the desktop, fetched on the first reading and
// kept until dropSnapshot().
struct ActiveWindow {
    std::uint32_t id = 0;
    std::int32_t pid = 0;
    std::optional<std::string> wmInstance;     // the instance part of WM_CLASS
    std::optional<std::string> wmClass;        // the class part of WM_CLASS
    std::optional<std::string> applicationId;  // _GTK_APPLICATION_ID
    std::optional<std::string> title;          // UTF-8; none without a name property
};

// A client window of the window manager, with its process (0: unknown).
struct ClientWindow {
    std::uint32_t id = 0;
    std::int32_t pid = 0;
};

struct Snapshot {
    double idleSeconds = 0;
    std::optional<ActiveWindow> active;  // none: None, gone, or no display
    // _NET_CLIENT_LIST_STACKING, bottom to top: only the window-list fallback
    // needs it, so it is read then, not with every sample.
    std::optional<std::vector<ClientWindow>> clients;
};

Snapshot& snapshot();
void dropSnapshot();

// The snapshot's client windows with their processes, read on first use.
const std::vector<ClientWindow>& clientWindows();

// A window's title read now, for windows other than the snapshot's active one.
std::optional<std::string> windowTitle(std::uint32_t window);

}  // namespace x11
