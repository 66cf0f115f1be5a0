// The KWin window system's operations, as the shared Linux desktop calls
// them: the active window as the script last reported it, the idle time from
// the Wayland connection. Wayland gives an unprivileged client no view of
// other clients' key presses or clicks, so the input totals stay 0.
#include <map>
#include <tuple>

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

// An XWayland window that names no process (no _NET_WM_PID) gets, for its
// class, a number of its own in the process's place, as on Wayland, so that
// its title can still be read. Numbers are never those of real processes'
// windows: those come with their pid.
std::map<std::string, std::int32_t> classNumbers;

std::pair<std::int32_t, bool> processOf(const Window& window) {
    if (window.pid >= 1) return {window.pid, true};
    auto [entry, added] = classNumbers.try_emplace(window.resourceClass, 0);
    if (added) entry->second = static_cast<std::int32_t>(classNumbers.size());
    return {entry->second, false};
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
        active = ActiveKey{numberOf(*window), processOf(*window).first, window->resourceClass,
                           window->desktopFileName};
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

// The idle time comes from KWin's Wayland connection.
platform::DesktopDescription describe() {
    using platform::Availability;
    return {.windowSystem = "kwin",
            .process = Availability::given,
            .bundleId = Availability::given,
            .idleSeconds = wayland::offersIdle() ? Availability::given : Availability::never,
            .url = Availability::given,
            .windowTitle = Availability::given};
}

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
        std::tie(active.pid, active.pidIsProcess) = processOf(*window);
        // The resource name is KWin's guess from the executable for a
        // Wayland window, no instance of the application's: the class stands
        // in both places, as an app_id does on Wayland.
        active.instance = unlessEmpty(window->resourceClass);
        active.windowClass = active.instance;
        active.desktopFileId = desktopFileId(window->desktopFileName);
        active.title = window->caption;
        snapshot.active = std::move(active);
    }
    return snapshot;
}

// KWin's script reports the active window only.
std::vector<ws::ClientWindow> clientWindows() {
    std::vector<ws::ClientWindow> clients;
    if (const Window* window = activeWindow()) clients.push_back({numberOf(*window), processOf(*window).first});
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
    .describe = describe,
};

}  // namespace kwin
