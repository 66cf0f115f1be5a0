#include "platform/posix/exit.h"

#include <unistd.h>

#include <atomic>

#include "platform/platform.h"

namespace {

std::atomic<void (*)()> exitHook{nullptr};
std::atomic<bool> ending{false};

}  // namespace

namespace posix {

void setExitHook(void (*hook)()) { exitHook.store(hook); }

bool exiting() { return ending.load(); }

}  // namespace posix

namespace platform {

// The end of input is seen on the watcher's thread while the main thread may
// be in the middle of a sample: _exit ends the process without running static
// destructors under it. Output is unbuffered, so nothing needs flushing.
void exitProcess(int status) {
    ending.store(true);
    if (auto hook = exitHook.load()) hook();
    _exit(status);
}

}  // namespace platform
