#include "platform/linux/wayland/client_library.h"

namespace wayland {

Client libwaylandClient;

namespace {

bool fill(void* handle, Client& table) {
    bool found = true;
    PALVERN_WAYLAND_CLIENT_SYMBOLS(PALVERN_LIBRARY_FIND)
    return found;
}

}  // namespace

bool loadClient() {
    static const bool loaded = library::load({"libwayland-client.so.0"}, libwaylandClient, fill);
    return loaded;
}

}  // namespace wayland
