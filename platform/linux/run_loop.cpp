// The main loop: poll on the timers, the window system's descriptors and the
// accessibility bus's, and serve the triggers on this thread, one callout at
// a time.
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/linux/tab_url.h"
#include "platform/linux/window_system.h"
#include "platform/linux/workspace.h"
#include "platform/platform.h"

namespace platform {
namespace {

struct Timer {
    int fd;
    Trigger trigger;
};
std::vector<Timer> timers;

}  // namespace

void scheduleRepeatingTimer(double interval, Trigger trigger) {
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) return;
    double whole = 0;
    double fraction = std::modf(interval > 0 ? interval : 0, &whole);
    timespec period{static_cast<time_t>(whole), static_cast<long>(fraction * 1e9)};
    if (period.tv_sec == 0 && period.tv_nsec == 0) period.tv_nsec = 1;
    itimerspec setting{period, period};  // first firing one interval from now
    timerfd_settime(fd, 0, &setting, nullptr);
    timers.push_back({fd, trigger});
}

void runMainLoop() {
    const ws::WindowSystem& system = ws::windowSystem();
    ws::dropSnapshot();  // the start sample's
    // Browsers already running are warmed up before they are first in front.
    linux_desktop::watchAccessibilityBus();
    std::vector<pollfd> systemFds;
    std::vector<pollfd> fds;
    bool systemReadable = false;
    for (;;) {
        // Events the window system has already queued (read along with
        // replies) would wait unseen while poll sleeps.
        linux_desktop::serviceActivations(systemReadable);
        linux_desktop::serviceAccessibilityBus();
        systemFds.clear();
        int timeoutMs = -1;
        system.descriptors(systemFds, timeoutMs);
        fds.clear();
        for (const Timer& timer : timers) fds.push_back({timer.fd, POLLIN, 0});
        fds.insert(fds.end(), systemFds.begin(), systemFds.end());
        linux_desktop::accessibilityBusDescriptors(fds, timeoutMs);
        if (poll(fds.data(), fds.size(), timeoutMs) < 0) continue;
        systemReadable = false;
        for (std::size_t i = timers.size(); i < timers.size() + systemFds.size(); ++i) {
            systemReadable |= fds[i].revents != 0;
        }
        for (std::size_t i = 0; i < timers.size(); ++i) {
            std::uint64_t expirations = 0;
            if (!(fds[i].revents & POLLIN) || read(timers[i].fd, &expirations, sizeof expirations) <= 0) {
                continue;
            }
            system.reconnectIfLost();
            timers[i].trigger();
            ws::dropSnapshot();
        }
    }
}

}  // namespace platform
