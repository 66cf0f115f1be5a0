// libwayland-client, opened at run time (see library.h). Included in place
// of <wayland-client.h>, and before any protocol's generated header: the
// request functions inlined there call libwayland-client through the table
// too. The core protocol's glue (wl_registry, wl_seat, ...) is generated
// into the build from wayland.xml like the others, so the interfaces the
// glue refers to are the collector's own and none of the library's data is
// needed. Without the library (or with one older than 1.20, which lacks
// wl_proxy_marshal_flags) there is no Wayland: no compositor is tried.
#pragma once

#include <wayland-client-core.h>

#include "platform/linux/library.h"

#define PALVERN_WAYLAND_CLIENT_SYMBOLS(S)                 \
    S(wl_display_cancel_read, display_cancel_read)         \
    S(wl_display_connect_to_fd, display_connect_to_fd)     \
    S(wl_display_disconnect, display_disconnect)           \
    S(wl_display_dispatch_pending, display_dispatch_pending) \
    S(wl_display_flush, display_flush)                     \
    S(wl_display_get_error, display_get_error)             \
    S(wl_display_get_fd, display_get_fd)                   \
    S(wl_display_prepare_read, display_prepare_read)       \
    S(wl_display_read_events, display_read_events)         \
    S(wl_log_set_handler_client, log_set_handler_client)   \
    S(wl_proxy_add_listener, proxy_add_listener)           \
    S(wl_proxy_destroy, proxy_destroy)                     \
    S(wl_proxy_get_user_data, proxy_get_user_data)         \
    S(wl_proxy_get_version, proxy_get_version)             \
    S(wl_proxy_marshal_flags, proxy_marshal_flags)         \
    S(wl_proxy_set_user_data, proxy_set_user_data)

namespace wayland {

struct Client {
    PALVERN_WAYLAND_CLIENT_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
extern Client libwaylandClient;

// Opens libwayland-client the first time; false when it (or a function of
// it) is missing.
bool loadClient();

}  // namespace wayland

#define wl_display_cancel_read ::wayland::libwaylandClient.display_cancel_read
#define wl_display_connect_to_fd ::wayland::libwaylandClient.display_connect_to_fd
#define wl_display_disconnect ::wayland::libwaylandClient.display_disconnect
#define wl_display_dispatch_pending ::wayland::libwaylandClient.display_dispatch_pending
#define wl_display_flush ::wayland::libwaylandClient.display_flush
#define wl_display_get_error ::wayland::libwaylandClient.display_get_error
#define wl_display_get_fd ::wayland::libwaylandClient.display_get_fd
#define wl_display_prepare_read ::wayland::libwaylandClient.display_prepare_read
#define wl_display_read_events ::wayland::libwaylandClient.display_read_events
#define wl_log_set_handler_client ::wayland::libwaylandClient.log_set_handler_client
#define wl_proxy_add_listener ::wayland::libwaylandClient.proxy_add_listener
#define wl_proxy_destroy ::wayland::libwaylandClient.proxy_destroy
#define wl_proxy_get_user_data ::wayland::libwaylandClient.proxy_get_user_data
#define wl_proxy_get_version ::wayland::libwaylandClient.proxy_get_version
#define wl_proxy_marshal_flags ::wayland::libwaylandClient.proxy_marshal_flags
#define wl_proxy_set_user_data ::wayland::libwaylandClient.proxy_set_user_data

// The core protocol's glue from the build (it has the same include guard as
// the library's own <wayland-client-protocol.h>, which is then never read).
#include "wayland-client-protocol.h"
