// The GNOME Shell window system (Wayland sessions of GNOME): the active
// window from the project's shell extension on the session bus, the idle
// time from Mutter's idle monitor there. What the files of gnome/ share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/bus.h"
#include "platform/linux/window_system.h"

namespace gnome {

// The extension's name, object and interface on the session bus.
inline constexpr const char* shellName = "dev.palvern.Collector.Shell1";
inline constexpr const char* shellPath = "/dev/palvern/Collector/Shell1";
inline constexpr const char* shellInterface = "dev.palvern.Collector.Shell1";

inline constexpr const char* idleName = "org.gnome.Mutter.IdleMonitor";
inline constexpr const char* idlePath = "/org/gnome/Mutter/IdleMonitor/Core";
inline constexpr const char* idleInterface = "org.gnome.Mutter.IdleMonitor";

// The focused window as the extension describes it.
struct Focus {
    std::uint32_t window = 0;  // 0: no focused window
    std::string title;
    std::string wmClass;
    std::string wmClassInstance;
    std::string appId;  // a desktop file ID; empty when the shell knows none
    std::int32_t pid = 0;
};

// What the idle monitor last said.
struct Idle {
    std::uint32_t idleWatch = 0;    // fires after a second without input
    std::uint32_t activeWatch = 0;  // fires once, at the next input
    std::optional<double> inputAt;  // while idle: monotonic seconds of the last input
};

// One connection to the session bus, from its first message on. An answer
// is `waiting` until its reply (or error) is processed.
struct Session {
    enum class Answer { waiting, yes, no };
    bus::Bus bus;
    bus::Slot focusSignal, watchSignal, shellOwnerSignal, idleOwnerSignal;
    bus::Slot focusCall, idleCall, watchCall, activeCall;
    Answer shell = Answer::waiting;    // the extension answered GetFocus
    Answer monitor = Answer::waiting;  // the idle monitor answered GetIdletime
    std::optional<Focus> focus;        // the extension's last word; none without it
    // The unique names that answered GetFocus and GetIdletime: the only
    // senders whose signals count (either name changing hands loses the
    // connection).
    std::string shellOwner, idleOwner;
    Idle idle;
    bool lost = false;  // the connection broke, or a peer served left the bus
};

// connection.cpp
bool connect();      // the first connection, at start: true when this window system serves
bool extensionAnsweredAtStart();
Session* session();  // the connection in use, or null
void descriptors(std::vector<pollfd>& fds, int& timeoutMs);
void dispatch(bool readable);
void reconnectIfLost();
double monotonicSeconds();
// A method call sent without auto-start; `reply` is called with its answer.
bool send(Session& session, bus::Slot& slot, const char* destination, const char* path, const char* interface,
          const char* member, sd_bus_message_handler_t reply, const char* types = nullptr, ...);

// shell.cpp
void watchShell(Session& session);  // the signal matches and the first GetFocus
bool takeActiveWindowChange();
void noteFocus();  // after the session's focus may have changed, or the session itself
ws::Snapshot readSnapshot();
std::vector<ws::ClientWindow> clientWindows();
std::optional<std::string> windowTitle(std::uint64_t window);

// idle.cpp
void watchIdle(Session& session);  // the first GetIdletime and the watches
double idleSeconds();

extern const ws::WindowSystem windowSystem;

}  // namespace gnome
