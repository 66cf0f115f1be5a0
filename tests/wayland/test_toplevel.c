/* A small xdg-shell client for the Wayland tests: one toplevel window whose
 * app_id and title are given as hex bytes, so that any bytes fit.
 *
 * Usage: wayland_test_toplevel APP-ID-HEX TITLE-HEX   ("-" for no app_id)
 *
 * Prints "mapped" once the window has a buffer on screen; then each line on
 * standard input of the form "title HEX" sets a new title (answered "ok").
 * Ends at the end of standard input or when the compositor goes.
 */
#define _GNU_SOURCE
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static int configured;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version) {
    (void)data;
    (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0) {
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    } else if (strcmp(interface, wl_shm_interface.name) == 0) {
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);  /* events of v1 only */
    }
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name) {
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static void ping(void *data, struct xdg_wm_base *base, uint32_t serial) {
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {ping};

static void surface_configure(void *data, struct xdg_surface *surface, uint32_t serial) {
    (void)data;
    xdg_surface_ack_configure(surface, serial);
    configured = 1;
}

static const struct xdg_surface_listener surface_listener = {surface_configure};

static void toplevel_configure(void *data, struct xdg_toplevel *toplevel, int32_t width, int32_t height,
                               struct wl_array *states) {
    (void)data, (void)toplevel, (void)width, (void)height, (void)states;
}

static void toplevel_close(void *data, struct xdg_toplevel *toplevel) { (void)data, (void)toplevel; }

static void toplevel_bounds(void *data, struct xdg_toplevel *toplevel, int32_t width, int32_t height) {
    (void)data, (void)toplevel, (void)width, (void)height;
}

static void toplevel_capabilities(void *data, struct xdg_toplevel *toplevel, struct wl_array *capabilities) {
    (void)data, (void)toplevel, (void)capabilities;
}

static const struct xdg_toplevel_listener toplevel_listener = {toplevel_configure, toplevel_close, toplevel_bounds,
                                                               toplevel_capabilities};

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

static struct wl_buffer *make_buffer(int width, int height) {
    int stride = width * 4, size = stride * height;
    int fd = memfd_create("test-toplevel", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return NULL;
    void *pixels = mmap(NULL, (size_t)size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels != MAP_FAILED) {
        memset(pixels, 0x80, (size_t)size);
        munmap(pixels, (size_t)size);
    }
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, size);
    struct wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s APP-ID-HEX TITLE-HEX\n", argv[0]);
        return 2;
    }
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "no compositor\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm_base) {
        fprintf(stderr, "the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
        return 1;
    }
    xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    struct wl_surface *surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *xdg = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xdg, &surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdg);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
    char *title = unhex(argv[2]);
    xdg_toplevel_set_title(toplevel, title);
    free(title);
    if (strcmp(argv[1], "-") != 0) {
        char *app_id = unhex(argv[1]);
        xdg_toplevel_set_app_id(toplevel, app_id);
        free(app_id);
    }
    wl_surface_commit(surface);
    while (!configured) {
        if (wl_display_dispatch(display) < 0) return 1;
    }
    wl_surface_attach(surface, make_buffer(64, 64), 0, 0);
    wl_surface_commit(surface);
    wl_display_roundtrip(display);
    printf("mapped\n");
    fflush(stdout);

    char line[1 << 16];
    struct pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {0, POLLIN, 0}};
    for (;;) {
        wl_display_flush(display);
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents && wl_display_dispatch(display) < 0) return 0;
        if (fds[1].revents) {
            if (!fgets(line, sizeof line, stdin)) return 0;
            if (strncmp(line, "title ", 6) == 0) {
                line[strcspn(line, "\n")] = '\0';
                char *text = unhex(line + 6);
                xdg_toplevel_set_title(toplevel, text);
                free(text);
                wl_surface_commit(surface);
                wl_display_roundtrip(display);
                printf("ok\n");
                fflush(stdout);
            }
        }
    }
}
