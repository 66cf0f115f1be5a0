// The X11 window system: what the files of x11/ share.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/window_system.h"
#include "platform/linux/x11/xcb_library.h"

namespace x11 {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct Atoms {
    xcb_atom_t activeWindow = 0;   // _NET_ACTIVE_WINDOW
    xcb_atom_t supported = 0;      // _NET_SUPPORTED
    xcb_atom_t stacking = 0;       // _NET_CLIENT_LIST_STACKING
    xcb_atom_t wmName = 0;         // _NET_WM_NAME
    xcb_atom_t wmPid = 0;          // _NET_WM_PID
    xcb_atom_t utf8String = 0;     // UTF8_STRING
    xcb_atom_t compoundText = 0;   // COMPOUND_TEXT
    xcb_atom_t applicationId = 0;  // _GTK_APPLICATION_ID
};

// One open connection and what was learnt about the server when it opened.
struct Display {
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    Atoms atoms;
    bool reportsActive = false;  // the window manager keeps _NET_ACTIVE_WINDOW
    bool screensaver = false;
    bool res = false;
    bool xinput = false;
    std::uint8_t xinputOpcode = 0;
    // _NET_ACTIVE_WINDOW as last read, kept until the next PropertyNotify for it.
    std::optional<xcb_window_t> knownActive;
};

// The display in use; `conn` is null while there is none.
extern Display display;

// connection.cpp
void connect();                  // the first connection, at start
bool checkConnection();          // false, and the connection dropped, once it has failed
void reconnectIfLost();
void descriptors(std::vector<pollfd>& fds, int& timeoutMs);
bool adoptFinishedAttempt();     // true when a pending attempt has ended

// properties.cpp
struct Property {
    xcb_atom_t type = 0;
    std::uint8_t format = 0;
    std::string bytes;
};
// How much of a property is read, in the protocol's 32-bit units. Every
// property is read up to a bound, since a client can make one as long as the
// server allows: text (names, classes) a little over 64 KiB, enough for the
// longest title a record carries and to know it is cut; lists of windows or
// atoms 65536 entries; numbers one.
inline constexpr std::uint32_t textLongs = 64 * 1024 / 4 + 1;
inline constexpr std::uint32_t listLongs = 65536;
inline constexpr std::uint32_t numberLongs = 1;
xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t longs);
std::optional<Property> readProperty(xcb_get_property_cookie_t cookie, bool* gone = nullptr);
std::vector<std::uint32_t> cardinals(const std::optional<Property>& property);
void readSupported(xcb_get_property_cookie_t cookie);

// events.cpp
void handleEvents(bool readSocket);
void dispatch(bool readable);
bool takeActiveWindowChange();
ws::InputTotals inputTotals();

// windows.cpp
ws::Snapshot readSnapshot();
std::vector<ws::ClientWindow> clientWindows();
std::optional<std::string> windowTitle(std::uint64_t window);

extern const ws::WindowSystem windowSystem;

}  // namespace x11
