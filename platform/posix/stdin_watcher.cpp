// The standard-input watcher, shared by every POSIX desktop: a thread of its
// own waits for input or its end and calls the installed handler.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#ifdef __APPLE__
#include <sys/select.h>
#endif

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/platform.h"

namespace {

// A host may start the collector with a standard descriptor closed. The
// display connection would then take that number and be mistaken for standard
// input (or output); giving the missing ones /dev/null first makes a closed
// standard input read as end of input, which ends the collector as it should.
const bool standardDescriptorsOpen = [] {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened != -1 && opened != fd) close(opened);
        }
    }
    return true;
}();

std::atomic<platform::ReadabilityHandler> installed{nullptr};
std::atomic<bool> watching{false};

// Waits until `fd` has data or its end to read, or the wait fails. False only
// when a signal cut the wait short.
bool waitReadable(int fd) {
#ifdef __APPLE__
    // poll() on macOS returns at once for a terminal device; select() waits.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    return !(select(fd + 1, &readable, nullptr, nullptr, nullptr) < 0 && errno == EINTR);
#else
    pollfd pfd{fd, POLLIN, 0};
    return !(poll(&pfd, 1, -1) < 0 && errno == EINTR);
#endif
}

void watch(platform::InputHandle input) {
    for (;;) {
        if (!waitReadable(input.fd)) continue;
        platform::ReadabilityHandler handler = installed.load();
        if (!handler) return;
        handler(input);
    }
}

}  // namespace

namespace platform {

InputHandle standardInput() { return {STDIN_FILENO}; }

void setReadabilityHandler(InputHandle input, ReadabilityHandler handler) {
    installed.store(handler);
    if (handler && !watching.exchange(true)) std::thread(watch, input).detach();
}

std::size_t availableData(InputHandle input) {
    static char buffer[64 * 1024];  // only the watcher's thread reads
    for (;;) {
        ssize_t n = read(input.fd, buffer, sizeof buffer);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // The host made the pipe non-blocking: wait for data or its end.
            waitReadable(input.fd);
            continue;
        }
        return 0;  // any other read error ends input: never spin on it
    }
}

}  // namespace platform
