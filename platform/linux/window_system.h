// The window system under the Linux desktop, chosen once at start.
//
// The accessibility, workspace, event-source and main-loop code of the Linux
// desktop is written once over the operations below; each window system gives
// them from a folder of its own (x11/, wayland/, kwin/, gnome/). The
// collector never learns which one serves it.
#pragma once

#include <poll.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ws {

// Input counted since the collector started.
struct InputTotals {
    std::uint32_t keys = 0;
    std::uint32_t left = 0;   // the primary button
    std::uint32_t right = 0;  // the secondary button
    std::uint32_t other = 0;  // every other button that is not a scroll wheel
};

// The active window as one callout reads it.
struct ActiveWindow {
    std::uint64_t id = 0;                      // the window, within its window system
    std::int32_t pid = 0;                      // its process; 0 when unknown
    bool pidIsProcess = true;                  // false: `pid` only numbers the application
    std::optional<std::string> instance;       // the instance part of WM_CLASS
    std::optional<std::string> windowClass;    // the class part of WM_CLASS
    std::optional<std::string> applicationId;  // the toolkit's application id
    std::optional<std::string> desktopFileId;  // the desktop entry the window system names
    std::optional<std::string> title;          // bytes as the client set them; none without a name
};

// A window of some application, with its process (0: unknown).
struct ClientWindow {
    std::uint64_t id = 0;
    std::int32_t pid = 0;
};

struct Snapshot {
    double idleSeconds = 0;
    std::optional<ActiveWindow> active;  // none: no active window, or no connection
};

// What each window system gives. Every operation is called on the main thread.
struct WindowSystem {
    // Whether the active window can be reported at all (the trust answer).
    bool (*reportsActiveWindow)();
    // Appends the descriptors the main loop is to poll for this window
    // system, each with the events it waits for, and may shorten the poll's
    // timeout (milliseconds, -1 for none) when work is due without an event.
    void (*descriptors)(std::vector<pollfd>& fds, int& timeoutMs);
    // Handles whatever has arrived; `readable`: one of the descriptors was.
    // Never waits for the server.
    void (*dispatch)(bool readable);
    // Whether the active window has changed since the last call.
    bool (*takeActiveWindowChange)();
    // The idle time and the active window, read now.
    Snapshot (*readSnapshot)();
    // The client windows with their processes, the most relevant first.
    std::vector<ClientWindow> (*clientWindows)();
    // A window's title, read now.
    std::optional<std::string> (*windowTitle)(std::uint64_t window);
    InputTotals (*inputTotals)();
    // After the connection was lost: one attempt to connect again, silent,
    // which holds the main loop up for a few tens of milliseconds at most.
    void (*reconnectIfLost)();
    // What it gives, as connected at start (--describe): its name and each
    // member's availability; `url` is given when the browser's window can be
    // told, and whether the session's accessibility is on is asked apart.
    platform::DesktopDescription (*describe)();
};

// The window system that serves this session, chosen at the first call.
const WindowSystem& windowSystem();

// What one callout reads, fetched on first use and dropped after the callout,
// so that nothing carries from one sample to the next.
const Snapshot& snapshot();
const std::vector<ClientWindow>& clientWindows();
void dropSnapshot();

}  // namespace ws
