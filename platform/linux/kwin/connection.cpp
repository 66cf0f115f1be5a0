// The link to KWin's script and the Wayland connection for the idle time:
// opened at start (1 s at most in all, cut short by the end of standard
// input) and again at a refresh after either was lost (50 ms each at most).
// At start the script must have reported by then: one that KWin loaded but
// that never reports is a failed start (it is unloaded, and KWin is not
// used). An attempt at a refresh that has not ended by then goes on in the
// main loop's poll until the next refresh, which gives it up (its script
// unloaded) for a new one.
//
// Lost: the bus connection breaks, or KWin's name changes hands (KWin ended
// or was started again). Nothing is asked of KWin at a refresh, so that an
// idle collector wakes for its timer alone: a KWin that stops answering
// without going away holds up no record (nothing waits for it), but the
// records keep its last report until it answers again.
#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/linux/kwin/kwin.h"
#include "platform/linux/wayland/wayland.h"
#include "platform/posix/exit.h"

namespace kwin {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds startBudget{1000};
constexpr milliseconds refreshBudget{50};
constexpr milliseconds exitBudget{200};

std::unique_ptr<Link> current;  // ready
std::unique_ptr<Link> pending;  // an attempt still under way
std::atomic<std::uint32_t> attempts{0};

// Drives `link` until `done` says so, it has ended, or the deadline has passed.
template <class Done>
void drive(Link& link, const bus::Deadline& deadline, bool watchInput, Done done) {
    for (;;) {
        pump(link);
        if (link.stage == Link::Stage::failed || done(link)) return;
        if (!bus::waitOnce(link.connection.get(), deadline, watchInput)) return;
    }
}

bool isReady(const Link& link) { return link.stage == Link::Stage::ready; }

// Gives up an attempt under way, unloading what it loaded.
void dropPending() {
    if (!pending) return;
    abandon(*pending);
    pending.reset();
}

// Takes over an attempt that has ended well; drops one that failed.
void adoptEndedAttempt() {
    if (!pending || !ended(*pending)) return;
    if (isReady(*pending)) {
        current = std::move(pending);
    } else {
        dropPending();
    }
}

// At the end of input: this collector's scripts are unloaded through a
// connection of its own (the main thread may be using the link's), each
// file removed once KWin has said its script is gone. Those of collectors no
// longer running go too.
void unloadAtExit() {
    const bus::Deadline deadline(exitBudget);
    bus::Bus connection = bus::openSession(deadline, false);
    if (!connection) return;
    for (const std::string& name : staleScripts("")) {
        if (bus::call(connection.get(), deadline, false, kwinName, scriptingPath, scriptingInterface,
                      "unloadScript", {name.c_str()})) {
            removeScript(name);
        }
    }
}

void addDescriptor(const Link& link, std::vector<pollfd>& fds, int& timeoutMs) {
    if (bus::addToPoll(link.connection.get(), fds, timeoutMs) && link.more) timeoutMs = 0;
}

}  // namespace

bool connect() {
    // KWin is served under a Wayland session of its own only: without a
    // compositor's socket the session bus is not even asked (nor sd-bus loaded).
    if (!scriptsCanRun() || !wayland::socketPresent()) return false;
    const bus::Deadline deadline(startBudget);
    pending = openLink(++attempts, true);
    if (!pending) return false;
    // KWin is on the bus: else nothing more is asked of anyone.
    drive(*pending, deadline, true, [](const Link& link) { return link.stage == Link::Stage::owned; });
    if (pending->stage != Link::Stage::owned) {
        pending.reset();
        return false;
    }
    // A Wayland session of KWin's (KWin on X11 is served better by X11).
    const auto left = static_cast<int>(deadline.left() / 1000);
    if (!wayland::connectForIdle(left)) {
        pending.reset();
        return false;
    }
    // The exit hook is in place before anything is loaded: input that ends
    // from here on unloads it.
    posix::setExitHook(unloadAtExit);
    pending->hold = false;
    proceed(*pending);
    drive(*pending, deadline, true, isReady);
    if (!isReady(*pending)) {
        dropPending();
        wayland::disconnect();
        posix::setExitHook(nullptr);
        return false;
    }
    adoptEndedAttempt();
    return true;
}

Link* link() { return current.get(); }

void descriptors(std::vector<pollfd>& fds, int& timeoutMs) {
    wayland::descriptors(fds, timeoutMs);
    if (current) addDescriptor(*current, fds, timeoutMs);
    if (pending) addDescriptor(*pending, fds, timeoutMs);
}

void dispatch(bool readable) {
    wayland::dispatch(readable);
    if (pending) {
        pump(*pending);
        adoptEndedAttempt();
    }
    if (current) {
        pump(*current);
        if (current->stage == Link::Stage::failed) current.reset();
    }
}

// At each refresh: the idle connection is looked after by wayland/; without
// a link, one attempt at a new one (an attempt left from an earlier refresh
// is given up for it).
void reconnectIfLost() {
    wayland::reconnectIfLost();
    if (current) return;
    dropPending();
    pending = openLink(++attempts, false);
    if (!pending) return;
    drive(*pending, bus::Deadline(refreshBudget), false, isReady);
    adoptEndedAttempt();
}

}  // namespace kwin
