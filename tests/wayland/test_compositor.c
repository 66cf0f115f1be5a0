/* A small scripted compositor for the Wayland tests, on libwayland-server.
 *
 * Usage: wayland_test_compositor [--bare | --idle-version=N] SOCKET-NAME
 *
 * Listens on $XDG_RUNTIME_DIR/SOCKET-NAME and offers wl_seat,
 * ext_idle_notifier_v1 (at version 1, or N) and a foreign-toplevel manager
 * whose toplevels come from commands on standard input; with --bare, wl_seat
 * alone. Prints "ready" once it listens, and "ok" after each command has
 * been sent to every client. Commands, one a line (TEXT in hex, so that any
 * bytes fit):
 *
 *   new N APP TITLE  a toplevel numbered N ("-" for no app_id)
 *   title N TITLE    a new title for toplevel N
 *   activate N       N activated, the one before not, both in one batch
 *                    (N = 0: none activated, as on an empty workspace)
 *   close N          toplevel N closed
 *   idle / resume    every idle notification says idled / resumed, but
 *                    while an idle inhibitor is there only those for input
 *                    alone (version 2) go idle
 *   inhibit / allow  an idle inhibitor appears / goes
 *   stall            stops serving clients (the socket stays open) until
 *                    the line "serve" arrives
 *   when             prints "us T": the CLOCK_MONOTONIC microseconds just
 *                    before the previous command's events were sent
 *                    (benchmarks)
 *
 * Ends at the end of standard input.
 */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <wayland-server-core.h>
#include <wayland-server-protocol.h>

#include "ext-idle-notify-v1-server-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-server-protocol.h"

#define MAX_CLIENTS 16
#define MAX_TOPLEVELS 32

struct toplevel {
    int number; /* 0: free slot */
    char *app_id;
    char *title;
    int activated;
    struct wl_resource *handles[MAX_CLIENTS]; /* one per bound manager */
};

static struct wl_display *display;
static struct wl_resource *managers[MAX_CLIENTS];
static struct wl_resource *notifications[MAX_CLIENTS];
static int input_only[MAX_CLIENTS]; /* the notification is for input alone */
static int idled[MAX_CLIENTS];
static int inhibited;
static struct toplevel toplevels[MAX_TOPLEVELS];
static long long last_sent_us;

static void forget(struct wl_resource **slots, int count, struct wl_resource *resource) {
    for (int i = 0; i < count; ++i) {
        if (slots[i] == resource) slots[i] = NULL;
    }
}

static int add(struct wl_resource **slots, struct wl_resource *resource) {
    for (int i = 0; i < MAX_CLIENTS; ++i) {
        if (!slots[i]) {
            slots[i] = resource;
            return i;
        }
    }
    return -1;
}

/* ---- the toplevel handles */

static void handle_destroyed(struct wl_resource *resource) {
    for (int t = 0; t < MAX_TOPLEVELS; ++t) forget(toplevels[t].handles, MAX_CLIENTS, resource);
}

static void ignore(struct wl_client *client, struct wl_resource *resource) {
    (void)client;
    (void)resource;
}
static void ignore_object(struct wl_client *client, struct wl_resource *resource, struct wl_resource *object) {
    (void)client;
    (void)resource;
    (void)object;
}
static void ignore_rectangle(struct wl_client *client, struct wl_resource *resource, struct wl_resource *surface,
                             int32_t x, int32_t y, int32_t width, int32_t height) {
    (void)client, (void)resource, (void)surface, (void)x, (void)y, (void)width, (void)height;
}
static void destroy_resource(struct wl_client *client, struct wl_resource *resource) {
    (void)client;
    wl_resource_destroy(resource);
}

static const struct zwlr_foreign_toplevel_handle_v1_interface handle_impl = {
    .set_maximized = ignore,
    .unset_maximized = ignore,
    .set_minimized = ignore,
    .unset_minimized = ignore,
    .activate = ignore_object,
    .close = ignore,
    .set_rectangle = ignore_rectangle,
    .destroy = destroy_resource,
    .set_fullscreen = ignore_object,
    .unset_fullscreen = ignore,
};

static void send_state(struct wl_resource *handle, int activated) {
    struct wl_array state;
    wl_array_init(&state);
    if (activated) {
        uint32_t *value = wl_array_add(&state, sizeof *value);
        *value = ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
    zwlr_foreign_toplevel_handle_v1_send_state(handle, &state);
    wl_array_release(&state);
}

/* The toplevel's whole description, to manager `m`. */
static void announce(struct toplevel *toplevel, int m) {
    struct wl_resource *manager = managers[m];
    struct wl_resource *handle = wl_resource_create(wl_resource_get_client(manager),
                                                    &zwlr_foreign_toplevel_handle_v1_interface,
                                                    wl_resource_get_version(manager), 0);
    if (!handle) return;
    wl_resource_set_implementation(handle, &handle_impl, NULL, handle_destroyed);
    toplevel->handles[m] = handle;
    zwlr_foreign_toplevel_manager_v1_send_toplevel(manager, handle);
    zwlr_foreign_toplevel_handle_v1_send_title(handle, toplevel->title);
    if (toplevel->app_id) zwlr_foreign_toplevel_handle_v1_send_app_id(handle, toplevel->app_id);
    send_state(handle, toplevel->activated);
    zwlr_foreign_toplevel_handle_v1_send_done(handle);
}

/* ---- the manager */

static void manager_stop(struct wl_client *client, struct wl_resource *resource) {
    (void)client;
    zwlr_foreign_toplevel_manager_v1_send_finished(resource);
}

static const struct zwlr_foreign_toplevel_manager_v1_interface manager_impl = {.stop = manager_stop};

static void manager_destroyed(struct wl_resource *resource) { forget(managers, MAX_CLIENTS, resource); }

static void bind_manager(struct wl_client *client, void *data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource *resource =
        wl_resource_create(client, &zwlr_foreign_toplevel_manager_v1_interface, (int)version, id);
    if (!resource) return;
    int m = add(managers, resource);
    wl_resource_set_implementation(resource, &manager_impl, NULL, m < 0 ? NULL : manager_destroyed);
    if (m < 0) return;
    for (int t = 0; t < MAX_TOPLEVELS; ++t) {
        if (toplevels[t].number) announce(&toplevels[t], m);
    }
}

/* ---- idle */

static void notification_destroyed(struct wl_resource *resource) { forget(notifications, MAX_CLIENTS, resource); }

static const struct ext_idle_notification_v1_interface notification_impl = {.destroy = destroy_resource};

static void new_notification(struct wl_client *client, struct wl_resource *resource, uint32_t id, int input) {
    struct wl_resource *notification =
        wl_resource_create(client, &ext_idle_notification_v1_interface, wl_resource_get_version(resource), id);
    if (!notification) return;
    int slot = add(notifications, notification);
    wl_resource_set_implementation(notification, &notification_impl, NULL,
                                   slot < 0 ? NULL : notification_destroyed);
    if (slot >= 0) {
        input_only[slot] = input;
        idled[slot] = 0;
    }
}

static void get_idle_notification(struct wl_client *client, struct wl_resource *resource, uint32_t id,
                                  uint32_t timeout, struct wl_resource *seat) {
    (void)timeout;
    (void)seat;
    new_notification(client, resource, id, 0);
}

static void get_input_idle_notification(struct wl_client *client, struct wl_resource *resource, uint32_t id,
                                        uint32_t timeout, struct wl_resource *seat) {
    (void)timeout;
    (void)seat;
    new_notification(client, resource, id, 1);
}

static const struct ext_idle_notifier_v1_interface notifier_impl = {
    .destroy = destroy_resource,
    .get_idle_notification = get_idle_notification,
    .get_input_idle_notification = get_input_idle_notification,
};

static void bind_notifier(struct wl_client *client, void *data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource *resource = wl_resource_create(client, &ext_idle_notifier_v1_interface, (int)version, id);
    if (resource) wl_resource_set_implementation(resource, &notifier_impl, NULL, NULL);
}

/* ---- the seat: no capabilities */

static void seat_get(struct wl_client *client, struct wl_resource *resource, uint32_t id) {
    (void)client, (void)resource, (void)id;
}

static const struct wl_seat_interface seat_impl = {
    .get_pointer = seat_get,
    .get_keyboard = seat_get,
    .get_touch = seat_get,
    .release = destroy_resource,
};

static void bind_seat(struct wl_client *client, void *data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource *resource = wl_resource_create(client, &wl_seat_interface, (int)version, id);
    if (!resource) return;
    wl_resource_set_implementation(resource, &seat_impl, NULL, NULL);
    wl_seat_send_capabilities(resource, 0);
}

/* ---- commands */

static char *unhex(const char *text) {
    size_t length = strlen(text) / 2;
    char *bytes = calloc(length + 1, 1);
    for (size_t i = 0; i < length; ++i) {
        unsigned value = 0;
        sscanf(text + 2 * i, "%2x", &value);
        bytes[i] = (char)value;
    }
    return bytes;
}

static struct toplevel *find(int number) {
    for (int t = 0; t < MAX_TOPLEVELS; ++t) {
        if (number && toplevels[t].number == number) return &toplevels[t];
    }
    return NULL;
}

static void send_all_states(struct toplevel *toplevel) {
    for (int m = 0; m < MAX_CLIENTS; ++m) {
        if (toplevel->handles[m]) send_state(toplevel->handles[m], toplevel->activated);
    }
}

static void send_all_done(struct toplevel *toplevel) {
    for (int m = 0; m < MAX_CLIENTS; ++m) {
        if (toplevel->handles[m]) zwlr_foreign_toplevel_handle_v1_send_done(toplevel->handles[m]);
    }
}

static void command(char *line) {
    char word[16] = "", a[4096] = "", b[65536] = "";
    int number = 0;
    sscanf(line, "%15s %d %4095s %65535s", word, &number, a, b);
    struct toplevel *toplevel = find(number);
    if (strcmp(word, "new") == 0 && !toplevel) {
        toplevel = find(0);
        for (int t = 0; t < MAX_TOPLEVELS && !toplevel; ++t) {
            if (!toplevels[t].number) toplevel = &toplevels[t];
        }
        if (toplevel) {
            memset(toplevel, 0, sizeof *toplevel);
            toplevel->number = number;
            toplevel->app_id = strcmp(a, "-") == 0 ? NULL : unhex(a);
            toplevel->title = unhex(b);
            for (int m = 0; m < MAX_CLIENTS; ++m) {
                if (managers[m]) announce(toplevel, m);
            }
        }
    } else if (strcmp(word, "title") == 0 && toplevel) {
        free(toplevel->title);
        toplevel->title = unhex(a);
        for (int m = 0; m < MAX_CLIENTS; ++m) {
            if (!toplevel->handles[m]) continue;
            zwlr_foreign_toplevel_handle_v1_send_title(toplevel->handles[m], toplevel->title);
            zwlr_foreign_toplevel_handle_v1_send_done(toplevel->handles[m]);
        }
    } else if (strcmp(word, "activate") == 0) {
        struct toplevel *before = NULL;
        for (int t = 0; t < MAX_TOPLEVELS; ++t) {
            if (toplevels[t].number && toplevels[t].activated) before = &toplevels[t];
        }
        if (before && before != toplevel) {
            before->activated = 0;
            send_all_states(before);
        }
        if (toplevel) {
            toplevel->activated = 1;
            send_all_states(toplevel);
        }
        if (before && before != toplevel) send_all_done(before);
        if (toplevel) send_all_done(toplevel);
    } else if (strcmp(word, "close") == 0 && toplevel) {
        for (int m = 0; m < MAX_CLIENTS; ++m) {
            if (toplevel->handles[m]) zwlr_foreign_toplevel_handle_v1_send_closed(toplevel->handles[m]);
        }
        free(toplevel->app_id);
        free(toplevel->title);
        toplevel->number = 0;  /* its handles stay until each client destroys them */
        toplevel->app_id = toplevel->title = NULL;
        memset(toplevel->handles, 0, sizeof toplevel->handles);
    } else if (strcmp(word, "idle") == 0) {
        for (int i = 0; i < MAX_CLIENTS; ++i) {
            if (!notifications[i] || idled[i] || (inhibited && !input_only[i])) continue;
            idled[i] = 1;
            ext_idle_notification_v1_send_idled(notifications[i]);
        }
    } else if (strcmp(word, "resume") == 0) {
        for (int i = 0; i < MAX_CLIENTS; ++i) {
            if (!notifications[i] || !idled[i]) continue;
            idled[i] = 0;
            ext_idle_notification_v1_send_resumed(notifications[i]);
        }
    } else if (strcmp(word, "inhibit") == 0 || strcmp(word, "allow") == 0) {
        inhibited = word[0] == 'i';
    }
    if (strcmp(word, "when") == 0) {
        printf("us %lld\n", last_sent_us);
        return;
    }
    /* Taken just before the events go: a client woken by them may run before
     * this process does again. */
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    last_sent_us = (long long)now.tv_sec * 1000000 + now.tv_nsec / 1000;
    wl_display_flush_clients(display);
}

/* Reads standard input; runs each complete line. "stall" blocks right here,
 * reading on until "serve", while no client is served. */
static int read_input(int fd, uint32_t mask, void *data) {
    (void)mask;
    (void)data;
    static char buffer[1 << 17];
    static size_t used;
    static int stalled;
    for (;;) {
        ssize_t n = read(fd, buffer + used, sizeof buffer - 1 - used);
        if (n <= 0) {
            wl_display_terminate(display);
            return 0;
        }
        used += (size_t)n;
        buffer[used] = '\0';
        char *line = buffer, *end;
        while ((end = strchr(line, '\n'))) {
            *end = '\0';
            if (strcmp(line, "stall") == 0) {
                stalled = 1;
            } else if (strcmp(line, "serve") == 0) {
                stalled = 0;
            } else {
                command(line);
            }
            printf("ok\n");
            fflush(stdout);
            line = end + 1;
        }
        used -= (size_t)(line - buffer);
        memmove(buffer, line, used);
        if (!stalled) return 0;
    }
}

int main(int argc, char **argv) {
    int bare = argc > 2 && strcmp(argv[1], "--bare") == 0;
    int idle_version = 1;
    if (argc > 2 && !bare && sscanf(argv[1], "--idle-version=%d", &idle_version) != 1) idle_version = 0;
    if (argc < 2 || argc > 3 || idle_version < 1 || idle_version > ext_idle_notifier_v1_interface.version) {
        fprintf(stderr, "usage: %s [--bare | --idle-version=N] SOCKET-NAME\n", argv[0]);
        return 2;
    }
    display = wl_display_create();
    if (!display || wl_display_add_socket(display, argv[argc - 1]) != 0) {
        fprintf(stderr, "cannot listen on %s\n", argv[argc - 1]);
        return 1;
    }
    wl_global_create(display, &wl_seat_interface, 1, NULL, bind_seat);
    if (!bare) {
        wl_global_create(display, &zwlr_foreign_toplevel_manager_v1_interface, 3, NULL, bind_manager);
        wl_global_create(display, &ext_idle_notifier_v1_interface, idle_version, NULL, bind_notifier);
    }
    wl_event_loop_add_fd(wl_display_get_event_loop(display), 0, WL_EVENT_READABLE, read_input, NULL);
    printf("ready\n");
    fflush(stdout);
    wl_display_run(display);
    wl_display_destroy_clients(display);
    wl_display_destroy(display);
    return 0;
}
