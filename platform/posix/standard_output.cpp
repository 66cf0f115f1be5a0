// The line writer's platform side, shared by every POSIX desktop.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/exit.h"
#include "platform/posix/standard_input.h"

namespace {

// Neither a host that closes its end of standard output nor a display server
// that goes away may kill the collector with SIGPIPE: writes report EPIPE
// instead (here the line is dropped; the display is then seen as lost).
const bool brokenPipeIgnored = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();

}  // namespace

namespace platform {

void writeStandardOutput(std::string_view bytes) {
    if (posix::exiting() || posix::inputEnded()) return;  // the host has ended the collector's input
    const char* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, next, left);
        if (n > 0) {
            next += n;
            left -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking pipe is full: wait for room rather than lose the line.
            pollfd pfd{STDOUT_FILENO, POLLOUT, 0};
            poll(&pfd, 1, -1);
        } else {
            return;  // the host has gone (EPIPE) or output is unusable
        }
    }
}

}  // namespace platform
