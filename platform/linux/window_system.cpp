#include "platform/linux/window_system.h"

#include "platform/linux/x11/x11.h"

namespace ws {
namespace {

std::optional<Snapshot> current;
std::optional<std::vector<ClientWindow>> clients;

}  // namespace

const WindowSystem& windowSystem() {
    static const WindowSystem& chosen = (x11::connect(), x11::windowSystem);
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
