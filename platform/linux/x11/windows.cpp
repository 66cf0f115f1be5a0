// The windows of the desktop: the active one, the window manager's client
// windows, their processes and titles.
#include <xcb/res.h>
#include <xcb/screensaver.h>

#include <limits>

#include "platform/linux/text.h"
#include "platform/linux/x11/x11.h"

namespace x11 {
namespace {

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
    query.property = askProperty(window, display.atoms.wmPid, numberLongs);
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
    query.wmClass = askProperty(window, XCB_ATOM_WM_CLASS, textLongs);
    query.applicationId = askProperty(window, display.atoms.applicationId, textLongs);
    query.netName = askProperty(window, display.atoms.wmName, textLongs);
    query.name = askProperty(window, XCB_ATOM_WM_NAME, textLongs);
    query.pid = askPid(window);
    return query;
}

// None when there is no active window or it no longer exists.
std::optional<ws::ActiveWindow> readActiveWindow(const WindowQuery& query) {
    if (query.window == XCB_NONE || !display.reportsActive) return std::nullopt;
    bool gone = false;
    ws::ActiveWindow active;
    active.id = query.window;
    auto classProperty = readProperty(query.wmClass, &gone);
    if (classProperty && classProperty->format == 8) {
        active.instance = wmClassInstance(classProperty->bytes);
        active.windowClass = wmClassClass(classProperty->bytes);
    }
    active.applicationId = firstString(readProperty(query.applicationId, &gone));
    auto netNameProperty = readProperty(query.netName, &gone);
    auto nameProperty = readProperty(query.name, &gone);
    active.title = titleFrom(netNameProperty, nameProperty);
    active.pid = readPid(query.pid, &gone);
    if (gone) return std::nullopt;
    return active;
}

}  // namespace

// One round trip when the active window is known from the event stream, two
// when it has to be read first.
ws::Snapshot readSnapshot() {
    ws::Snapshot s;
    if (!checkConnection()) return s;
    xcb_connection_t* conn = display.conn;
    xcb_screensaver_query_info_cookie_t idle{};
    if (display.screensaver) idle = xcb_screensaver_query_info(conn, display.root);
    std::optional<xcb_get_property_cookie_t> active;
    WindowQuery window;
    if (display.knownActive) {
        window = askActiveWindow(*display.knownActive);
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
        display.knownActive = activeWindow;
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

// _NET_CLIENT_LIST_STACKING runs bottom to top: the top-most window comes first here.
std::vector<ws::ClientWindow> clientWindows() {
    std::vector<ws::ClientWindow> clients;
    if (!checkConnection()) return clients;
    auto stacking = cardinals(readProperty(askProperty(display.root, display.atoms.stacking, listLongs)));
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) clients.push_back({*it, 0});
    std::vector<PidQuery> queries;
    queries.reserve(clients.size());
    for (const auto& client : clients) queries.push_back(askPid(static_cast<xcb_window_t>(client.id)));
    for (std::size_t i = 0; i < queries.size(); ++i) clients[i].pid = readPid(queries[i]);
    checkConnection();
    return clients;
}

std::optional<std::string> windowTitle(std::uint64_t id) {
    if (!checkConnection()) return std::nullopt;
    const auto window = static_cast<xcb_window_t>(id);
    auto netName = askProperty(window, display.atoms.wmName, textLongs);
    auto name = askProperty(window, XCB_ATOM_WM_NAME, textLongs);
    auto netNameProperty = readProperty(netName);
    auto nameProperty = readProperty(name);
    checkConnection();
    return titleFrom(netNameProperty, nameProperty);
}

}  // namespace x11
