#include "platform/linux/bus_library.h"

namespace bus {

Sdbus libsystemd;

bool loadLibrary() {
    static const bool loaded = library::load({"libsystemd.so.0", "libelogind.so.0"}, libsystemd,
                                             PALVERN_LIBRARY_FILL(PALVERN_SD_BUS_SYMBOLS));
    return loaded;
}

}  // namespace bus
