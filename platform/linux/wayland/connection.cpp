// The connection to the compositor. Opening it takes two round trips (the
// globals, then the initial toplevel list); they are made without blocking,
// so that a compositor that accepts the connection and never answers holds
// up neither start-up (1 s at most, cut short by the end of standard input)
// nor a refresh (50 ms at most). An attempt that has not ended by then goes
// on in the main loop's poll until the next refresh.
//
// Where the compositor is: $WAYLAND_DISPLAY, an absolute path or a name in
// $XDG_RUNTIME_DIR ("wayland-0" when unset).
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>
#include "platform/linux/wayland/client_library.h"  // before any protocol header

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/linux/wayland/wayland.h"
#include "platform/posix/standard_input.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace wayland {

void ProxyDeleter::operator()(void* proxy) const { wl_proxy_destroy(static_cast<wl_proxy*>(proxy)); }

void DisplayDeleter::operator()(wl_display* display) const { wl_display_disconnect(display); }

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

namespace {

constexpr int startDeadlineMs = 1000;
constexpr int refreshDeadlineMs = 50;

std::unique_ptr<Session> current;  // ready
std::unique_ptr<Session> pending;  // an attempt still under way

// Whether the connection is for the toplevels (and idle), or for the idle
// time only, as another window system reports the windows (KWin).
bool forToplevels = true;

// libwayland reports protocol and connection errors through this log; the
// collector's standard error stays empty.
void silent(const char*, va_list) {}

// Where the compositor's socket is; "" when that cannot be told.
std::string socketPath() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) name = "wayland-0";
    if (name[0] == '/') return name;
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || !*dir) return {};
    return std::string(dir) + "/" + name;
}

// The compositor's socket, connected without waiting: a listener whose
// backlog is full counts as absent.
int openSocket() {
    const std::string path = socketPath();
    if (path.empty()) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void global(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
    auto& session = *static_cast<Session*>(data);
    const std::string_view seen = interface;
    Session::Global* slot = nullptr;
    if (seen == zwlr_foreign_toplevel_manager_v1_interface.name) slot = &session.manager;
    if (seen == "wl_seat") slot = &session.seat;
    if (seen == "ext_idle_notifier_v1") slot = &session.extIdle;
    if (seen == "org_kde_kwin_idle") slot = &session.kdeIdle;
    if (slot && slot->name == 0) *slot = {name, version};  // the first seat is the one
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {.global = global, .global_remove = globalRemove};

void stageDone(void* data, wl_callback*, std::uint32_t);
const wl_callback_listener stageListener = {.done = stageDone};

void askRoundTrip(Session& session) {
    session.stageSync.reset(wl_display_sync(session.display.get()));
    wl_callback_add_listener(session.stageSync.get(), &stageListener, &session);
}

// The end of a stage's round trip: every event sent before it has arrived.
void stageDone(void* data, wl_callback*, std::uint32_t) {
    auto& session = *static_cast<Session*>(data);
    session.stageSync.reset();
    if (session.stage == Session::Stage::globals) {
        if (forToplevels) {
            if (session.manager.name == 0) {
                session.stage = Session::Stage::failed;
                return;
            }
            bindToplevels(session);
        }
        bindIdle(session);
        session.stage = Session::Stage::toplevels;
        askRoundTrip(session);  // the toplevels come in answer to the bind
    } else if (session.stage == Session::Stage::toplevels) {
        session.stage = Session::Stage::ready;
    }
}

void aliveDone(void* data, wl_callback*, std::uint32_t) { static_cast<Session*>(data)->aliveSync.reset(); }
const wl_callback_listener aliveListener = {.done = aliveDone};

std::unique_ptr<Session> openSession() {
    int fd = openSocket();
    if (fd < 0) return nullptr;
    // libwayland-client is opened once there is a compositor to talk to.
    if (!loadClient()) {
        close(fd);
        return nullptr;
    }
    wl_log_set_handler_client(silent);
    wl_display* display = wl_display_connect_to_fd(fd);
    if (!display) {
        close(fd);
        return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->display.reset(display);
    session->registry.reset(wl_display_get_registry(display));
    wl_registry_add_listener(session->registry.get(), &registryListener, session.get());
    askRoundTrip(*session);
    wl_display_flush(display);
    return session;
}

// Dispatches what has been queued and, with `readable`, what the socket
// holds now (one read, no waiting), then the whole batch is applied.
// Marks the session failed once its connection has broken.
void pump(Session& session, bool readable) {
    wl_display* display = session.display.get();
    bool prepared = false;
    while (!(prepared = wl_display_prepare_read(display) == 0)) {
        if (wl_display_dispatch_pending(display) < 0) break;
    }
    if (prepared) {
        wl_display_flush(display);
        pollfd socket{wl_display_get_fd(display), POLLIN, 0};
        if (readable && poll(&socket, 1, 0) > 0) {
            wl_display_read_events(display);  // a closed socket sets the display's error
        } else {
            wl_display_cancel_read(display);
        }
    }
    wl_display_dispatch_pending(display);
    wl_display_flush(display);
    if (wl_display_get_error(display) != 0) session.stage = Session::Stage::failed;
}

bool ended(const Session& session) {
    return session.stage == Session::Stage::ready || session.stage == Session::Stage::failed;
}

// Drives the pending attempt until it ends or `deadlineMs` has passed.
// `watchInput`: standard input's end cuts the wait short (start-up, before
// the collector's own watcher runs).
void drivePending(int deadlineMs, bool watchInput) {
    const double deadline = monotonicSeconds() + deadlineMs / 1000.0;
    while (pending && !ended(*pending)) {
        const int left = static_cast<int>((deadline - monotonicSeconds()) * 1000.0);
        if (left <= 0) return;
        const int fd = wl_display_get_fd(pending->display.get());
        bool readable = false;
        if (watchInput) {
            readable = posix::waitReadableUnlessInputEnds(fd, left);
            if (!readable) return;  // the deadline, or the end of input
        } else {
            pollfd socket{fd, POLLIN, 0};
            int n = poll(&socket, 1, left);
            if (n < 0 && errno != EINTR) return;
            readable = n > 0;
        }
        pump(*pending, readable);
    }
}

// Takes over an attempt that has ended well; drops one that failed.
void adoptEndedAttempt() {
    if (!pending || !ended(*pending)) return;
    if (pending->stage == Session::Stage::ready) {
        current = std::move(pending);
        applyBatch();
    }
    pending.reset();
}

void lose() {
    current.reset();
    applyBatch();  // no toplevels: no active window
}

}  // namespace

namespace {

// A compositor that let the first attempt at start run out of time is not
// waited for a second time at start.
bool silentAtStart = false;

bool openFor(bool toplevels, int deadlineMs) {
    if (silentAtStart) return false;
    forToplevels = toplevels;
    pending = openSession();
    drivePending(deadlineMs, true);
    if (!pending) return false;
    silentAtStart = pending->stage == Session::Stage::globals;
    // A compositor that offers the manager but has not sent the list yet is
    // still the one to report; the main loop finishes the attempt.
    const bool offers = pending->stage == Session::Stage::ready || pending->stage == Session::Stage::toplevels;
    if (!offers) pending.reset();
    adoptEndedAttempt();
    return offers;
}

}  // namespace

bool connect() { return openFor(true, startDeadlineMs); }

bool socketPresent() {
    const std::string path = socketPath();
    struct stat info{};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool connectForIdle(int deadlineMs) { return openFor(false, deadlineMs); }

void disconnect() {
    pending.reset();
    lose();
}

Session* session() { return current.get(); }

void descriptors(std::vector<pollfd>& fds, int&) {
    if (current) fds.push_back({wl_display_get_fd(current->display.get()), POLLIN, 0});
    if (pending) fds.push_back({wl_display_get_fd(pending->display.get()), POLLIN, 0});
}

void dispatch(bool readable) {
    if (pending) {
        pump(*pending, readable);
        adoptEndedAttempt();
    }
    if (current) {
        pump(*current, readable);
        if (current->stage == Session::Stage::failed) {
            lose();
        } else {
            applyBatch();
        }
    }
}

// At each refresh: a connection whose round trip from the last refresh is
// still unanswered is dead (a compositor can stop serving a client without
// closing its socket); then one attempt at a new connection when there is
// none. An attempt left from an earlier refresh is given up for a new one.
void reconnectIfLost() {
    if (current && current->aliveSync) lose();
    // The idle source only: the window system that reports the windows
    // watches the compositor, and a refresh costs no round trip here.
    if (current && !forToplevels) return;
    if (current) {
        current->aliveSync.reset(wl_display_sync(current->display.get()));
        wl_callback_add_listener(current->aliveSync.get(), &aliveListener, current.get());
        wl_display_flush(current->display.get());
        // A compositor that serves us answers at once: taking the answer in
        // this wake-up spares the main loop one of its own at every refresh.
        const double deadline = monotonicSeconds() + refreshDeadlineMs / 1000.0;
        while (current && current->aliveSync) {
            const int left = static_cast<int>((deadline - monotonicSeconds()) * 1000.0);
            if (left <= 0) break;
            pollfd socket{wl_display_get_fd(current->display.get()), POLLIN, 0};
            const int n = poll(&socket, 1, left);
            if (n < 0 && errno != EINTR) break;
            dispatch(n > 0);
        }
        return;
    }
    pending = openSession();
    drivePending(refreshDeadlineMs, false);
    adoptEndedAttempt();
}

}  // namespace wayland
