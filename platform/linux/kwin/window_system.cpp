// The KWin window system's operations, as the shared Linux desktop calls
// them: the active window as the script last reported it, the idle time from
// the Wayland connection. Wayland gives an unprivileged client no view of
// other clients' key presses or clicks, so the input totals stay 0.
#include "platform/linux/kwin/kwin.h"
#include "platform/linux/wayland/wayland.h"

namespace kwin {
namespace {

// What tells one active window from another for the desktop: a switch
// between applications is judged on this, never on the title.
struct ActiveKey {
    std::uint64_t window = 0;
    std::int32_t pid = 0;
    std::string resourceClass;
    std::string desktopFileName;
    bool operator==(const ActiveKey&) const = default;
};
std::optional<ActiveKey> lastActive;
bool activeChanged = false;

// KWin's id of the window last active, and the number it was given: the same
// window keeps its number while it stays active.
std::string numberedId;
std::uint64_t windowNumber = 0;

const Window* activeWindow() {
    Link* l = link();
    return l && l->active ? &*l->active : nullptr;
}

std::uint64_t numberOf(const Window& window) {
    if (windowNumber == 0 || window.internalId != numberedId) {
        numberedId = window.internalId;
        ++windowNumber;
    }
    return windowNumber;
}

std::optional<std::string> unlessEmpty(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

// A desktop file name as an ID: some applications give theirs with the
// file's extension.
std::optional<std::string> desktopFileId(std::string name) {
    constexpr std::string_view extension = ".desktop";
    if (name.size() > extension.size() && name.ends_with(extension)) name.resize(name.size() - extension.size());
    return unlessEmpty(name);
}

void serve(bool readable) {
    dispatch(readable);
    std::optional<ActiveKey> active;
    if (const Window* window = activeWindow()) {
        active = ActiveKey{numberOf(*window), window->pid, window->resourceClass, window->desktopFileName};
    }
    if (active != lastActive) activeChanged = true;
    lastActive = std::move(active);
}

void reconnect() {
    reconnectIfLost();
    serve(false);  // a link given up counts from this refresh on
}

// KWin's scripting interface answered and the script was loaded when the
// collector started: that is the trust answer, lost connection or not.
bool reportsActiveWindow() { return true; }

ws::InputTotals inputTotals() { return {}; }

}  // namespace

bool takeActiveWindowChange() {
    const bool changed = activeChanged;
    activeChanged = false;
    return changed;
}

ws::Snapshot readSnapshot() {
    ws::Snapshot snapshot;
    snapshot.idleSeconds = wayland::idleSeconds();
    if (const Window* window = activeWindow()) {
        ws::ActiveWindow active;
        active.id = numberOf(*window);
        active.pid = window->pid;
        active.instance = unlessEmpty(window->resourceName);
        active.windowClass = unlessEmpty(window->resourceClass);
        active.desktopFileId = desktopFileId(window->desktopFileName);
        active.title = window->caption;
        snapshot.active = std::move(active);
    }
    return snapshot;
}

// KWin's script reports the active window only.
std::vector<ws::ClientWindow> clientWindows() {
    std::vector<ws::ClientWindow> clients;
    if (const Window* window = activeWindow()) clients.push_back({numberOf(*window), window->pid});
    return clients;
}

std::optional<std::string> windowTitle(std::uint64_t window) {
    const Window* active = activeWindow();
    if (!active || numberOf(*active) != window) return std::nullopt;
    return active->caption;
}

const ws::WindowSystem windowSystem = {
    .reportsActiveWindow = reportsActiveWindow,
    .descriptors = descriptors,
    .dispatch = serve,
    .takeActiveWindowChange = takeActiveWindowChange,
    .readSnapshot = readSnapshot,
    .clientWindows = clientWindows,
    .windowTitle = windowTitle,
    .inputTotals = inputTotals,
    .reconnectIfLost = reconnect,
};

}  // namespace kwin
