#include "platform/linux/display.h"

#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/linux/text.h"

namespace x11 {
namespace {

// A property read whole. GetProperty's length counts 32-bit units and the
// server multiplies it by 4 in 32 bits, so this is the largest safe value.
constexpr std::uint32_t wholeProperty = 0x3FFFFFFF;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct Atoms {
    xcb_atom_t activeWindow = 0;     // _NET_ACTIVE_WINDOW
    xcb_atom_t supported = 0;        // _NET_SUPPORTED
    xcb_atom_t stacking = 0;         // _NET_CLIENT_LIST_STACKING
    xcb_atom_t wmName = 0;           // _NET_WM_NAME
    xcb_atom_t wmPid = 0;            // _NET_WM_PID
    xcb_atom_t utf8String = 0;       // UTF8_STRING
    xcb_atom_t compoundText = 0;     // COMPOUND_TEXT
    xcb_atom_t applicationId = 0;    // _GTK_APPLICATION_ID
};

struct Display {
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    Atoms atoms;
    bool reportsActive = false;
    bool screensaver = false;
    bool res = false;
    bool xinput = false;
    std::uint8_t xinputOpcode = 0;
};

Display display;
bool attempted = false;
bool activeChanged = false;
// _NET_ACTIVE_WINDOW as last read, kept until the next PropertyNotify for it.
std::optional<xcb_window_t> knownActive;
bool supportedChanged = false;
InputTotals totals;
std::optional<Snapshot> current;

struct Property {
    xcb_atom_t type = 0;
    std::uint8_t format = 0;
    std::string bytes;
};

xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom) {
    return xcb_get_property(display.conn, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, wholeProperty);
}

// The property, or none when it is not set. `gone` is set when the window
// does not exist (any more).
std::optional<Property> readProperty(xcb_get_property_cookie_t cookie, bool* gone = nullptr) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(display.conn, cookie, &error));
    if (error) {
        if (gone && error->error_code == XCB_WINDOW) *gone = true;
        std::free(error);
        return std::nullopt;
    }
    if (!reply || reply->type == XCB_NONE) return std::nullopt;
    auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return Property{reply->type, reply->format, std::string(value, length)};
}

// The 32-bit values of a format-32 property.
std::vector<std::uint32_t> cardinals(const std::optional<Property>& property) {
    std::vector<std::uint32_t> values;
    if (!property || property->format != 32) return values;
    values.resize(property->bytes.size() / 4);
    std::memcpy(values.data(), property->bytes.data(), values.size() * 4);
    return values;
}

std::int32_t asPid(std::uint32_t value) {
    return value <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
               ? static_cast<std::int32_t>(value)
               : 0;
}

// The local process that created `window`, asked of the X-Resource
// extension: the server knows it from the socket, the client cannot forge it.
xcb_res_query_client_ids_cookie_t askClientPid(xcb_window_t window) {
    xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    return xcb_res_query_client_ids(display.conn, 1, &query);
}

std::int32_t readClientPid(xcb_res_query_client_ids_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_res_query_client_ids_reply_t> reply(
        xcb_res_query_client_ids_reply(display.conn, cookie, &error));
    std::free(error);
    if (!reply) return 0;
    // Only the local process was asked for, so any value is that process;
    // none comes back for a client the server cannot place (a remote one).
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
         xcb_res_client_id_value_next(&it)) {
        if (xcb_res_client_id_value_value_length(it.data) >= 1) {
            return asPid(xcb_res_client_id_value_value(it.data)[0]);
        }
    }
    return 0;
}

// A window's process: the server's word for it, else _NET_WM_PID, else 0.
struct PidQuery {
    xcb_res_query_client_ids_cookie_t client{};
    xcb_get_property_cookie_t property{};
};

PidQuery askPid(xcb_window_t window) {
    PidQuery query;
    if (display.res) query.client = askClientPid(window);
    query.property = askProperty(window, display.atoms.wmPid);
    return query;
}

std::int32_t readPid(const PidQuery& query, bool* gone = nullptr) {
    std::int32_t pid = display.res ? readClientPid(query.client) : 0;
    auto values = cardinals(readProperty(query.property, gone));
    if (pid < 1 && !values.empty()) pid = asPid(values[0]);
    return pid < 1 ? 0 : pid;
}

std::optional<std::string> titleFrom(const std::optional<Property>& netName,
                                     const std::optional<Property>& name) {
    if (netName && netName->format == 8 && netName->type == display.atoms.utf8String) {
        return netName->bytes;
    }
    if (!name || name->format != 8) return std::nullopt;
    if (name->type == display.atoms.compoundText) return compoundTextToUtf8(name->bytes);
    if (name->type == display.atoms.utf8String) return name->bytes;
    return latin1ToUtf8(name->bytes);  // STRING, and anything else of bytes
}

std::optional<std::string> firstString(const std::optional<Property>& property) {
    if (!property || property->format != 8) return std::nullopt;
    std::string_view bytes = property->bytes;
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.empty()) return std::nullopt;
    return std::string(bytes);
}

void lose() {
    xcb_disconnect(display.conn);
    display = Display{};
    knownActive.reset();
}

bool checkConnection() {
    if (display.conn && xcb_connection_has_error(display.conn)) lose();
    return display.conn != nullptr;
}

xcb_atom_t readAtom(xcb_intern_atom_cookie_t cookie) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(display.conn, cookie, nullptr));
    return reply ? reply->atom : XCB_NONE;
}

void readSupported(xcb_get_property_cookie_t cookie) {
    auto supported = cardinals(readProperty(cookie));
    display.reportsActive = false;
    for (auto atom : supported) {
        if (atom == display.atoms.activeWindow) display.reportsActive = true;
    }
}

void handleEvent(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window != display.root) return;
        if (notify->atom == display.atoms.activeWindow) {
            activeChanged = true;
            knownActive.reset();
        }
        if (notify->atom == display.atoms.supported) supportedChanged = true;
    } else if (type == XCB_GE_GENERIC && display.xinput) {
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (generic->extension != display.xinputOpcode) return;
        if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            ++totals.keys;
        } else if (generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            const auto button = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event)->detail;
            if (button == 1) {
                ++totals.left;
            } else if (button == 3) {
                ++totals.right;
            } else if (button == 2 || button >= 8) {
                ++totals.other;
            }
            // 4 to 7 are the scroll wheel: idle time only.
        }
    }
}

// Handles the events XCB has queued; with `readSocket`, also what the
// socket holds now (one read, no waiting).
void handleEvents(bool readSocket) {
    xcb_generic_event_t* event =
        readSocket ? xcb_poll_for_event(display.conn) : xcb_poll_for_queued_event(display.conn);
    while (event) {
        handleEvent(event);
        std::free(event);
        event = xcb_poll_for_queued_event(display.conn);
    }
}

bool open() {
    int screenNumber = 0;
    xcb_connection_t* conn = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(conn)) {
        xcb_disconnect(conn);
        return false;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (screenNumber < 0 || screens.rem == 0) {
        xcb_disconnect(conn);
        return false;
    }
    display.conn = conn;
    display.root = screens.data->root;

    xcb_prefetch_extension_data(conn, &xcb_screensaver_id);
    xcb_prefetch_extension_data(conn, &xcb_input_id);
    xcb_prefetch_extension_data(conn, &xcb_res_id);
    auto intern = [&](const char* name) { return xcb_intern_atom(conn, 0, std::strlen(name), name); };
    auto activeWindow = intern("_NET_ACTIVE_WINDOW");
    auto supported = intern("_NET_SUPPORTED");
    auto stacking = intern("_NET_CLIENT_LIST_STACKING");
    auto wmName = intern("_NET_WM_NAME");
    auto wmPid = intern("_NET_WM_PID");
    auto utf8String = intern("UTF8_STRING");
    auto compoundText = intern("COMPOUND_TEXT");
    auto applicationId = intern("_GTK_APPLICATION_ID");
    Atoms& atoms = display.atoms;
    atoms.activeWindow = readAtom(activeWindow);
    atoms.supported = readAtom(supported);
    atoms.stacking = readAtom(stacking);
    atoms.wmName = readAtom(wmName);
    atoms.wmPid = readAtom(wmPid);
    atoms.utf8String = readAtom(utf8String);
    atoms.compoundText = readAtom(compoundText);
    atoms.applicationId = readAtom(applicationId);

    auto present = [&](xcb_extension_t* id) -> const xcb_query_extension_reply_t* {
        const auto* data = xcb_get_extension_data(conn, id);
        return data && data->present ? data : nullptr;
    };
    display.screensaver = present(&xcb_screensaver_id) != nullptr;
    const auto* input = present(&xcb_input_id);
    const bool res = present(&xcb_res_id) != nullptr;

    // Raw events need XInput 2.2: under 2.0 they stop while a client holds a grab.
    xcb_input_xi_query_version_cookie_t inputVersion{};
    if (input) inputVersion = xcb_input_xi_query_version(conn, 2, 2);
    xcb_res_query_version_cookie_t resVersion{};
    if (res) resVersion = xcb_res_query_version(conn, 1, 2);
    auto supportedList = askProperty(display.root, atoms.supported);
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn, display.root, XCB_CW_EVENT_MASK, &rootMask);

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
            xcb_input_xi_select_events(conn, display.root, 1, &mask.head);
            display.xinput = true;
            display.xinputOpcode = input->major_opcode;
        }
    }
    if (res) {
        Reply<xcb_res_query_version_reply_t> version(xcb_res_query_version_reply(conn, resVersion, nullptr));
        display.res = version && (version->server_major > 1 ||
                                  (version->server_major == 1 && version->server_minor >= 2));
    }
    readSupported(supportedList);
    xcb_flush(conn);
    return checkConnection();
}

// The requests for what a sample needs to know about the active window.
struct WindowQuery {
    xcb_window_t window = XCB_NONE;
    xcb_get_property_cookie_t wmClass{}, applicationId{}, netName{}, name{};
    PidQuery pid;
};

WindowQuery askActiveWindow(xcb_window_t window) {
    WindowQuery query;
    query.window = window;
    if (window == XCB_NONE || !display.reportsActive) return query;
    query.wmClass = askProperty(window, XCB_ATOM_WM_CLASS);
    query.applicationId = askProperty(window, display.atoms.applicationId);
    query.netName = askProperty(window, display.atoms.wmName);
    query.name = askProperty(window, XCB_ATOM_WM_NAME);
    query.pid = askPid(window);
    return query;
}

// None when there is no active window or it no longer exists.
std::optional<ActiveWindow> readActiveWindow(const WindowQuery& query) {
    if (query.window == XCB_NONE || !display.reportsActive) return std::nullopt;
    bool gone = false;
    ActiveWindow active;
    active.id = query.window;
    auto classProperty = readProperty(query.wmClass, &gone);
    if (classProperty && classProperty->format == 8) {
        active.wmInstance = wmClassInstance(classProperty->bytes);
        active.wmClass = wmClassClass(classProperty->bytes);
    }
    active.applicationId = firstString(readProperty(query.applicationId, &gone));
    auto netNameProperty = readProperty(query.netName, &gone);
    auto nameProperty = readProperty(query.name, &gone);
    active.title = titleFrom(netNameProperty, nameProperty);
    active.pid = readPid(query.pid, &gone);
    if (gone) return std::nullopt;
    return active;
}

// One round trip when the active window is known from the event stream, two
// when it has to be read first.
Snapshot readSnapshot() {
    Snapshot s;
    if (!connected()) return s;
    xcb_connection_t* conn = display.conn;
    xcb_screensaver_query_info_cookie_t idle{};
    if (display.screensaver) idle = xcb_screensaver_query_info(conn, display.root);
    std::optional<xcb_get_property_cookie_t> active;
    WindowQuery window;
    if (knownActive) {
        window = askActiveWindow(*knownActive);
    } else {
        active = xcb_get_property(conn, 0, display.root, display.atoms.activeWindow, XCB_ATOM_WINDOW, 0, 1);
    }
    if (display.screensaver) {
        Reply<xcb_screensaver_query_info_reply_t> info(xcb_screensaver_query_info_reply(conn, idle, nullptr));
        if (info) s.idleSeconds = info->ms_since_user_input / 1000.0;
    }
    xcb_window_t activeWindow = window.window;
    if (active) {
        auto value = cardinals(readProperty(*active));
        activeWindow = value.empty() ? XCB_NONE : value[0];
        knownActive = activeWindow;
    }
    // Every event the server sent before these replies has been read with
    // them: count that input into this sample (a newer active window is the
    // next callout's).
    handleEvents(false);
    if (active) window = askActiveWindow(activeWindow);
    s.active = readActiveWindow(window);
    if (!checkConnection()) s.active.reset();
    return s;
}

}  // namespace

bool connected() {
    if (!attempted) {
        attempted = true;
        open();
    }
    return display.conn != nullptr;
}

bool windowManagerReportsActiveWindow() { return connected() && display.reportsActive; }

int connectionFd() { return display.conn ? xcb_get_file_descriptor(display.conn) : -1; }

void reconnectIfLost() {
    if (!connected()) open();
}

void drainEvents(bool readSocket) {
    if (!display.conn) return;
    xcb_flush(display.conn);
    handleEvents(readSocket);
    if (supportedChanged && checkConnection()) {
        supportedChanged = false;
        readSupported(askProperty(display.root, display.atoms.supported));
    }
    checkConnection();
}

bool takeActiveWindowChange() {
    bool changed = activeChanged;
    activeChanged = false;
    return changed;
}

const InputTotals& inputTotals() { return totals; }

Snapshot& snapshot() {
    if (!current) current = readSnapshot();
    return *current;
}

void dropSnapshot() { current.reset(); }

const std::vector<ClientWindow>& clientWindows() {
    Snapshot& s = snapshot();
    if (!s.clients) {
        std::vector<ClientWindow> clients;
        if (checkConnection()) {
            for (auto window : cardinals(readProperty(askProperty(display.root, display.atoms.stacking))))
                clients.push_back({window, 0});
            std::vector<PidQuery> queries;
            queries.reserve(clients.size());
            for (const auto& client : clients) queries.push_back(askPid(client.id));
            for (std::size_t i = 0; i < queries.size(); ++i) clients[i].pid = readPid(queries[i]);
            checkConnection();
        }
        s.clients = std::move(clients);
    }
    return *s.clients;
}

std::optional<std::string> windowTitle(std::uint32_t window) {
    if (!checkConnection()) return std::nullopt;
    auto netName = askProperty(window, display.atoms.wmName);
    auto name = askProperty(window, XCB_ATOM_WM_NAME);
    auto netNameProperty = readProperty(netName);
    auto nameProperty = readProperty(name);
    checkConnection();
    return titleFrom(netNameProperty, nameProperty);
}

}  // namespace x11
