// Input readings: the idle time from the system's last input, and totals of
// the key and button presses that Raw Input reports to a message-only window
// of the collector's own while it runs.
#include <windows.h>

#include <optional>

#include "platform/platform.h"
#include "platform/windows/callout.h"
#include "platform/windows/handles.h"
#include "platform/windows/input.h"

namespace windows_desktop {
namespace {

struct Totals {
    std::uint32_t keys = 0;
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    std::uint32_t other = 0;
};
Totals totals;
KeyPresses keyPresses;
WindowHandle inputWindow;
std::optional<double> idleReading;  // this callout's

// Raw Input's usages of the generic desktop page.
constexpr USHORT genericDesktop = 0x01;
constexpr USHORT mouseUsage = 0x02;
constexpr USHORT keyboardUsage = 0x06;

void count(HRAWINPUT report) {
    RAWINPUT input;
    UINT size = sizeof input;
    // Larger reports (other devices) are not keyboards' or mice's.
    if (GetRawInputData(report, RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) == static_cast<UINT>(-1)) return;
    if (input.header.dwType == RIM_TYPEKEYBOARD) {
        const RAWKEYBOARD& key = input.data.keyboard;
        if (keyPresses.take(key.MakeCode, key.Flags, key.VKey)) ++totals.keys;
    } else if (input.header.dwType == RIM_TYPEMOUSE) {
        const ButtonPresses presses = buttonPresses(input.data.mouse.usButtonFlags);
        totals.left += presses.left;
        totals.right += presses.right;
        totals.other += presses.other;
    }
}

LRESULT CALLBACK inputWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT) count(reinterpret_cast<HRAWINPUT>(lParam));
    return DefWindowProcW(window, message, wParam, lParam);
}

// The window the reports come to, made at the first reading, on the main
// thread, whose loop dispatches them; the totals count from then on. Reports
// come whichever application is in front (RIDEV_INPUTSINK).
void startCounting() {
    if (inputWindow) return;
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = inputWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PalvernCollectorInput";
    RegisterClassExW(&windowClass);
    inputWindow.reset(CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr));
    if (!inputWindow) return;
    RAWINPUTDEVICE devices[2] = {
        {genericDesktop, keyboardUsage, RIDEV_INPUTSINK, inputWindow.get()},
        {genericDesktop, mouseUsage, RIDEV_INPUTSINK, inputWindow.get()},
    };
    RegisterRawInputDevices(devices, 2, sizeof devices[0]);
}

}  // namespace

void dropIdleReading() { idleReading.reset(); }

}  // namespace windows_desktop

namespace platform {

using namespace windows_desktop;

// The probe asks once for each kind of input; Windows keeps one time for
// all of them, read once per callout.
double secondsSinceLastEventType(int, int) {
    if (!idleReading) {
        LASTINPUTINFO last = {};
        last.cbSize = sizeof last;
        idleReading = GetLastInputInfo(&last) ? idleMilliseconds(GetTickCount(), last.dwTime) / 1000.0 : 0.0;
    }
    return *idleReading;
}

std::uint32_t counterForEventType(int, int type) {
    startCounting();
    switch (type) {
        case eventType::keyDown: return totals.keys;
        case eventType::leftMouseDown: return totals.left;
        case eventType::rightMouseDown: return totals.right;
        case eventType::otherMouseDown: return totals.other;
        default: return 0;
    }
}

}  // namespace platform
