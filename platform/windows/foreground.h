// The foreground window and its process as one callout reads them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace windows_desktop {

struct Foreground {
    HWND window = nullptr;
    DWORD pid = 0;
    std::optional<std::u16string> executablePath;  // none: the process may not be asked
    std::optional<std::u16string> packageModelId;  // the package's AppUserModelID, if packaged
};

// The foreground window of another process than the desktop's own window,
// read at the first use in a callout and kept until its end (callout.h), so
// that every fact of one sample comes from the same window. None when there
// is no such window (the desktop, a lock screen, a switch in flight).
const std::optional<Foreground>& foreground();

// COM on the main thread, for the shell's property stores and UI
// Automation: the multithreaded apartment, so that no call into another
// process dispatches the main thread's messages (and with them another
// callout) while it waits.
void initializeCom();

}  // namespace windows_desktop
