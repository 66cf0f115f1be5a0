// D-Bus plumbing shared by the Linux desktop's users of sd-bus: owning
// handles, a deadline for a group of calls, and calls that never wait past it.
// Nothing here blocks for longer than the deadline the caller gives.
#pragma once

#include <poll.h>

#include "platform/linux/bus_library.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

namespace bus {

struct BusClose {
    void operator()(sd_bus* connection) const { sd_bus_close_unref(connection); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// A point in time that a group of calls must not wait past.
class Deadline {
public:
    explicit Deadline(std::chrono::microseconds budget) : at_(std::chrono::steady_clock::now() + budget) {}
    // Microseconds left; 0 once the time is up.
    std::uint64_t left() const;

private:
    std::chrono::steady_clock::time_point at_;
};

// A method call with string arguments, not yet sent, that is not to start
// its destination; empty when it could not be made.
Message methodCall(sd_bus* connection, const char* destination, const char* path, const char* interface,
                   const char* member, std::initializer_list<const char*> args = {});

// A method call with string arguments, sent without auto-start (a service
// that is not running is an error answer, nothing is started on the
// collector's behalf); the reply, or empty on any failure: an error reply, no
// reply before the deadline, a broken connection.
Message call(sd_bus* connection, const Deadline& deadline, const char* destination, const char* path,
             const char* interface, const char* member, std::initializer_list<const char*> args = {});

// Processes what has arrived (signals, late replies) without waiting; false
// when the connection has failed.
bool drain(sd_bus* connection);

// Drives a new connection through authentication and the bus's greeting, for
// no longer than the deadline allows (sd-bus would otherwise wait for as long
// as its own authentication timeout on the first call).
bool waitReady(sd_bus* connection, const Deadline& deadline);

// A new connection to the user's session bus, not yet greeted, as
// sd_bus_open_user makes it; false when there is none. The session has a bus
// when DBUS_SESSION_BUS_ADDRESS names one or $XDG_RUNTIME_DIR/bus is there;
// libsystemd is opened only then, so a session without a bus never maps it.
bool openUserBus(sd_bus** connection);

// The user's session bus, connected and greeted before the deadline; empty
// when there is none or it does not answer in time.
Bus openSession(const Deadline& deadline);

// Microseconds until the connection's own next timeout (a reply's, or 0 when
// it holds messages read and not yet handled); UINT64_MAX when none is due.
std::uint64_t untilTimeout(sd_bus* connection);

// Appends the connection's descriptor with the events sd-bus waits for, and
// cuts the poll's timeout (milliseconds, -1 for none) short by the
// connection's next timeout; false when the connection has no descriptor.
bool addToPoll(sd_bus* connection, std::vector<pollfd>& fds, int& timeoutMs);

// Waits once for what the connection waits for (its events and timeout),
// never past the deadline. `watchInput`: standard input's end cuts the wait
// short (start-up, before the collector's own watcher runs). False on the
// deadline, the end of input or a failed connection.
bool waitOnce(sd_bus* connection, const Deadline& deadline, bool watchInput);

// `call` and `openSession`, waiting with waitOnce: what arrives meanwhile
// (method calls to the collector's objects, signals) is processed as it comes.
Message call(sd_bus* connection, const Deadline& deadline, bool watchInput, const char* destination,
             const char* path, const char* interface, const char* member,
             std::initializer_list<const char*> args = {});
Bus openSession(const Deadline& deadline, bool watchInput);

// A method call with string arguments, sent without auto-start and not
// waited for: `handler` gets the reply (or the error sd-bus makes when the
// connection fails) while the connection is processed. The call is
// forgotten when the slot goes. Empty when it could not be sent.
Slot callAsync(sd_bus* connection, sd_bus_message_handler_t handler, void* data, const char* destination,
               const char* path, const char* interface, const char* member,
               std::initializer_list<const char*> args = {});

// A method call with string arguments whose answer nobody waits for: sent
// without auto-start and with no reply asked for. False when it could not be
// queued.
bool send(sd_bus* connection, const char* destination, const char* path, const char* interface,
          const char* member, std::initializer_list<const char*> args = {});

// The bus itself, as the sender of its own signals (NameOwnerChanged).
inline constexpr const char* driverName = "org.freedesktop.DBus";

// Whether `message` was sent by the connection `name` (a unique name, or the
// bus driver's). Any connection can send a signal straight to ours, whatever
// match it answers, so every handler of a signal asks this first; an empty
// `name` (an owner not known yet) matches nothing.
bool sentBy(sd_bus_message* message, std::string_view name);

// Method calls made through `call` since start (for measurements).
std::uint64_t callsMade();

}  // namespace bus
