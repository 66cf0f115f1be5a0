// The idle time, from the compositor's idle notification: ext_idle_notifier_v1
// where offered, else org_kde_kwin_idle. Either is asked to say when the user
// has been idle for a second; the idle time is 0 until it says so, then one
// second plus the time since, and 0 again once input resumes. Neither
// offered: always 0.
//
// The notifier's version 1 is the one used: its idle notification follows
// idle inhibitors (a playing video can keep the user looking active).
#include "platform/linux/wayland/client_library.h"  // before any protocol header

#include <algorithm>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "platform/linux/wayland/wayland.h"

namespace wayland {
namespace {

constexpr std::uint32_t timeoutMs = 1000;

void idled(Idle& idle) { idle.idledAt = monotonicSeconds(); }
void resumed(Idle& idle) { idle.idledAt.reset(); }

void onIdled(void* data, ext_idle_notification_v1*) { idled(*static_cast<Idle*>(data)); }
void onResumed(void* data, ext_idle_notification_v1*) { resumed(*static_cast<Idle*>(data)); }
const ext_idle_notification_v1_listener notificationListener = {.idled = onIdled, .resumed = onResumed};

void onKdeIdle(void* data, org_kde_kwin_idle_timeout*) { idled(*static_cast<Idle*>(data)); }
void onKdeResumed(void* data, org_kde_kwin_idle_timeout*) { resumed(*static_cast<Idle*>(data)); }
const org_kde_kwin_idle_timeout_listener kdeListener = {.idle = onKdeIdle, .resumed = onKdeResumed};

template <class T>
T* bind(Session& session, const Session::Global& global, const wl_interface& interface) {
    return static_cast<T*>(wl_registry_bind(session.registry.get(), global.name, &interface, 1));
}

}  // namespace

void bindIdle(Session& session) {
    if (session.seat.name == 0) return;
    if (session.extIdle.name == 0 && session.kdeIdle.name == 0) return;
    session.boundSeat.reset(bind<wl_seat>(session, session.seat, wl_seat_interface));
    Idle& idle = session.idle;
    if (session.extIdle.name != 0) {
        idle.notifier.reset(bind<ext_idle_notifier_v1>(session, session.extIdle, ext_idle_notifier_v1_interface));
        idle.notification.reset(
            ext_idle_notifier_v1_get_idle_notification(idle.notifier.get(), timeoutMs, session.boundSeat.get()));
        ext_idle_notification_v1_add_listener(idle.notification.get(), &notificationListener, &idle);
    } else {
        idle.kdeIdle.reset(bind<org_kde_kwin_idle>(session, session.kdeIdle, org_kde_kwin_idle_interface));
        idle.kdeTimeout.reset(
            org_kde_kwin_idle_get_idle_timeout(idle.kdeIdle.get(), session.boundSeat.get(), timeoutMs));
        org_kde_kwin_idle_timeout_add_listener(idle.kdeTimeout.get(), &kdeListener, &idle);
    }
}

bool offersIdle() {
    Session* s = session();
    return s && (s->idle.notification || s->idle.kdeTimeout);
}

double idleSeconds() {
    Session* s = session();
    if (!s || !s->idle.idledAt) return 0;
    return timeoutMs / 1000.0 + std::max(0.0, monotonicSeconds() - *s->idle.idledAt);
}

}  // namespace wayland
