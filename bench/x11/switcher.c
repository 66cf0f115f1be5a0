/* Benchmark driver: runs the collector with pipes and measures it from the
 * outside, on the display in DISPLAY.
 *
 *   switcher switch N WINDOW_A WINDOW_B -- COLLECTOR [ARGS]
 *       Activates A and B alternately N times by _NET_ACTIVE_WINDOW client
 *       messages, each after the collector's "focus" line for the previous
 *       one. Prints, per switch, the microseconds from the PropertyNotify of
 *       _NET_ACTIVE_WINDOW naming the target to the focus line
 *       ("latency_us V"), then "cpu_ns_1000 V" (the collector's CPU time
 *       over the first 1000 switches, or all if fewer), "rss_kb_1000 V",
 *       "rss_kb_end V" and "focus_lines V".
 *   switcher start M -- COLLECTOR [ARGS]
 *       Starts the collector M times; prints the microseconds from fork to
 *       its first line ("first_line_us V"). */
#define _GNU_SOURCE
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

static double now_us(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

struct child {
    pid_t pid;
    int in, out;
    char buf[1 << 16];
    size_t len;
};

static void spawn(struct child *c, char **argv) {
    int in[2], out[2];
    if (pipe(in) || pipe(out)) exit(2);
    c->pid = fork();
    if (c->pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        execvp(argv[0], argv);
        _exit(127);
    }
    close(in[0]), close(out[1]);
    c->in = in[1];
    c->out = out[0];
    c->len = 0;
}

static void finish(struct child *c) {
    close(c->in);
    int status;
    waitpid(c->pid, &status, 0);
    close(c->out);
}

/* Reads what is there; returns how many complete lines came and whether one
 * of them was a focus record. */
static int read_lines(struct child *c, int *focus) {
    ssize_t n = read(c->out, c->buf + c->len, sizeof c->buf - c->len);
    if (n <= 0) return -1;
    c->len += (size_t)n;
    int lines = 0;
    char *start = c->buf, *nl;
    while ((nl = memchr(start, '\n', c->buf + c->len - start))) {
        if (memmem(start, nl - start, "\"event\":\"focus\"", 15)) *focus = 1;
        ++lines;
        start = nl + 1;
    }
    c->len -= (size_t)(start - c->buf);
    memmove(c->buf, start, c->len);
    if (c->len == sizeof c->buf) c->len = 0; /* a huge line: drop its head */
    return lines;
}

static long long proc_field(pid_t pid, const char *file, const char *key) {
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/%s", pid, file);
    FILE *f = fopen(path, "r");
    long long value = -1;
    if (!f) return -1;
    if (!key) {
        if (fscanf(f, "%lld", &value) != 1) value = -1; /* schedstat: ns on CPU */
    } else {
        while (fgets(line, sizeof line, f))
            if (strncmp(line, key, strlen(key)) == 0) value = atoll(line + strlen(key));
    }
    fclose(f);
    return value;
}

static xcb_atom_t atom(xcb_connection_t *conn, const char *name) {
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
}

static xcb_window_t active_window(xcb_connection_t *conn, xcb_window_t root, xcb_atom_t active) {
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(conn, xcb_get_property(conn, 0, root, active, XCB_ATOM_WINDOW, 0, 1), NULL);
    xcb_window_t w = 0;
    if (r && xcb_get_property_value_length(r) >= 4) w = *(xcb_window_t *)xcb_get_property_value(r);
    free(r);
    return w;
}

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    int dash = 1;
    while (dash < argc && strcmp(argv[dash], "--") != 0) ++dash;
    if (argc < 4 || dash >= argc - 1) return 2;
    char **collector = argv + dash + 1;
    int count = atoi(argv[2]);

    if (strcmp(argv[1], "start") == 0) {
        for (int i = 0; i < count; ++i) {
            struct child c;
            double t0 = now_us();
            spawn(&c, collector);
            int focus = 0;
            struct pollfd p = {c.out, POLLIN, 0};
            while (poll(&p, 1, 5000) > 0 && read_lines(&c, &focus) == 0) {
            }
            printf("first_line_us %.1f\n", now_us() - t0);
            finish(&c);
        }
        return 0;
    }

    xcb_connection_t *conn = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(conn)) return 2;
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    xcb_atom_t active = atom(conn, "_NET_ACTIVE_WINDOW");
    uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn, root, XCB_CW_EVENT_MASK, &mask);
    xcb_window_t windows[2] = {(xcb_window_t)strtoul(argv[3], NULL, 0), (xcb_window_t)strtoul(argv[4], NULL, 0)};

    struct child c;
    spawn(&c, collector);
    int focus = 0;
    struct pollfd first = {c.out, POLLIN, 0};
    while (poll(&first, 1, 5000) > 0 && read_lines(&c, &focus) == 0) {
    }
    long long cpu0 = proc_field(c.pid, "schedstat", NULL), cpu1000 = -1, rss1000 = -1;
    int lines = 0;

    for (int i = 0; i < count; ++i) {
        xcb_window_t target = windows[(i + 1) % 2];
        xcb_client_message_event_t ev;
        memset(&ev, 0, sizeof ev);
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = target;
        ev.type = active;
        ev.data.data32[0] = 2; /* from a pager */
        xcb_send_event(conn, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       (const char *)&ev);
        xcb_flush(conn);
        double t_notify = 0, t_line = 0, deadline = now_us() + 2e6;
        focus = 0;
        while ((t_notify == 0 || !focus) && now_us() < deadline) {
            struct pollfd p[2] = {{xcb_get_file_descriptor(conn), POLLIN, 0}, {c.out, POLLIN, 0}};
            if (poll(p, 2, 100) <= 0) continue;
            if (p[1].revents & POLLIN) {
                int was = focus;
                int n = read_lines(&c, &focus);
                if (n < 0) return 3;
                lines += n;
                if (focus && !was) t_line = now_us();
            }
            xcb_generic_event_t *e;
            while ((e = xcb_poll_for_event(conn))) {
                double t = now_us();
                if ((e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                    ((xcb_property_notify_event_t *)e)->atom == active && t_notify == 0 &&
                    active_window(conn, root, active) == target)
                    t_notify = t;
                free(e);
            }
        }
        if (t_notify && focus) printf("latency_us %.1f\n", t_line - t_notify);
        else printf("missed %d\n", i);
        if (i + 1 == 1000 || (i + 1 == count && cpu1000 < 0)) {
            cpu1000 = proc_field(c.pid, "schedstat", NULL) - cpu0;
            rss1000 = proc_field(c.pid, "status", "VmRSS:");
        }
    }
    printf("cpu_ns_1000 %lld\nswitches_1000 %d\nrss_kb_1000 %lld\nrss_kb_end %lld\nfocus_lines %d\n", cpu1000,
           count < 1000 ? count : 1000, rss1000, proc_field(c.pid, "status", "VmRSS:"), lines);
    finish(&c);
    xcb_disconnect(conn);
    return 0;
}
