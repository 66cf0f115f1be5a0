/* Tells KWin the user is active, as input would (org_kde_kwin_idle's
 * simulate_user_activity), then exits 0; 1 when KWin does not offer it. */
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

#include "idle-client-protocol.h"

static struct wl_seat *seat;
static struct org_kde_kwin_idle *idle;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface, uint32_t version) {
    (void)data;
    (void)version;
    if (!seat && strcmp(interface, wl_seat_interface.name) == 0) {
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    } else if (!idle && strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
        idle = wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1);
    }
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener listener = {global, global_remove};

int main(void) {
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) return 1;
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !idle) return 1;
    struct org_kde_kwin_idle_timeout *timeout = org_kde_kwin_idle_get_idle_timeout(idle, seat, 1000);
    org_kde_kwin_idle_timeout_simulate_user_activity(timeout);
    wl_display_roundtrip(display);
    org_kde_kwin_idle_timeout_release(timeout);
    wl_display_roundtrip(display);
    org_kde_kwin_idle_destroy(idle);
    wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
