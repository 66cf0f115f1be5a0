// The frontmost application is the application of the window in
// _NET_ACTIVE_WINDOW; an activation is a change of that application.
#include "platform/linux/workspace.h"

#include <fstream>
#include <string>

#include "platform/linux/desktop_entries.h"
#include "platform/linux/display.h"
#include "platform/platform.h"

namespace x11 {
namespace {

// What tells two applications apart: the process when it is known, else the
// window's class, else the window itself.
struct Identity {
    std::int32_t pid = 0;
    std::string wmClass;
    std::uint32_t window = 0;
    bool operator==(const Identity&) const = default;
};

platform::Trigger activationTrigger = nullptr;
std::optional<Identity> lastPosted;

std::optional<Identity> activeIdentity() {
    const auto& active = snapshot().active;
    if (!active) return std::nullopt;
    Identity identity;
    if (active->pid >= 1) {
        identity.pid = active->pid;
    } else if (active->wmClass) {
        identity.wmClass = *active->wmClass;
    } else {
        identity.window = active->id;
    }
    return identity;
}

// The process's command name, as the kernel keeps it.
std::optional<std::string> commandName(std::int32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(file, name) || name.empty()) return std::nullopt;
    return name;
}

}  // namespace

void serviceActivations(bool readSocket) {
    for (;;) {
        drainEvents(readSocket);
        readSocket = false;  // what came meanwhile was read with the replies
        if (!takeActiveWindowChange() || !activationTrigger) return;
        // The whole burst is drained: judge where it ended. None between two
        // windows, and a switch within one application, post nothing.
        auto identity = activeIdentity();
        if (identity && identity != lastPosted) {
            lastPosted = identity;
            activationTrigger();
        }
        dropSnapshot();
    }
}

}  // namespace x11

namespace platform {

std::optional<Application> frontmostApplication() {
    const auto& active = x11::snapshot().active;
    if (!active) return std::nullopt;
    Application application;
    application.processIdentifier = active->pid;
    // The application's desktop entry names it when it has one.
    if (auto entry = desktop::matchDesktopEntry(
            {active->wmInstance, active->wmClass, active->applicationId, active->pid})) {
        application.localizedName = std::move(entry->name);
        application.bundleIdentifier = std::move(entry->id);
        return application;
    }
    application.localizedName = active->wmClass;
    if (!application.localizedName && active->pid >= 1) {
        application.localizedName = x11::commandName(active->pid);
    }
    application.bundleIdentifier = active->applicationId ? active->applicationId : active->wmClass;
    return application;
}

void observeActivations(Trigger trigger) {
    x11::activationTrigger = trigger;
    x11::lastPosted = x11::activeIdentity();
}

}  // namespace platform
