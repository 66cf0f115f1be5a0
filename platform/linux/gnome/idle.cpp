// The idle time, from Mutter's idle monitor. GetIdletime at connection gives
// the time since the last input; from then on two watches follow it without
// a call per sample: one that fires after a second without input, and a
// one-shot one that fires at the next input, set each time the first fires.
// The idle time is 0 while the user is active, else the time since the last
// input (a second before the idle watch fired).
#include <algorithm>

#include "platform/linux/gnome/gnome.h"

namespace gnome {
namespace {

constexpr std::uint64_t idleAfterMs = 1000;

std::uint32_t readWatch(sd_bus_message* reply) {
    std::uint32_t id = 0;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_has_signature(reply, "u") <= 0 ||
        sd_bus_message_read(reply, "u", &id) < 0) {
        return 0;
    }
    return id;
}

int onIdleWatch(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& session = *static_cast<Session*>(data);
    session.watchCall.reset();
    session.idle.idleWatch = readWatch(reply);
    return 0;
}

int onActiveWatch(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& session = *static_cast<Session*>(data);
    session.activeCall.reset();
    session.idle.activeWatch = readWatch(reply);
    return 0;
}

void watchForInput(Session& session) {
    send(session, session.activeCall, idleName, idlePath, idleInterface, "AddUserActiveWatch", onActiveWatch);
}

int onIdletime(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& session = *static_cast<Session*>(data);
    session.idleCall.reset();
    std::uint64_t ms = 0;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_has_signature(reply, "t") <= 0 ||
        sd_bus_message_read(reply, "t", &ms) < 0) {
        session.monitor = Session::Answer::no;
        return 0;
    }
    session.monitor = Session::Answer::yes;
    if (const char* sender = sd_bus_message_get_sender(reply)) session.idleOwner = sender;
    send(session, session.watchCall, idleName, idlePath, idleInterface, "AddIdleWatch", onIdleWatch, "t",
         idleAfterMs);
    if (ms >= idleAfterMs) {
        // Any length a peer gives is taken no further back than boot.
        session.idle.inputAt = monotonicSeconds() - std::min<double>(static_cast<double>(ms) / 1000.0, 1e9);
        watchForInput(session);
    }
    return 0;
}

int onWatchFired(sd_bus_message* signal, void* data, sd_bus_error*) {
    auto& session = *static_cast<Session*>(data);
    std::uint32_t id = 0;
    if (!bus::sentBy(signal, session.idleOwner) || sd_bus_message_has_signature(signal, "u") <= 0 || sd_bus_message_read(signal, "u", &id) < 0 || id == 0) {
        return 0;
    }
    Idle& idle = session.idle;
    if (id == idle.idleWatch && !idle.inputAt) {
        idle.inputAt = monotonicSeconds() - static_cast<double>(idleAfterMs) / 1000.0;
        watchForInput(session);
    } else if (id == idle.activeWatch) {
        idle.activeWatch = 0;
        idle.inputAt.reset();
    }
    return 0;
}

}  // namespace

void watchIdle(Session& session) {
    sd_bus_slot* raw = nullptr;
    if (sd_bus_match_signal_async(session.bus.get(), &raw, idleName, idlePath, idleInterface, "WatchFired",
                                  onWatchFired, nullptr, &session) >= 0) {
        session.watchSignal.reset(raw);
    }
    if (!send(session, session.idleCall, idleName, idlePath, idleInterface, "GetIdletime", onIdletime)) {
        session.monitor = Session::Answer::no;
    }
}

double idleSeconds() {
    Session* s = session();
    if (!s || !s->idle.inputAt) return 0;
    return std::max(0.0, monotonicSeconds() - *s->idle.inputAt);
}

}  // namespace gnome
