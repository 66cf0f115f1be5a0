// The events the display sends: changes of the active window and of the
// window manager's abilities, and raw input, counted.
#include <xcb/xinput.h>

#include "platform/linux/x11/x11.h"

namespace x11 {
namespace {

bool activeChanged = false;
bool supportedChanged = false;
ws::InputTotals totals;

void handleEvent(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window != display.root) return;
        if (notify->atom == display.atoms.activeWindow) {
            activeChanged = true;
            display.knownActive.reset();
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

}  // namespace

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

void dispatch(bool readable) {
    if (!display.conn) {
        if (readable) adoptFinishedAttempt();
        return;
    }
    xcb_flush(display.conn);
    handleEvents(readable);
    if (supportedChanged && checkConnection()) {
        supportedChanged = false;
        readSupported(askProperty(display.root, display.atoms.supported, listLongs));
    }
    checkConnection();
}

bool takeActiveWindowChange() {
    bool changed = activeChanged;
    activeChanged = false;
    return changed;
}

ws::InputTotals inputTotals() { return totals; }

}  // namespace x11
