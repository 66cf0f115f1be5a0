/* A test client that owns windows whose properties are given byte for byte.
 *
 *   test_window WINDOW [-- WINDOW]...
 *   WINDOW:  PROPERTY=TYPE:VALUE ...    (for example WM_CLASS=STRING:61006100)
 *   VALUE:   hex bytes, or COUNT*HEX for HEX repeated COUNT times
 *
 * Maps every window, waits until the window manager lists all of them in
 * _NET_CLIENT_LIST, prints their ids in decimal, one a line, and then reads
 * commands from standard input until its end:
 *
 *   set INDEX PROPERTY=TYPE:VALUE   changes a property of window INDEX
 *
 * and answers each with "ok" once the server has the change. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

static xcb_connection_t *conn;

static xcb_atom_t atom(const char *name) {
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, (uint16_t)strlen(name), name), NULL);
    if (!reply) exit(2);
    xcb_atom_t result = reply->atom;
    free(reply);
    return result;
}

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Sets PROPERTY=TYPE:VALUE on `window`. */
static void setProperty(xcb_window_t window, char *assignment) {
    char *equals = strchr(assignment, '=');
    char *colon = equals ? strchr(equals, ':') : NULL;
    if (!colon) {
        fprintf(stderr, "bad property: %s\n", assignment);
        exit(2);
    }
    *equals = *colon = '\0';
    char *value = colon + 1;
    size_t count = 1;
    char *star = strchr(value, '*');
    if (star) {
        count = strtoull(value, NULL, 10);
        value = star + 1;
    }
    size_t unit = strlen(value) / 2;
    unsigned char *bytes = malloc(unit * count + 1);
    for (size_t i = 0; i < unit; ++i) {
        int hi = hexValue(value[2 * i]), lo = hexValue(value[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            fprintf(stderr, "bad hex: %s\n", value);
            exit(2);
        }
        bytes[i] = (unsigned char)(hi * 16 + lo);
    }
    for (size_t k = 1; k < count; ++k) memcpy(bytes + k * unit, bytes, unit);
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, atom(assignment), atom(equals + 1), 8,
                        (uint32_t)(unit * count), bytes);
    free(bytes);
}

/* Whether every window is in the root's _NET_CLIENT_LIST. */
static int allManaged(xcb_window_t root, xcb_atom_t clientList, const xcb_window_t *windows, int count) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, root, clientList, XCB_ATOM_WINDOW, 0, 1 << 16), NULL);
    if (!reply) exit(2);
    const xcb_window_t *listed = xcb_get_property_value(reply);
    int length = xcb_get_property_value_length(reply) / 4, found = 0;
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < length; ++k) {
            if (listed[k] == windows[i]) {
                ++found;
                break;
            }
        }
    }
    free(reply);
    return found == count;
}

static void roundTrip(void) {
    free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), NULL));
}

int main(int argc, char **argv) {
    int screenNumber = 0;
    conn = xcb_connect(NULL, &screenNumber);
    if (xcb_connection_has_error(conn)) return 2;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
    xcb_screen_t *screen = screens.data;

    xcb_window_t windows[64];
    int count = 0;
    for (int i = 1; i < argc && count < 64; ++i) {
        if (i == 1 || strcmp(argv[i], "--") == 0) {
            xcb_window_t window = xcb_generate_id(conn);
            uint32_t background = screen->white_pixel;
            xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, screen->root, 20 * count, 20 * count, 300,
                              200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL,
                              &background);
            windows[count++] = window;
            if (strcmp(argv[i], "--") == 0) continue;
        }
        setProperty(windows[count - 1], argv[i]);
    }
    /* Each change of the client list wakes the wait below: no polling, no
     * deadline of its own (the test that started it keeps one). */
    xcb_atom_t clientList = atom("_NET_CLIENT_LIST");
    uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn, screen->root, XCB_CW_EVENT_MASK, &rootMask);
    for (int i = 0; i < count; ++i) xcb_map_window(conn, windows[i]);
    roundTrip();
    while (!allManaged(screen->root, clientList, windows, count)) {
        xcb_generic_event_t *event;
        do {
            event = xcb_wait_for_event(conn);
            if (!event) return 2;
            int changed = (event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY &&
                          ((xcb_property_notify_event_t *)event)->atom == clientList;
            free(event);
            if (changed) break;
        } while (1);
    }
    for (int i = 0; i < count; ++i) printf("%u\n", windows[i]);
    fflush(stdout);

    char line[1 << 16];
    while (fgets(line, sizeof line, stdin)) {
        int index = 0;
        char assignment[sizeof line];
        if (sscanf(line, "set %d %65535s", &index, assignment) == 2 && index >= 0 && index < count) {
            setProperty(windows[index], assignment);
            roundTrip();
            printf("ok\n");
            fflush(stdout);
        }
    }
    xcb_disconnect(conn);
    return 0;
}
