#include "platform/linux/bus.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/posix/standard_input.h"

namespace bus {
namespace {

std::atomic<std::uint64_t> calls = 0;  // also counted on the thread that ends the process

struct Answer {
    bool done = false;
    Message reply;
};

int keepReply(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& answer = *static_cast<Answer*>(data);
    answer.done = true;
    if (!sd_bus_message_is_method_error(reply, nullptr)) answer.reply.reset(sd_bus_message_ref(reply));
    return 0;
}

}  // namespace

Message methodCall(sd_bus* connection, const char* destination, const char* path, const char* interface,
                   const char* member, std::initializer_list<const char*> args) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(connection, &raw, destination, path, interface, member) < 0) return {};
    Message request(raw);
    if (sd_bus_message_set_auto_start(raw, 0) < 0) return {};
    for (const char* arg : args) {
        if (sd_bus_message_append_basic(raw, 's', arg) < 0) return {};
    }
    return request;
}

std::uint64_t Deadline::left() const {
    auto rest = std::chrono::duration_cast<std::chrono::microseconds>(at_ - std::chrono::steady_clock::now());
    return rest.count() > 0 ? static_cast<std::uint64_t>(rest.count()) : 0;
}

Message call(sd_bus* connection, const Deadline& deadline, const char* destination, const char* path,
             const char* interface, const char* member, std::initializer_list<const char*> args) {
    const std::uint64_t left = deadline.left();
    if (left == 0) return {};  // sd-bus reads a zero timeout as its own default
    Message request = methodCall(connection, destination, path, interface, member, args);
    if (!request) return {};
    sd_bus_message* reply = nullptr;
    ++calls;
    if (sd_bus_call(connection, request.get(), left, nullptr, &reply) < 0) return {};
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

Bus openSession(const Deadline& deadline) { return openSession(deadline, false); }

std::uint64_t untilTimeout(sd_bus* connection) {
    std::uint64_t due = 0;
    if (sd_bus_get_timeout(connection, &due) <= 0 || due == UINT64_MAX) return UINT64_MAX;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowUs =
        static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    return due > nowUs ? due - nowUs : 0;
}

bool addToPoll(sd_bus* connection, std::vector<pollfd>& fds, int& timeoutMs) {
    const int fd = sd_bus_get_fd(connection);
    const int events = sd_bus_get_events(connection);
    if (fd < 0 || events < 0) return false;
    fds.push_back({fd, static_cast<short>(events), 0});
    const std::uint64_t waitUs = untilTimeout(connection);
    if (waitUs == UINT64_MAX) return true;
    const int waitMs = static_cast<int>(std::min<std::uint64_t>((waitUs + 999) / 1000, 60'000));
    if (timeoutMs < 0 || waitMs < timeoutMs) timeoutMs = waitMs;
    return true;
}

bool waitOnce(sd_bus* connection, const Deadline& deadline, bool watchInput) {
    const int fd = sd_bus_get_fd(connection);
    const int events = sd_bus_get_events(connection);
    if (fd < 0 || events < 0) return false;
    std::uint64_t wait = deadline.left();
    if (wait == 0) return false;
    wait = std::min(wait, untilTimeout(connection));
    const int ms = static_cast<int>((wait + 999) / 1000);
    if (watchInput) {
        // A wait cut short by the connection's own timeout is no failure
        // (the end of input, if that was it, is seen at the next wait).
        const bool timeoutFirst = wait < deadline.left();
        return posix::waitUnlessInputEnds(fd, static_cast<short>(events), ms) || timeoutFirst;
    }
    pollfd socket{fd, static_cast<short>(events), 0};
    return !(poll(&socket, 1, ms) < 0 && errno != EINTR);
}

Message call(sd_bus* connection, const Deadline& deadline, bool watchInput, const char* destination,
             const char* path, const char* interface, const char* member, std::initializer_list<const char*> args) {
    Message request = methodCall(connection, destination, path, interface, member, args);
    if (!request) return {};
    Answer answer;
    sd_bus_slot* raw = nullptr;
    ++calls;
    if (sd_bus_call_async(connection, &raw, request.get(), keepReply, &answer, 0) < 0) return {};
    Slot pending(raw);  // the call is forgotten on every way out
    while (!answer.done) {
        const int r = sd_bus_process(connection, nullptr);
        if (r < 0) return {};
        if (r > 0) continue;
        if (!waitOnce(connection, deadline, watchInput)) return {};
    }
    return std::move(answer.reply);
}

bool openUserBus(sd_bus** connection) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    bool there = address && *address;
    if (!there) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat status{};
        there = runtime && runtime[0] == '/' && stat((std::string(runtime) + "/bus").c_str(), &status) == 0 &&
                S_ISSOCK(status.st_mode);
    }
    return there && loadLibrary() && sd_bus_open_user(connection) >= 0;
}

Bus openSession(const Deadline& deadline, bool watchInput) {
    sd_bus* raw = nullptr;
    if (!openUserBus(&raw)) return {};
    Bus connection(raw);
    for (;;) {
        const int ready = sd_bus_is_ready(raw);
        if (ready > 0) return connection;
        if (ready < 0) return {};
        const int r = sd_bus_process(raw, nullptr);
        if (r < 0) return {};
        if (r == 0 && !waitOnce(raw, deadline, watchInput)) return {};
    }
}

Slot callAsync(sd_bus* connection, sd_bus_message_handler_t handler, void* data, const char* destination,
               const char* path, const char* interface, const char* member, std::initializer_list<const char*> args) {
    Message request = methodCall(connection, destination, path, interface, member, args);
    if (!request) return {};
    sd_bus_slot* raw = nullptr;
    ++calls;
    if (sd_bus_call_async(connection, &raw, request.get(), handler, data, 0) < 0) return {};
    return Slot(raw);
}

bool send(sd_bus* connection, const char* destination, const char* path, const char* interface, const char* member,
          std::initializer_list<const char*> args) {
    Message request = methodCall(connection, destination, path, interface, member, args);
    if (!request || sd_bus_message_set_expect_reply(request.get(), 0) < 0) return false;
    ++calls;
    return sd_bus_send(connection, request.get(), nullptr) >= 0;
}

bool sentBy(sd_bus_message* message, std::string_view name) {
    const char* sender = sd_bus_message_get_sender(message);
    return sender && !name.empty() && name == sender;
}

std::uint64_t callsMade() { return calls; }

}  // namespace bus
