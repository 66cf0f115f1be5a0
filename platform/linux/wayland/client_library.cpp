#include "platform/linux/wayland/client_library.h"

namespace wayland {

Client libwaylandClient;

bool loadClient() {
    static const bool loaded = library::load({"libwayland-client.so.0"}, libwaylandClient,
                                             PALVERN_LIBRARY_FILL(PALVERN_WAYLAND_CLIENT_SYMBOLS));
    return loaded;
}

}  // namespace wayland
