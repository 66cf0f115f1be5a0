// The connection to the X display: opened on a thread of its own, so that a
// server that accepts the connection and then never answers (a hung or
// stopped server, a dead forwarded display) holds up neither start-up nor
// the main loop; lost and opened again at most once per refresh.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xinput.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/linux/x11/x11.h"
#include "platform/posix/standard_input.h"

namespace x11 {

Display display;

namespace {

// How long start-up waits for the display before it counts as absent, and
// how long a refresh waits for a new attempt before sampling without it.
constexpr int startDeadlineMs = 1000;
constexpr int refreshDeadlineMs = 50;

// One attempt at opening the display. The thread that makes it hands over
// the result under the mutex, then makes `done` readable.
struct Attempt {
    std::mutex mutex;
    bool finished = false;
    Display result;
    int done = -1;  // an eventfd
    ~Attempt() {
        if (done >= 0) close(done);
    }
};

// The attempt still running, if any: there is never more than one.
std::shared_ptr<Attempt> pending;

xcb_atom_t readAtom(xcb_connection_t* conn, xcb_intern_atom_cookie_t cookie) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(conn, cookie, nullptr));
    return reply ? reply->atom : XCB_NONE;
}

// Opens the display named by DISPLAY and learns what the session needs from
// it; waits for the server as long as it takes. Returns no connection when
// there is no usable display.
Display openDisplay() {
    Display opened;
    int screenNumber = 0;
    xcb_connection_t* conn = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(conn)) {
        xcb_disconnect(conn);
        return opened;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (screenNumber < 0 || screens.rem == 0) {
        xcb_disconnect(conn);
        return opened;
    }
    opened.conn = conn;
    opened.root = screens.data->root;

    if (libxcbScreensaver.id) xcb_prefetch_extension_data(conn, &xcb_screensaver_id);
    if (libxcbXinput.id) xcb_prefetch_extension_data(conn, &xcb_input_id);
    if (libxcbRes.id) xcb_prefetch_extension_data(conn, &xcb_res_id);
    auto intern = [&](const char* name) { return xcb_intern_atom(conn, 0, std::strlen(name), name); };
    auto activeWindow = intern("_NET_ACTIVE_WINDOW");
    auto supported = intern("_NET_SUPPORTED");
    auto stacking = intern("_NET_CLIENT_LIST_STACKING");
    auto wmName = intern("_NET_WM_NAME");
    auto wmPid = intern("_NET_WM_PID");
    auto utf8String = intern("UTF8_STRING");
    auto compoundText = intern("COMPOUND_TEXT");
    auto applicationId = intern("_GTK_APPLICATION_ID");
    Atoms& atoms = opened.atoms;
    atoms.activeWindow = readAtom(conn, activeWindow);
    atoms.supported = readAtom(conn, supported);
    atoms.stacking = readAtom(conn, stacking);
    atoms.wmName = readAtom(conn, wmName);
    atoms.wmPid = readAtom(conn, wmPid);
    atoms.utf8String = readAtom(conn, utf8String);
    atoms.compoundText = readAtom(conn, compoundText);
    atoms.applicationId = readAtom(conn, applicationId);

    auto present = [&](xcb_extension_t* id) -> const xcb_query_extension_reply_t* {
        const auto* data = xcb_get_extension_data(conn, id);
        return data && data->present ? data : nullptr;
    };
    // An extension whose library this machine lacks counts as absent.
    opened.screensaver = libxcbScreensaver.id && present(&xcb_screensaver_id) != nullptr;
    const auto* input = libxcbXinput.id ? present(&xcb_input_id) : nullptr;
    const bool res = libxcbRes.id && present(&xcb_res_id) != nullptr;

    // Raw events need XInput 2.2: under 2.0 they stop while a client holds a grab.
    xcb_input_xi_query_version_cookie_t inputVersion{};
    if (input) inputVersion = xcb_input_xi_query_version(conn, 2, 2);
    xcb_res_query_version_cookie_t resVersion{};
    if (res) resVersion = xcb_res_query_version(conn, 1, 2);
    auto supportedList = xcb_get_property(conn, 0, opened.root, atoms.supported, XCB_ATOM_ATOM, 0, listLongs);
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn, opened.root, XCB_CW_EVENT_MASK, &rootMask);

    if (input) {
        Reply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(conn, inputVersion, nullptr));
        if (version && version->major_version >= 2) {
            // Master devices only: every slave event also reaches its master.
            struct {
                xcb_input_event_mask_t head;
                std::uint32_t bits;
            } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                   XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
            xcb_input_xi_select_events(conn, opened.root, 1, &mask.head);
            opened.xinput = true;
            opened.xinputOpcode = input->major_opcode;
        }
    }
    if (res) {
        Reply<xcb_res_query_version_reply_t> version(xcb_res_query_version_reply(conn, resVersion, nullptr));
        opened.res = version && (version->server_major > 1 ||
                                 (version->server_major == 1 && version->server_minor >= 2));
    }
    Reply<xcb_get_property_reply_t> list(xcb_get_property_reply(conn, supportedList, nullptr));
    if (list && list->format == 32) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(list.get()));
        const int count = xcb_get_property_value_length(list.get()) / 4;
        for (int i = 0; i < count; ++i) {
            if (values[i] == atoms.activeWindow) opened.reportsActive = true;
        }
    }
    xcb_flush(conn);
    if (xcb_connection_has_error(conn)) {
        xcb_disconnect(conn);
        return Display{};
    }
    return opened;
}

void startAttempt() {
    if (!loadXcb()) return;  // no libxcb: no display to be had
    auto attempt = std::make_shared<Attempt>();
    attempt->done = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (attempt->done < 0) return;
    try {
        std::thread([attempt] {
            Display opened = openDisplay();
            std::lock_guard lock(attempt->mutex);
            attempt->result = opened;
            attempt->finished = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] auto written = write(attempt->done, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return;  // no thread to be had: no attempt this time
    }
    pending = std::move(attempt);
}

void lose() {
    xcb_disconnect(display.conn);
    display = Display{};
}

}  // namespace

bool adoptFinishedAttempt() {
    if (!pending) return false;
    {
        std::lock_guard lock(pending->mutex);
        if (!pending->finished) return false;
        if (display.conn) lose();
        display = pending->result;
    }
    pending.reset();
    return true;
}

void connect() {
    startAttempt();
    if (!pending) return;
    // Standard input is watched meanwhile: its end cuts the wait short, so
    // the host that closes it sees the collector go at once.
    posix::waitReadableUnlessInputEnds(pending->done, startDeadlineMs);
    adoptFinishedAttempt();
    // An attempt still running stays pending: the main loop adopts it when
    // it ends, and until then the display counts as absent.
}

bool checkConnection() {
    if (display.conn && xcb_connection_has_error(display.conn)) lose();
    return display.conn != nullptr;
}

void reconnectIfLost() {
    if (checkConnection()) return;
    // An attempt from an earlier refresh that has not ended is a server that
    // does not answer: it is left to end (or not) on its own, and no second
    // one is started beside it.
    if (pending) {
        adoptFinishedAttempt();
        return;
    }
    startAttempt();
    if (!pending) return;
    pollfd done{pending->done, POLLIN, 0};
    while (poll(&done, 1, refreshDeadlineMs) < 0 && errno == EINTR) {
    }
    adoptFinishedAttempt();
}

void descriptors(std::vector<pollfd>& fds, int&) {
    if (display.conn) {
        fds.push_back({xcb_get_file_descriptor(display.conn), POLLIN, 0});
    } else if (pending) {
        fds.push_back({pending->done, POLLIN, 0});
    }
}

}  // namespace x11
