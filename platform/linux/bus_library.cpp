#include "platform/linux/bus_library.h"

namespace bus {

Sdbus libsystemd;

namespace {

bool fill(void* handle, Sdbus& table) {
    bool found = true;
    PALVERN_SD_BUS_SYMBOLS(PALVERN_LIBRARY_FIND)
    return found;
}

}  // namespace

bool loadLibrary() {
    static const bool loaded = library::load({"libsystemd.so.0", "libelogind.so.0"}, libsystemd, fill);
    return loaded;
}

}  // namespace bus
