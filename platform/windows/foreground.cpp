#include "platform/windows/foreground.h"

#include <objbase.h>

#include "platform/windows/callout.h"
#include "platform/windows/handles.h"
#include "platform/windows/identity.h"

namespace windows_desktop {
namespace {

std::optional<Foreground> current;
bool read = false;

// The longest path Windows has, in UTF-16 units.
constexpr DWORD longestPath = 32768;
// APPLICATION_USER_MODEL_ID_MAX_LENGTH, its terminating NUL included.
constexpr UINT32 longestModelId = 130;

std::optional<std::u16string> executablePath(HANDLE process) {
    static wchar_t buffer[longestPath];  // the main thread's
    DWORD length = longestPath;
    if (!QueryFullProcessImageNameW(process, 0, buffer, &length) || length == 0) return std::nullopt;
    return std::u16string(units(buffer, length));
}

// GetApplicationUserModelId is not in every SDK's import libraries (nor in
// every kernel32): it is looked up once.
using ModelIdFunction = LONG(WINAPI*)(HANDLE, UINT32*, PWSTR);
const ModelIdFunction applicationModelId = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "GetApplicationUserModelId") : nullptr;
    return reinterpret_cast<ModelIdFunction>(reinterpret_cast<void*>(found));
}();

std::optional<std::u16string> packageModelId(HANDLE process) {
    if (!applicationModelId) return std::nullopt;
    wchar_t buffer[longestModelId] = {};
    UINT32 length = longestModelId;
    if (applicationModelId(process, &length, buffer) != ERROR_SUCCESS) return std::nullopt;
    return std::u16string(units(buffer, wcsnlen(buffer, longestModelId)));
}

DWORD processOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

// A Store application's window is a frame that the Application Frame Host
// draws; the application's own process owns a window inside it.
DWORD hostedProcess(HWND frame, DWORD host) {
    struct Search {
        DWORD host;
        DWORD found;
    } search{host, 0};
    EnumChildWindows(
        frame,
        [](HWND child, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            const DWORD pid = processOf(child);
            if (pid == 0 || pid == s.host) return TRUE;
            s.found = pid;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void readProcess(Foreground& facts) {
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, facts.pid));
    if (!process) return;
    facts.executablePath = executablePath(process.get());
    facts.packageModelId = packageModelId(process.get());
}

std::optional<Foreground> readForeground() {
    const HWND window = GetForegroundWindow();
    if (!window || window == GetDesktopWindow() || window == GetShellWindow()) return std::nullopt;
    Foreground facts;
    facts.window = window;
    facts.pid = processOf(window);
    if (facts.pid == 0) return std::nullopt;
    readProcess(facts);
    if (facts.executablePath && equalIgnoringAsciiCase(fileName(*facts.executablePath), u"ApplicationFrameHost.exe")) {
        if (const DWORD hosted = hostedProcess(window, facts.pid)) {
            facts = Foreground{window, hosted, std::nullopt, std::nullopt};
            readProcess(facts);
        }
    }
    return facts;
}

}  // namespace

const std::optional<Foreground>& foreground() {
    if (!read) {
        current = readForeground();
        read = true;
    }
    return current;
}

void dropForeground() {
    current.reset();
    read = false;
}

void initializeCom() {
    static const bool initialized = [] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return true;
    }();
    (void)initialized;
}

}  // namespace windows_desktop
