// The Wayland window system (compositors that offer the foreign-toplevel
// manager): what the files of wayland/ share. The same connection serves,
// without the toplevels, as the idle source of a compositor whose windows
// are reported by other means (KWin).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/window_system.h"

struct wl_display;
struct wl_registry;
struct wl_callback;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_idle_timeout;

namespace wayland {

// Owning handles for protocol objects: the proxy is dropped on this side
// (the connection goes with the session, so nothing more is sent for it).
struct ProxyDeleter {
    void operator()(void* proxy) const;
};
template <class T>
using Proxy = std::unique_ptr<T, ProxyDeleter>;
struct DisplayDeleter {
    void operator()(wl_display* display) const;
};

// One toplevel window as the compositor last described it. Its events are
// gathered in `next` and become `now` at its done event.
struct Toplevel {
    struct State {
        std::optional<std::string> title;
        std::optional<std::string> appId;
        bool activated = false;
    };
    std::uint64_t id = 0;
    Proxy<zwlr_foreign_toplevel_handle_v1> handle;
    State next;
    State now;
    std::uint64_t activatedAt = 0;  // when it last became activated; 0: never
    bool closed = false;
};

// The idle source in use: the notification of either protocol, and what it
// last said.
struct Idle {
    Proxy<ext_idle_notifier_v1> notifier;
    Proxy<ext_idle_notification_v1> notification;
    Proxy<org_kde_kwin_idle> kdeIdle;
    Proxy<org_kde_kwin_idle_timeout> kdeTimeout;
    std::optional<double> idledAt;  // monotonic seconds of the last idle event
};

// One connection to a compositor, from its first request on; everything it
// holds goes with it (the display last: members go in reverse order).
struct Session {
    enum class Stage {
        globals,    // waiting for the list of globals
        toplevels,  // waiting for the initial toplevel list
        ready,
        failed,     // the protocol is not offered, or the connection broke
    };
    std::unique_ptr<wl_display, DisplayDeleter> display;
    Proxy<wl_registry> registry;
    Proxy<wl_callback> stageSync;  // the round trip that ends the stage
    Stage stage = Stage::globals;

    // Globals seen in the registry: name and version, 0 when absent.
    struct Global {
        std::uint32_t name = 0;
        std::uint32_t version = 0;
    };
    Global manager, seat, extIdle, kdeIdle;

    Proxy<zwlr_foreign_toplevel_manager_v1> toplevelManager;
    Proxy<wl_seat> boundSeat;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
    Idle idle;
    Proxy<wl_callback> aliveSync;  // sent at a refresh, unanswered yet
};

// connection.cpp
bool connect();  // the first connection, at start: true when this window system serves
// The first connection for the idle time only, waiting at most `deadlineMs`
// (cut short by standard input's end): true when a compositor answers; its
// idle protocol may still be missing (the idle time is then 0).
bool connectForIdle(int deadlineMs);
// Whether the compositor's socket is there (nothing is connected to it): a
// cheap first test for the window systems that need a Wayland session.
bool socketPresent();
void disconnect();   // drops the connection and any attempt
Session* session();  // the ready connection, or null
void descriptors(std::vector<pollfd>& fds, int& timeoutMs);
void dispatch(bool readable);
void reconnectIfLost();
double monotonicSeconds();

// toplevels.cpp
void bindToplevels(Session& session);
void applyBatch();  // after every event of one read was dispatched
bool takeActiveWindowChange();
ws::Snapshot readSnapshot();
std::vector<ws::ClientWindow> clientWindows();
std::optional<std::string> windowTitle(std::uint64_t window);

// idle.cpp
void bindIdle(Session& session);
double idleSeconds();
bool offersIdle();  // the connection has an idle notification

extern const ws::WindowSystem windowSystem;

}  // namespace wayland
