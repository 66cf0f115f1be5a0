// The frontmost application is the application of the active window; an
// activation is a change of that application.
#include "platform/linux/workspace.h"

#include <fstream>
#include <string>

#include "platform/linux/desktop_entries.h"
#include "platform/linux/window_system.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace linux_desktop {
namespace {

// An application's name and identifier come from its windows and desktop
// entry, which any program can make as long as it likes: they are cut where
// titles are.
constexpr std::size_t longestName = 64 * 1024;

std::optional<std::string> bounded(std::optional<std::string> text) {
    if (text && text->size() > longestName) text = platform::boundedUtf8(*text, longestName);
    return text;
}

// What tells two applications apart: the process when it is known, else the
// window's class, else the window itself.
struct Identity {
    std::int32_t pid = 0;
    std::string windowClass;
    std::uint64_t window = 0;
    bool operator==(const Identity&) const = default;
};

platform::Trigger activationTrigger = nullptr;
std::optional<Identity> lastPosted;

std::optional<Identity> activeIdentity() {
    const auto& active = ws::snapshot().active;
    if (!active) return std::nullopt;
    Identity identity;
    if (active->pid >= 1) {
        identity.pid = active->pid;
    } else if (active->windowClass) {
        identity.windowClass = *active->windowClass;
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

void serviceActivations(bool readable) {
    const ws::WindowSystem& system = ws::windowSystem();
    for (;;) {
        system.dispatch(readable);
        readable = false;  // what came meanwhile was read with the replies
        if (!system.takeActiveWindowChange() || !activationTrigger) return;
        // The whole batch is handled: judge where it ended. No window between
        // two windows, and a switch within one application, post nothing.
        auto identity = activeIdentity();
        if (identity && identity != lastPosted) {
            lastPosted = identity;
            activationTrigger();
        }
        ws::dropSnapshot();
    }
}

}  // namespace linux_desktop

namespace platform {

std::optional<Application> frontmostApplication() {
    const auto& active = ws::snapshot().active;
    if (!active) return std::nullopt;
    Application application;
    application.processIdentifier = active->pid;
    // The application's desktop entry names it when it has one.
    const std::int32_t process = active->pidIsProcess ? active->pid : 0;
    if (auto entry = desktop::matchDesktopEntry(
            {active->desktopFileId, active->instance, active->windowClass, active->applicationId, process})) {
        application.localizedName = linux_desktop::bounded(std::move(entry->name));
        application.bundleIdentifier = linux_desktop::bounded(std::move(entry->id));
        return application;
    }
    application.localizedName = active->windowClass;
    if (!application.localizedName && process >= 1) {
        application.localizedName = linux_desktop::commandName(process);
    }
    application.bundleIdentifier = active->desktopFileId   ? active->desktopFileId
                                   : active->applicationId ? active->applicationId
                                                           : active->windowClass;
    application.localizedName = linux_desktop::bounded(std::move(application.localizedName));
    application.bundleIdentifier = linux_desktop::bounded(std::move(application.bundleIdentifier));
    return application;
}

void observeActivations(Trigger trigger) {
    linux_desktop::activationTrigger = trigger;
    linux_desktop::lastPosted = linux_desktop::activeIdentity();
}

}  // namespace platform
