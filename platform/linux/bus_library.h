// libsystemd's sd-bus, opened at run time (see library.h). Included in
// place of <systemd/sd-bus.h>: after it, the sd-bus names used here call
// through the table. libelogind, which carries the same sd-bus on systems
// without systemd, serves as well.
//
// It is opened when a bus is first wanted, not at start: under X11 that is
// the first sample of a browser, so a session that never has one in front
// never maps it (with the libraries it brings). Without it there is no
// session bus: KWin and GNOME Shell cannot be reached, and URLs stay "".
#pragma once

#include <systemd/sd-bus.h>

#include "platform/linux/library.h"

#define PALVERN_SD_BUS_SYMBOLS(S) \
    S(sd_bus_add_match_async, add_match_async)                    \
    S(sd_bus_add_object_vtable, add_object_vtable)                \
    S(sd_bus_call, call)                                          \
    S(sd_bus_call_async, call_async)                              \
    S(sd_bus_close_unref, close_unref)                            \
    S(sd_bus_error_set_const, error_set_const)                    \
    S(sd_bus_flush, flush)                                        \
    S(sd_bus_get_events, get_events)                              \
    S(sd_bus_get_fd, get_fd)                                      \
    S(sd_bus_get_timeout, get_timeout)                            \
    S(sd_bus_get_unique_name, get_unique_name)                    \
    S(sd_bus_is_open, is_open)                                    \
    S(sd_bus_is_ready, is_ready)                                  \
    S(sd_bus_match_signal_async, match_signal_async)              \
    S(sd_bus_message_append_basic, message_append_basic)          \
    S(sd_bus_message_appendv, message_appendv)                    \
    S(sd_bus_message_enter_container, message_enter_container)    \
    S(sd_bus_message_exit_container, message_exit_container)      \
    S(sd_bus_message_get_sender, message_get_sender)              \
    S(sd_bus_message_has_signature, message_has_signature)        \
    S(sd_bus_message_is_method_error, message_is_method_error)    \
    S(sd_bus_message_new_method_call, message_new_method_call)    \
    S(sd_bus_message_read, message_read)                          \
    S(sd_bus_message_read_basic, message_read_basic)              \
    S(sd_bus_message_ref, message_ref)                            \
    S(sd_bus_message_set_auto_start, message_set_auto_start)      \
    S(sd_bus_message_set_expect_reply, message_set_expect_reply)  \
    S(sd_bus_message_skip, message_skip)                          \
    S(sd_bus_message_unref, message_unref)                        \
    S(sd_bus_new, new_bus)                                        \
    S(sd_bus_object_vtable_format, object_vtable_format)          \
    S(sd_bus_open_user, open_user)                                \
    S(sd_bus_process, process)                                    \
    S(sd_bus_reply_method_return, reply_method_return)            \
    S(sd_bus_send, send)                                          \
    S(sd_bus_set_address, set_address)                            \
    S(sd_bus_set_bus_client, set_bus_client)                      \
    S(sd_bus_slot_set_destroy_callback, slot_set_destroy_callback) \
    S(sd_bus_slot_set_floating, slot_set_floating)                \
    S(sd_bus_slot_unref, slot_unref)                              \
    S(sd_bus_start, start)                                        \
    S(sd_bus_wait, wait)

namespace bus {

struct Sdbus {
    PALVERN_SD_BUS_SYMBOLS(PALVERN_LIBRARY_MEMBER)
};
extern Sdbus libsystemd;

// Opens the library the first time; false when it (or a function of it) is
// missing. Everything that makes a bus connection asks this first.
bool loadLibrary();

}  // namespace bus

#define sd_bus_add_match_async ::bus::libsystemd.add_match_async
#define sd_bus_add_object_vtable ::bus::libsystemd.add_object_vtable
#define sd_bus_call ::bus::libsystemd.call
#define sd_bus_call_async ::bus::libsystemd.call_async
#define sd_bus_close_unref ::bus::libsystemd.close_unref
#define sd_bus_error_set_const ::bus::libsystemd.error_set_const
#define sd_bus_flush ::bus::libsystemd.flush
#define sd_bus_get_events ::bus::libsystemd.get_events
#define sd_bus_get_fd ::bus::libsystemd.get_fd
#define sd_bus_get_timeout ::bus::libsystemd.get_timeout
#define sd_bus_get_unique_name ::bus::libsystemd.get_unique_name
#define sd_bus_is_open ::bus::libsystemd.is_open
#define sd_bus_is_ready ::bus::libsystemd.is_ready
#define sd_bus_match_signal_async ::bus::libsystemd.match_signal_async
#define sd_bus_message_append_basic ::bus::libsystemd.message_append_basic
#define sd_bus_message_appendv ::bus::libsystemd.message_appendv
#define sd_bus_message_enter_container ::bus::libsystemd.message_enter_container
#define sd_bus_message_exit_container ::bus::libsystemd.message_exit_container
#define sd_bus_message_get_sender ::bus::libsystemd.message_get_sender
#define sd_bus_message_has_signature ::bus::libsystemd.message_has_signature
#define sd_bus_message_is_method_error ::bus::libsystemd.message_is_method_error
#define sd_bus_message_new_method_call ::bus::libsystemd.message_new_method_call
#define sd_bus_message_read ::bus::libsystemd.message_read
#define sd_bus_message_read_basic ::bus::libsystemd.message_read_basic
#define sd_bus_message_ref ::bus::libsystemd.message_ref
#define sd_bus_message_set_auto_start ::bus::libsystemd.message_set_auto_start
#define sd_bus_message_set_expect_reply ::bus::libsystemd.message_set_expect_reply
#define sd_bus_message_skip ::bus::libsystemd.message_skip
#define sd_bus_message_unref ::bus::libsystemd.message_unref
#define sd_bus_new ::bus::libsystemd.new_bus
#define sd_bus_object_vtable_format (*::bus::libsystemd.object_vtable_format)
#define sd_bus_open_user ::bus::libsystemd.open_user
#define sd_bus_process ::bus::libsystemd.process
#define sd_bus_reply_method_return ::bus::libsystemd.reply_method_return
#define sd_bus_send ::bus::libsystemd.send
#define sd_bus_set_address ::bus::libsystemd.set_address
#define sd_bus_set_bus_client ::bus::libsystemd.set_bus_client
#define sd_bus_slot_set_destroy_callback ::bus::libsystemd.slot_set_destroy_callback
#define sd_bus_slot_set_floating ::bus::libsystemd.slot_set_floating
#define sd_bus_slot_unref ::bus::libsystemd.slot_unref
#define sd_bus_start ::bus::libsystemd.start
#define sd_bus_wait ::bus::libsystemd.wait
