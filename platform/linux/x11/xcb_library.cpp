#include "platform/linux/x11/xcb_library.h"

namespace x11 {

Xcb libxcb;
XcbScreensaver libxcbScreensaver;
XcbXinput libxcbXinput;
XcbRes libxcbRes;

namespace {

bool fillXcb(void* handle, Xcb& table) {
    bool found = true;
    PALVERN_XCB_SYMBOLS(PALVERN_LIBRARY_FIND)
    return found;
}

bool fillScreensaver(void* handle, XcbScreensaver& table) {
    bool found = true;
    PALVERN_XCB_SCREENSAVER_SYMBOLS(PALVERN_LIBRARY_FIND)
    return found;
}

bool fillXinput(void* handle, XcbXinput& table) {
    bool found = true;
    PALVERN_XCB_XINPUT_SYMBOLS(PALVERN_LIBRARY_FIND)
    return found;
}

bool fillRes(void* handle, XcbRes& table) {
    bool found = true;
    PALVERN_XCB_RES_SYMBOLS(PALVERN_LIBRARY_FIND)
    return found;
}

}  // namespace

bool loadXcb() {
    static const bool loaded = [] {
        if (!library::load({"libxcb.so.1"}, libxcb, fillXcb)) return false;
        library::load({"libxcb-screensaver.so.0"}, libxcbScreensaver, fillScreensaver);
        library::load({"libxcb-xinput.so.0"}, libxcbXinput, fillXinput);
        library::load({"libxcb-res.so.0"}, libxcbRes, fillRes);
        return true;
    }();
    return loaded;
}

}  // namespace x11
