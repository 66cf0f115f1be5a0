// libxcb and the libraries of the three extensions the X11 window system
// uses, opened at run time (see library.h). Included in place of
// <xcb/xcb.h>: after it, the XCB names used here call through the tables.
//
// Without libxcb there is no X11. An extension whose library is missing
// counts as an extension the server lacks: the collector runs on X11
// without what it gives (the idle time from the screen-saver extension,
// the input totals from XInput, the process from X-Resource).
#pragma once

#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include "platform/linux/library.h"

#define PALVERN_XCB_SYMBOLS(S)                                  \
    S(xcb_change_window_attributes, change_window_attributes)   \
    S(xcb_connect, connect)                                     \
    S(xcb_connection_has_error, connection_has_error)           \
    S(xcb_disconnect, disconnect)                               \
    S(xcb_flush, flush)                                         \
    S(xcb_get_extension_data, get_extension_data)               \
    S(xcb_get_file_descriptor, get_file_descriptor)             \
    S(xcb_get_property, get_property)                           \
    S(xcb_get_property_reply, get_property_reply)               \
    S(xcb_get_property_value, get_property_value)               \
    S(xcb_get_property_value_length, get_property_value_length) \
    S(xcb_get_setup, get_setup)                                 \
    S(xcb_intern_atom, intern_atom)                             \
    S(xcb_intern_atom_reply, intern_atom_reply)                 \
    S(xcb_poll_for_event, poll_for_event)                       \
    S(xcb_poll_for_queued_event, poll_for_queued_event)         \
    S(xcb_prefetch_extension_data, prefetch_extension_data)     \
    S(xcb_screen_next, screen_next)                             \
    S(xcb_setup_roots_iterator, setup_roots_iterator)

#define PALVERN_XCB_SCREENSAVER_SYMBOLS(S)                \
    S(xcb_screensaver_id, id)                             \
    S(xcb_screensaver_query_info, query_info)             \
    S(xcb_screensaver_query_info_reply, query_info_reply)

#define PALVERN_XCB_XINPUT_SYMBOLS(S)                             \
    S(xcb_input_id, id)                                           \
    S(xcb_input_xi_query_version, xi_query_version)               \
    S(xcb_input_xi_query_version_reply, xi_query_version_reply)   \
    S(xcb_input_xi_select_events, xi_select_events)

#define PALVERN_XCB_RES_SYMBOLS(S)                                         \
    S(xcb_res_id, id)                                                      \
    S(xcb_res_query_version, query_version)                                \
    S(xcb_res_query_version_reply, query_version_reply)                    \
    S(xcb_res_query_client_ids, query_client_ids)                          \
    S(xcb_res_query_client_ids_reply, query_client_ids_reply)              \
    S(xcb_res_query_client_ids_ids_iterator, query_client_ids_ids_iterator) \
    S(xcb_res_client_id_value_next, client_id_value_next)                  \
    S(xcb_res_client_id_value_value, client_id_value_value)                \
    S(xcb_res_client_id_value_value_length, client_id_value_value_length)

namespace x11 {

struct Xcb {
    PALVERN_XCB_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
struct XcbScreensaver {
    PALVERN_XCB_SCREENSAVER_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
struct XcbXinput {
    PALVERN_XCB_XINPUT_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
struct XcbRes {
    PALVERN_XCB_RES_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};

// The tables: an extension's `id` is null while its library is not loaded.
extern Xcb libxcb;
extern XcbScreensaver libxcbScreensaver;
extern XcbXinput libxcbXinput;
extern XcbRes libxcbRes;

// Opens libxcb and whichever extension libraries there are, the first time;
// false when libxcb (or a function of it) is missing.
bool loadXcb();

}  // namespace x11

#define xcb_change_window_attributes ::x11::libxcb.change_window_attributes
#define xcb_connect ::x11::libxcb.connect
#define xcb_connection_has_error ::x11::libxcb.connection_has_error
#define xcb_disconnect ::x11::libxcb.disconnect
#define xcb_flush ::x11::libxcb.flush
#define xcb_get_extension_data ::x11::libxcb.get_extension_data
#define xcb_get_file_descriptor ::x11::libxcb.get_file_descriptor
#define xcb_get_property ::x11::libxcb.get_property
#define xcb_get_property_reply ::x11::libxcb.get_property_reply
#define xcb_get_property_value ::x11::libxcb.get_property_value
#define xcb_get_property_value_length ::x11::libxcb.get_property_value_length
#define xcb_get_setup ::x11::libxcb.get_setup
#define xcb_intern_atom ::x11::libxcb.intern_atom
#define xcb_intern_atom_reply ::x11::libxcb.intern_atom_reply
#define xcb_poll_for_event ::x11::libxcb.poll_for_event
#define xcb_poll_for_queued_event ::x11::libxcb.poll_for_queued_event
#define xcb_prefetch_extension_data ::x11::libxcb.prefetch_extension_data
#define xcb_screen_next ::x11::libxcb.screen_next
#define xcb_setup_roots_iterator ::x11::libxcb.setup_roots_iterator

#define xcb_screensaver_id (*::x11::libxcbScreensaver.id)
#define xcb_screensaver_query_info ::x11::libxcbScreensaver.query_info
#define xcb_screensaver_query_info_reply ::x11::libxcbScreensaver.query_info_reply

#define xcb_input_id (*::x11::libxcbXinput.id)
#define xcb_input_xi_query_version ::x11::libxcbXinput.xi_query_version
#define xcb_input_xi_query_version_reply ::x11::libxcbXinput.xi_query_version_reply
#define xcb_input_xi_select_events ::x11::libxcbXinput.xi_select_events

#define xcb_res_id (*::x11::libxcbRes.id)
#define xcb_res_query_version ::x11::libxcbRes.query_version
#define xcb_res_query_version_reply ::x11::libxcbRes.query_version_reply
#define xcb_res_query_client_ids ::x11::libxcbRes.query_client_ids
#define xcb_res_query_client_ids_reply ::x11::libxcbRes.query_client_ids_reply
#define xcb_res_query_client_ids_ids_iterator ::x11::libxcbRes.query_client_ids_ids_iterator
#define xcb_res_client_id_value_next ::x11::libxcbRes.client_id_value_next
#define xcb_res_client_id_value_value ::x11::libxcbRes.client_id_value_value
#define xcb_res_client_id_value_value_length ::x11::libxcbRes.client_id_value_value_length
