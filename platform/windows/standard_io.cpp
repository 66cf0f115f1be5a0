// Standard input, standard output and the end of the process on Windows.
//
// A thread of the collector's own blocks in ReadFile on standard input and
// calls the installed handler with each read; a read of nothing, a broken
// pipe or any other failure is the end of input, on which the handler ends
// the process from that thread, whatever the main thread is doing (waiting
// for a host that does not read its output, say).
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "platform/windows/handles.h"

namespace {

using windows_desktop::KernelHandle;

// Records go to a handle of the collector's own to standard output, so that
// nothing done to the C runtime's descriptors (below) can close it.
HANDLE duplicateStandardOutput() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE own = nullptr;
    if (!out || out == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return own;
}

HANDLE output = nullptr;

// Standard error goes to NUL for good, for the system and for the C runtime:
// the collector writes nothing there, and neither may a library on its
// behalf. No error dialog waits for a user either.
const bool standardStreamsSet = [] {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    output = duplicateStandardOutput();
    DWORD mode = 0;
    if (output && GetConsoleMode(output, &mode)) SetConsoleOutputCP(CP_UTF8);  // records are UTF-8
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (nul != INVALID_HANDLE_VALUE) SetStdHandle(STD_ERROR_HANDLE, nul);
    const int descriptor = _open("NUL", _O_WRONLY | _O_BINARY);
    if (descriptor >= 0) {
        _dup2(descriptor, 2);
        if (descriptor != 2) _close(descriptor);
    }
    return true;
}();

HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
std::atomic<platform::ReadabilityHandler> installed{nullptr};
std::atomic<bool> watching{false};
std::atomic<bool> ending{false};

// What the last read took: availableData's answer. Only the watcher's
// thread reads and writes it.
DWORD lastRead = 0;
char buffer[64 * 1024];

DWORD WINAPI watch(void*) {
    for (;;) {
        DWORD read = 0;
        // A message-mode pipe hands a long message over in parts.
        const bool ok = input && input != INVALID_HANDLE_VALUE &&
                        (ReadFile(input, buffer, sizeof buffer, &read, nullptr) || GetLastError() == ERROR_MORE_DATA);
        lastRead = ok ? read : 0;
        platform::ReadabilityHandler handler = installed.load();
        if (!handler) return 0;
        handler(platform::InputHandle{0});
        if (lastRead == 0) return 0;  // nothing more will come
    }
}

}  // namespace

namespace platform {

InputHandle standardInput() { return {0}; }

void setReadabilityHandler(InputHandle, ReadabilityHandler handler) {
    installed.store(handler);
    if (handler && !watching.exchange(true)) {
        KernelHandle thread(CreateThread(nullptr, 64 * 1024, watch, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
}

// The bytes are dropped as they are read: this tells how many the read took.
std::size_t availableData(InputHandle) { return lastRead; }

void writeStandardOutput(std::string_view bytes) {
    if (ending.load() || !output) return;  // the host has ended the collector's input
    const char* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        // The host gone (a broken pipe) or output unusable: the line is dropped.
        if (!WriteFile(output, next, chunk, &written, nullptr) || written == 0) return;
        next += written;
        left -= written;
    }
}

// The end of input is seen on the watcher's thread while the main thread may
// be in the middle of a sample: the process ends at once, running no DLL's
// detach code and no static destructor under it. Output is unbuffered, so
// nothing needs flushing.
void exitProcess(int status) {
    ending.store(true);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace platform
