// Standard input as the desktop code sees it before the collector's watcher
// is installed.
#pragma once

namespace posix {

// Waits up to `timeoutMs` for `fd` to become readable; true if it did. Returns
// false at once when standard input ends meanwhile. Bytes that arrive on
// standard input are read and dropped, as the watcher drops them; its end is
// left unread for the watcher to see.
bool waitReadableUnlessInputEnds(int fd, int timeoutMs);

// The same for any of poll's `events` on `fd` (POLLIN, POLLOUT).
bool waitUnlessInputEnds(int fd, short events, int timeoutMs);

// Whether one of the waits above has seen standard input end. From then on
// they return false at once, and no record is written: the host has ended
// the collector, and what start-up decides after (a window system given up
// for it) is not true of the desktop.
bool inputEnded();

// From now on the waits above watch only their own descriptor: standard
// input is neither read nor looked at, and its end changes nothing. For an
// answer that does not depend on the host's input (--describe), which a host
// may ask with its input closed or at its end.
void leaveInputAlone();

}  // namespace posix
