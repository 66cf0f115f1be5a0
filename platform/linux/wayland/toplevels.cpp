// The toplevel windows the compositor announces, and the active one: the
// toplevel in the activated state once a whole batch of events is applied.
// Between two windows a compositor sends the old one's state, then the new
// one's, then both done events; until the batch ends, neither or both can
// look activated.
//
// The protocol names no process. Each application (each app_id) gets a
// number of its own instead, handed out once and kept for the life of the
// collector; a toplevel without an app_id is an application of its own.
#include <wayland-client.h>

#include <algorithm>
#include <map>

#include "platform/linux/wayland/wayland.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace wayland {
namespace {

std::uint64_t lastToplevelId = 0;
std::uint64_t activations = 0;  // counts every toplevel becoming activated

struct ActiveKey {
    std::uint64_t toplevel = 0;
    std::optional<std::string> appId;
    bool operator==(const ActiveKey&) const = default;
};
std::optional<ActiveKey> lastActive;
bool activeChanged = false;

std::map<std::string, std::int32_t> applicationNumbers;
std::int32_t lastApplicationNumber = 0;

// The key of a toplevel's application: its app_id, or for one without, a
// key no app_id can be (protocol strings hold no NUL).
std::string applicationKey(const Toplevel& toplevel) {
    if (toplevel.now.appId) return *toplevel.now.appId;
    // Appended, not + : GCC 12's -Wrestrict misreads that at -O3 (a Release build).
    std::string key(1, '\0');
    key += std::to_string(toplevel.id);
    return key;
}

std::int32_t applicationNumber(const Toplevel& toplevel) {
    auto [entry, added] = applicationNumbers.try_emplace(applicationKey(toplevel), 0);
    if (added) entry->second = ++lastApplicationNumber;
    return entry->second;
}

void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Toplevel*>(data)->next.title = title;
}

void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    auto& next = static_cast<Toplevel*>(data)->next;
    next.appId = appId;
    if (next.appId->empty()) next.appId.reset();
}

void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}

void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* state) {
    auto& next = static_cast<Toplevel*>(data)->next;
    next.activated = false;
    const auto* values = static_cast<const std::uint32_t*>(state->data);
    for (std::size_t i = 0; i < state->size / sizeof(std::uint32_t); ++i) {
        if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) next.activated = true;
    }
}

void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto& toplevel = *static_cast<Toplevel*>(data);
    if (toplevel.next.activated && !toplevel.now.activated) toplevel.activatedAt = ++activations;
    toplevel.now = toplevel.next;
}

void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) { static_cast<Toplevel*>(data)->closed = true; }

void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

const zwlr_foreign_toplevel_handle_v1_listener toplevelListener = {
    .title = onTitle,
    .app_id = onAppId,
    .output_enter = onOutput,
    .output_leave = onOutput,
    .state = onState,
    .done = onDone,
    .closed = onClosed,
    .parent = onParent,
};

void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    auto& session = *static_cast<Session*>(data);
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->id = ++lastToplevelId;
    toplevel->handle.reset(handle);
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, toplevel.get());
    session.toplevels.push_back(std::move(toplevel));
}

void onFinished(void*, zwlr_foreign_toplevel_manager_v1*) {}

const zwlr_foreign_toplevel_manager_v1_listener managerListener = {
    .toplevel = onToplevel,
    .finished = onFinished,
};

// The activated toplevel that became so last, if any.
const Toplevel* activeToplevel() {
    Session* s = session();
    if (!s) return nullptr;
    const Toplevel* active = nullptr;
    for (const auto& toplevel : s->toplevels) {
        if (toplevel->now.activated && (!active || toplevel->activatedAt > active->activatedAt)) {
            active = toplevel.get();
        }
    }
    return active;
}

const Toplevel* findToplevel(std::uint64_t id) {
    Session* s = session();
    if (!s) return nullptr;
    for (const auto& toplevel : s->toplevels) {
        if (toplevel->id == id) return toplevel.get();
    }
    return nullptr;
}

}  // namespace

void bindToplevels(Session& session) {
    const std::uint32_t version = std::min<std::uint32_t>(session.manager.version, 3);
    auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        session.registry.get(), session.manager.name, &zwlr_foreign_toplevel_manager_v1_interface, version));
    session.toplevelManager.reset(manager);
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &managerListener, &session);
}

void applyBatch() {
    if (Session* s = session()) {
        auto& toplevels = s->toplevels;
        for (const auto& toplevel : toplevels) {
            if (toplevel->closed && !toplevel->now.appId) applicationNumbers.erase(applicationKey(*toplevel));
        }
        // A closed handle is destroyed with the request the protocol asks for.
        for (auto& toplevel : toplevels) {
            if (toplevel->closed) zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle.release());
        }
        std::erase_if(toplevels, [](const auto& toplevel) { return toplevel->closed; });
    }
    std::optional<ActiveKey> active;
    if (const Toplevel* toplevel = activeToplevel()) active = ActiveKey{toplevel->id, toplevel->now.appId};
    if (active != lastActive) activeChanged = true;
    lastActive = active;
}

bool takeActiveWindowChange() {
    bool changed = activeChanged;
    activeChanged = false;
    return changed;
}

ws::Snapshot readSnapshot() {
    ws::Snapshot snapshot;
    snapshot.idleSeconds = idleSeconds();
    if (const Toplevel* toplevel = activeToplevel()) {
        ws::ActiveWindow active;
        active.id = toplevel->id;
        active.pid = applicationNumber(*toplevel);
        active.pidIsProcess = false;
        active.instance = toplevel->now.appId;
        active.windowClass = toplevel->now.appId;
        active.title = toplevel->now.title;
        snapshot.active = std::move(active);
    }
    return snapshot;
}

// Every toplevel, the most recently activated first.
std::vector<ws::ClientWindow> clientWindows() {
    std::vector<const Toplevel*> order;
    if (Session* s = session()) {
        for (const auto& toplevel : s->toplevels) order.push_back(toplevel.get());
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Toplevel* a, const Toplevel* b) { return a->activatedAt > b->activatedAt; });
    std::vector<ws::ClientWindow> clients;
    clients.reserve(order.size());
    for (const Toplevel* toplevel : order) clients.push_back({toplevel->id, applicationNumber(*toplevel)});
    return clients;
}

std::optional<std::string> windowTitle(std::uint64_t window) {
    const Toplevel* toplevel = findToplevel(window);
    if (!toplevel) return std::nullopt;
    return toplevel->now.title;
}

}  // namespace wayland
