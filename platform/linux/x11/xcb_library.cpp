#include "platform/linux/x11/xcb_library.h"

namespace x11 {

Xcb libxcb;
XcbScreensaver libxcbScreensaver;
XcbXinput libxcbXinput;
XcbRes libxcbRes;

bool loadXcb() {
    static const bool loaded = [] {
        if (!library::load({"libxcb.so.1"}, libxcb, PALVERN_LIBRARY_FILL(PALVERN_XCB_SYMBOLS))) return false;
        library::load({"libxcb-screensaver.so.0"}, libxcbScreensaver,
                      PALVERN_LIBRARY_FILL(PALVERN_XCB_SCREENSAVER_SYMBOLS));
        library::load({"libxcb-xinput.so.0"}, libxcbXinput, PALVERN_LIBRARY_FILL(PALVERN_XCB_XINPUT_SYMBOLS));
        library::load({"libxcb-res.so.0"}, libxcbRes, PALVERN_LIBRARY_FILL(PALVERN_XCB_RES_SYMBOLS));
        return true;
    }();
    return loaded;
}

}  // namespace x11
