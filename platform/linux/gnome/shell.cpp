// The extension's side: the focused window from the GetFocus reply at
// connection and from each FocusChanged signal after it. The signal's match
// is in place before GetFocus is sent, and the bus keeps their order, so the
// last message processed is the shell's latest word.
//
// A message of any other form is ignored (a name on the bus can be owned by
// anyone), and so is a signal from any connection but the one that answered
// GetFocus; text comes as the bus delivers it, which is valid UTF-8.
#include <utility>

#include "platform/linux/gnome/gnome.h"

namespace gnome {
namespace {

constexpr const char* focusSignature = "ussssi";

std::optional<Focus> readFocus(sd_bus_message* message) {
    if (sd_bus_message_has_signature(message, focusSignature) <= 0) return std::nullopt;
    Focus focus;
    const char* title = nullptr;
    const char* wmClass = nullptr;
    const char* instance = nullptr;
    const char* appId = nullptr;
    if (sd_bus_message_read(message, focusSignature, &focus.window, &title, &wmClass, &instance, &appId,
                            &focus.pid) < 0) {
        return std::nullopt;
    }
    focus.title = title;
    focus.wmClass = wmClass;
    focus.wmClassInstance = instance;
    focus.appId = appId;
    return focus;
}

int onFocusReply(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto& session = *static_cast<Session*>(data);
    session.focusCall.reset();
    std::optional<Focus> focus;
    if (!sd_bus_message_is_method_error(reply, nullptr)) focus = readFocus(reply);
    session.shell = focus ? Session::Answer::yes : Session::Answer::no;
    if (focus) {
        session.focus = std::move(focus);
        if (const char* sender = sd_bus_message_get_sender(reply)) session.shellOwner = sender;
    }
    return 0;
}

// Signals sent before the reply came are older than it: they are dropped too.
int onFocusChanged(sd_bus_message* signal, void* data, sd_bus_error*) {
    auto& session = *static_cast<Session*>(data);
    if (!bus::sentBy(signal, session.shellOwner)) return 0;
    if (auto focus = readFocus(signal)) session.focus = std::move(focus);
    return 0;
}

// What makes the active window another: the title does not.
struct FocusKey {
    std::uint32_t window = 0;
    std::string wmClass, wmClassInstance, appId;
    std::int32_t pid = 0;
    bool operator==(const FocusKey&) const = default;
};
std::optional<FocusKey> lastKey;
bool changed = false;

const Focus* activeFocus() {
    Session* s = session();
    if (!s || !s->focus || s->focus->window == 0) return nullptr;
    return &*s->focus;
}

std::optional<std::string> unlessEmpty(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace

void watchShell(Session& session) {
    sd_bus_slot* raw = nullptr;
    if (sd_bus_match_signal_async(session.bus.get(), &raw, shellName, shellPath, shellInterface, "FocusChanged",
                                  onFocusChanged, nullptr, &session) >= 0) {
        session.focusSignal.reset(raw);
    }
    if (!send(session, session.focusCall, shellName, shellPath, shellInterface, "GetFocus", onFocusReply)) {
        session.shell = Session::Answer::no;
    }
}

void noteFocus() {
    std::optional<FocusKey> key;
    if (const Focus* focus = activeFocus()) {
        key = FocusKey{focus->window, focus->wmClass, focus->wmClassInstance, focus->appId, focus->pid};
    }
    if (key != lastKey) changed = true;
    lastKey = std::move(key);
}

bool takeActiveWindowChange() {
    return std::exchange(changed, false);
}

ws::Snapshot readSnapshot() {
    ws::Snapshot snapshot;
    snapshot.idleSeconds = idleSeconds();
    if (const Focus* focus = activeFocus()) {
        ws::ActiveWindow active;
        active.id = focus->window;
        active.pid = focus->pid > 0 ? focus->pid : 0;
        active.instance = unlessEmpty(focus->wmClassInstance);
        active.windowClass = unlessEmpty(focus->wmClass);
        active.desktopFileId = unlessEmpty(focus->appId);
        active.title = focus->title;
        snapshot.active = std::move(active);
    }
    return snapshot;
}

// The extension tells of the focused window alone.
std::vector<ws::ClientWindow> clientWindows() {
    const Focus* focus = activeFocus();
    if (!focus) return {};
    return {{focus->window, focus->pid > 0 ? focus->pid : 0}};
}

std::optional<std::string> windowTitle(std::uint64_t window) {
    const Focus* focus = activeFocus();
    if (!focus || focus->window != window) return std::nullopt;
    return focus->title;
}

}  // namespace gnome
