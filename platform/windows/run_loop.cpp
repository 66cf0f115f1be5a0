// The main loop: waits on the timers and the thread's message queue together,
// and serves the triggers on this thread, one callout at a time. Messages
// bring the foreground events and the Raw Input reports; nothing else wakes
// the loop.
#include <windows.h>

#include <cmath>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/callout.h"
#include "platform/windows/handles.h"
#include "platform/windows/workspace.h"

namespace platform {
namespace {

using windows_desktop::KernelHandle;

struct Timer {
    KernelHandle handle;
    Trigger trigger;
};
std::vector<Timer> timers;

void dispatchMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

void scheduleRepeatingTimer(double interval, Trigger trigger) {
    // A synchronization timer: each firing satisfies one wait.
    KernelHandle timer(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    if (!timer || timers.size() >= MAXIMUM_WAIT_OBJECTS - 1) return;
    const double milliseconds = std::round((interval > 0 ? interval : 0) * 1000.0);
    const LONG period = milliseconds < 1 ? 1 : milliseconds > 0x7FFF'FFFF ? 0x7FFF'FFFF : static_cast<LONG>(milliseconds);
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(period) * 10'000;  // relative, in 100 ns: one period from now
    if (!SetWaitableTimer(timer.get(), &due, period, nullptr, nullptr, FALSE)) return;
    timers.push_back({std::move(timer), trigger});
}

void runMainLoop() {
    windows_desktop::endCallout();  // the start sample's
    std::vector<HANDLE> handles;
    for (const Timer& timer : timers) handles.push_back(timer.handle.get());
    const auto count = static_cast<DWORD>(handles.size());
    for (;;) {
        dispatchMessages();
        windows_desktop::serviceActivations();
        const DWORD woken =
            MsgWaitForMultipleObjectsEx(count, handles.data(), INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken >= WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + count) {
            timers[woken - WAIT_OBJECT_0].trigger();
            windows_desktop::endCallout();
        }
    }
}

}  // namespace platform
