// The idle time, from the compositor's idle notification: ext_idle_notifier_v1
// where offered, else org_kde_kwin_idle. Either is asked to say when the user
// has been idle for a second; the idle time is 0 until it says so, then one
// second plus the time since, and 0 again once input resumes. Neither
// offered: always 0.
//
// A notifier of version 2 gives the notification for input alone, which idle
// inhibitors do not hold back; at version 1 (and with org_kde_kwin_idle) an
// inhibitor, such as a playing video's, keeps the user looking active.
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

// The notifier's version with the notification for input alone.
constexpr std::uint32_t inputIdleVersion = EXT_IDLE_NOTIFIER_V1_GET_INPUT_IDLE_NOTIFICATION_SINCE_VERSION;

template <class T>
T* bind(Session& session, const Session::Global& global, const wl_interface& interface, std::uint32_t version = 1) {
    return static_cast<T*>(wl_registry_bind(session.registry.get(), global.name, &interface, version));
}

}  // namespace

void bindIdle(Session& session) {
    if (session.seat.name == 0) return;
    if (session.extIdle.name == 0 && session.kdeIdle.name == 0) return;
    session.boundSeat.reset(bind<wl_seat>(session, session.seat, wl_seat_interface));
    Idle& idle = session.idle;
    if (session.extIdle.name != 0) {
        const std::uint32_t version = std::min(session.extIdle.version, inputIdleVersion);
        idle.notifier.reset(
            bind<ext_idle_notifier_v1>(session, session.extIdle, ext_idle_notifier_v1_interface, version));
        auto* get = version >= inputIdleVersion ? ext_idle_notifier_v1_get_input_idle_notification
                                                : ext_idle_notifier_v1_get_idle_notification;
        idle.notification.reset(get(idle.notifier.get(), timeoutMs, session.boundSeat.get()));
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
