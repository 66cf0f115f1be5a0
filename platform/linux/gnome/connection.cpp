// The connection to the session bus, where GNOME Shell serves the extension's
// object and Mutter's idle monitor. Opening it sends every first message at
// once (the matches, then GetFocus and GetIdletime) and waits without
// blocking for the answers: a bus or shell that never answers holds up
// neither start-up (1 s at most, cut short by the end of standard input) nor
// a refresh (50 ms at most). An attempt that has not ended by then goes on in
// the main loop's poll until the next refresh.
//
// The window system serves when the extension answers, or else when the idle
// monitor does (no active window then; the trust answer is no). Either name
// changing owners later (the shell quit or restarted, the extension was
// turned off or on) counts as a lost connection, as does the bus breaking:
// the next refresh connects again.
#include <poll.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/linux/gnome/gnome.h"

namespace gnome {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool send(Session& session, bus::Slot& slot, const char* destination, const char* path, const char* interface,
          const char* member, sd_bus_message_handler_t reply, const char* types, ...) {
    bus::Message request = bus::methodCall(session.bus.get(), destination, path, interface, member);
    if (!request) return false;
    if (types) {
        va_list args;
        va_start(args, types);
        const int appended = sd_bus_message_appendv(request.get(), types, args);
        va_end(args);
        if (appended < 0) return false;
    }
    sd_bus_slot* call = nullptr;
    if (sd_bus_call_async(session.bus.get(), &call, request.get(), reply, &session, 0) < 0) return false;
    slot.reset(call);
    return true;
}

namespace {

constexpr std::chrono::milliseconds startBudget{1000};
constexpr std::chrono::milliseconds refreshBudget{50};

std::unique_ptr<Session> current;  // serving
std::unique_ptr<Session> pending;  // an attempt still under way
bool extensionAtStart = false;

// GNOME on X11 keeps the idle monitor too, and there the X display tells
// more (input totals): this window system serves Wayland sessions only,
// those whose compositor socket is there ($WAYLAND_DISPLAY, an absolute path
// or a name in $XDG_RUNTIME_DIR, "wayland-0" when unset).
bool waylandSession() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) name = "wayland-0";
    std::string path = name;
    if (name[0] != '/') {
        const char* dir = std::getenv("XDG_RUNTIME_DIR");
        if (!dir || !*dir) return false;
        path = std::string(dir) + "/" + name;
    }
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
    if (bus::sentBy(message, bus::driverName)) static_cast<Session*>(data)->lost = true;
    return 0;
}

bool watchOwner(Session& session, bus::Slot& slot, const char* name) {
    const std::string rule =
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
        "member='NameOwnerChanged',arg0='" + std::string(name) + "'";
    sd_bus_slot* raw = nullptr;
    if (sd_bus_add_match_async(session.bus.get(), &raw, rule.c_str(), onOwnerChanged, nullptr, &session) < 0) {
        return false;
    }
    slot.reset(raw);
    return true;
}

std::unique_ptr<Session> openSession() {
    sd_bus* raw = nullptr;
    if (!bus::openUserBus(&raw)) return nullptr;
    auto session = std::make_unique<Session>();
    session->bus.reset(raw);
    if (!watchOwner(*session, session->shellOwnerSignal, shellName) ||
        !watchOwner(*session, session->idleOwnerSignal, idleName)) {
        return nullptr;
    }
    watchShell(*session);
    watchIdle(*session);
    return session;
}

// Both services have answered (yes or no) and the idle watches are set, or
// the connection is lost: nothing more is to come but signals.
bool decided(const Session& session) {
    using Answer = Session::Answer;
    if (session.lost) return true;
    return session.shell != Answer::waiting && session.monitor != Answer::waiting && !session.watchCall &&
           !session.activeCall;
}

// One of the services answered, and the connection holds.
bool serves(const Session& session) {
    using Answer = Session::Answer;
    return !session.lost && (session.shell == Answer::yes || session.monitor == Answer::yes);
}

// Handles what has arrived without waiting; a broken connection is lost.
void pump(Session& session) {
    if (!bus::drain(session.bus.get())) session.lost = true;
}

// Drives the pending attempt until it is decided or the deadline has passed.
// `watchInput`: standard input's end cuts the wait short (start-up, before
// the collector's own watcher runs).
void drivePending(std::chrono::milliseconds budget, bool watchInput) {
    const bus::Deadline deadline(budget);
    for (;;) {
        pump(*pending);
        if (decided(*pending)) return;
        if (!bus::waitOnce(pending->bus.get(), deadline, watchInput)) return;  // the deadline, or the end of input
    }
}

// Takes over a decided attempt that serves; drops one that does not.
void adoptDecidedAttempt() {
    if (!pending || !decided(*pending)) return;
    if (serves(*pending)) {
        current = std::move(pending);
        noteFocus();
    }
    pending.reset();
}

void lose() {
    current.reset();
    noteFocus();  // no session: no active window
}

}  // namespace

bool connect() {
    if (!waylandSession()) return false;
    pending = openSession();
    if (!pending) return false;
    drivePending(startBudget, true);
    // Either service answering in time serves; an extension that has not
    // answered by then counts as absent for the trust answer.
    if (!serves(*pending)) {
        pending.reset();
        return false;
    }
    extensionAtStart = pending->shell == Session::Answer::yes;
    current = std::move(pending);
    noteFocus();
    return true;
}

bool extensionAnsweredAtStart() { return extensionAtStart; }

Session* session() { return current.get(); }

// Each connection's descriptor with the events sd-bus waits for, and the
// poll cut short by its next timeout (a reply's, or none when it holds
// messages read and not yet handled).
void descriptors(std::vector<pollfd>& fds, int& timeoutMs) {
    for (Session* s : {current.get(), pending.get()}) {
        if (s) bus::addToPoll(s->bus.get(), fds, timeoutMs);
    }
}

void dispatch(bool) {
    if (pending) {
        pump(*pending);
        adoptDecidedAttempt();
    }
    if (current) {
        pump(*current);
        if (current->lost) {
            lose();
        } else {
            noteFocus();
        }
    }
}

// At each refresh: a lost connection is dropped and one attempt at a new one
// is made. An attempt left from an earlier refresh is given up for a new one.
void reconnectIfLost() {
    if (current && !current->lost) return;
    if (current) lose();
    pending = openSession();
    if (!pending) return;
    drivePending(refreshBudget, false);
    adoptDecidedAttempt();
}

}  // namespace gnome
