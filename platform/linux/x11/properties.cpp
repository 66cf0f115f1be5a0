// Window properties, read up to a bound.
#include <cstring>

#include "platform/linux/x11/x11.h"

namespace x11 {

xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t longs) {
    return xcb_get_property(display.conn, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
}

// The property, or none when it is not set. `gone` is set when the window
// does not exist (any more).
std::optional<Property> readProperty(xcb_get_property_cookie_t cookie, bool* gone) {
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

void readSupported(xcb_get_property_cookie_t cookie) {
    display.reportsActive = false;
    for (auto atom : cardinals(readProperty(cookie))) {
        if (atom == display.atoms.activeWindow) display.reportsActive = true;
    }
}

}  // namespace x11
