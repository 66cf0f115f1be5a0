// The standard-input watcher, shared by every POSIX desktop: a thread of its
// own waits for input or its end and calls the installed handler.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#ifdef __APPLE__
#include <sys/select.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/standard_input.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PALVERN_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PALVERN_SANITIZED 1
#endif
#ifdef PALVERN_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// A host may start the collector with a standard descriptor closed. The
// display connection would then take that number and be mistaken for standard
// input (or output); giving the missing ones /dev/null first makes a closed
// standard input read as end of input, which ends the collector as it should.
//
// Standard error then goes to /dev/null for good: the collector writes
// nothing there, and neither may a library on its behalf (libxcb writes a
// server's refusal to descriptor 2 itself). A sanitized build keeps the
// host's standard error on a descriptor of its own for the sanitizer reports.
const bool standardDescriptorsOpen = [] {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened != -1 && opened != fd) close(opened);
        }
    }
#ifdef PALVERN_SANITIZED
    int reports = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (reports != -1) __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(reports)));
#endif
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null != -1) {
        dup2(null, STDERR_FILENO);
        if (null != STDERR_FILENO) close(null);
    }
    return true;
}();

std::atomic<platform::ReadabilityHandler> installed{nullptr};
std::atomic<bool> endSeen{false};
std::atomic<bool> watching{false};
std::atomic<bool> inputLeftAlone{false};

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

namespace posix {

bool waitReadableUnlessInputEnds(int fd, int timeoutMs) { return waitUnlessInputEnds(fd, POLLIN, timeoutMs); }

bool inputEnded() { return endSeen.load(); }

void leaveInputAlone() { inputLeftAlone.store(true); }

bool waitUnlessInputEnds(int fd, short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto ended = [] {
        endSeen.store(true);
        return false;
    };
    if (endSeen.load()) return false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) return false;
        pollfd fds[2] = {{fd, events, 0}, {STDIN_FILENO, POLLIN, 0}};
        int ready = poll(fds, inputLeftAlone.load() ? 1 : 2, static_cast<int>(left) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (fds[0].revents) return true;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return ended();
        if (fds[1].revents & POLLIN) {
            // Readable with nothing to read is the end (a terminal's end of
            // input is seen once only, so it is not read here).
            int waiting = 0;
            if (ioctl(STDIN_FILENO, FIONREAD, &waiting) == -1 || waiting <= 0) return ended();
            char dropped[4096];
            if (read(STDIN_FILENO, dropped, sizeof dropped) <= 0) return ended();
        }
    }
}

}  // namespace posix
