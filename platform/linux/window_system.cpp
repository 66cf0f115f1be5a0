#include "platform/linux/window_system.h"

#include "platform/linux/gnome/gnome.h"
#include "platform/linux/kwin/kwin.h"
#include "platform/linux/tab_url.h"
#include "platform/linux/wayland/wayland.h"
#include "platform/linux/x11/x11.h"
#include "platform/posix/standard_input.h"

namespace ws {
namespace {

std::optional<Snapshot> current;
std::optional<std::vector<ClientWindow>> clients;

// A Wayland compositor that offers the foreign-toplevel manager, else KWin's
// scripting interface under a Wayland session of KWin's, else GNOME Shell
// under a Wayland session of its own (its extension, else Mutter's idle
// monitor alone), else the X display. Each connect says yes or no, leaving
// nothing behind on no.
const WindowSystem& choose() {
    if (wayland::connect()) return wayland::windowSystem;
    if (kwin::connect()) return kwin::windowSystem;
    if (gnome::connect()) return gnome::windowSystem;
    x11::connect();
    return x11::windowSystem;
}

}  // namespace

const WindowSystem& windowSystem() {
    static const WindowSystem& chosen = choose();
    return chosen;
}

const Snapshot& snapshot() {
    if (!current) current = windowSystem().readSnapshot();
    return *current;
}

const std::vector<ClientWindow>& clientWindows() {
    if (!clients) clients = windowSystem().clientWindows();
    return *clients;
}

void dropSnapshot() {
    current.reset();
    clients.reset();
}

}  // namespace ws

namespace platform {

// The choice start-up makes, made the same way; a URL needs the session's
// accessibility on besides.
DesktopDescription describeDesktop() {
    posix::leaveInputAlone();
    DesktopDescription description = ws::windowSystem().describe();
    if (description.url == Availability::given) {
        switch (linux_desktop::sessionAccessibility()) {
            case linux_desktop::SessionAccessibility::on: break;
            case linux_desktop::SessionAccessibility::off: description.url = Availability::off; break;
            case linux_desktop::SessionAccessibility::noBus: description.url = Availability::never; break;
        }
    }
    return description;
}

}  // namespace platform
