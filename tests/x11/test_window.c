/* A test client that owns windows whose properties are given byte for byte.
 *
 *   test_window WINDOW [-- WINDOW]...
 *   WINDOW:  PROPERTY=TYPE:VALUE ...    (for example WM_CLASS=STRING:61006100)
 *   VALUE:   hex bytes, or COUNT*HEX for HEX repeated COUNT times
 *
 * Maps every window, prints their ids in decimal, one a line, and then reads
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
    for (int i = 0; i < count; ++i) xcb_map_window(conn, windows[i]);
    roundTrip();
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
