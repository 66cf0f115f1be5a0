#include "platform/linux/bus.h"

namespace bus {
namespace {

std::uint64_t calls = 0;

}  // namespace

std::uint64_t Deadline::left() const {
    auto rest = std::chrono::duration_cast<std::chrono::microseconds>(at_ - std::chrono::steady_clock::now());
    return rest.count() > 0 ? static_cast<std::uint64_t>(rest.count()) : 0;
}

Message call(sd_bus* connection, const Deadline& deadline, const char* destination, const char* path,
             const char* interface, const char* member, std::initializer_list<const char*> args) {
    const std::uint64_t left = deadline.left();
    if (left == 0) return {};  // sd-bus reads a zero timeout as its own default
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(connection, &raw, destination, path, interface, member) < 0) return {};
    Message request(raw);
    if (sd_bus_message_set_auto_start(raw, 0) < 0) return {};
    for (const char* arg : args) {
        if (sd_bus_message_append_basic(raw, 's', arg) < 0) return {};
    }
    sd_bus_message* reply = nullptr;
    ++calls;
    if (sd_bus_call(connection, raw, left, nullptr, &reply) < 0) return {};
    return Message(reply);
}

bool drain(sd_bus* connection) {
    for (int i = 0; i < 1000; ++i) {
        int r = sd_bus_process(connection, nullptr);
        if (r < 0) return false;
        if (r == 0) break;
    }
    return sd_bus_is_open(connection) > 0;
}

bool waitReady(sd_bus* connection, const Deadline& deadline) {
    for (;;) {
        int ready = sd_bus_is_ready(connection);
        if (ready != 0) return ready > 0;
        int r = sd_bus_process(connection, nullptr);
        if (r < 0) return false;
        if (r > 0) continue;
        const std::uint64_t left = deadline.left();
        if (left == 0 || sd_bus_wait(connection, left) < 0) return false;
    }
}

Bus openSession(const Deadline& deadline) {
    sd_bus* raw = nullptr;
    if (sd_bus_open_user(&raw) < 0) return {};
    Bus connection(raw);
    if (!waitReady(raw, deadline)) return {};
    return connection;
}

std::uint64_t callsMade() { return calls; }

}  // namespace bus
