// The active tab's URL on Linux, from the accessibility bus.
//
// Browsers that take part in accessibility publish their windows and the
// documents shown in them on the accessibility bus, a D-Bus bus of its own
// whose address the session bus gives. The lookup for one sample:
//   1. the session has accessibility on (org.a11y.Status IsEnabled); the
//      collector only reads this switch, it never sets it, and reads it again
//      only when its keeper signals a change. The switch and the bus's
//      address are asked of the connection that owns org.a11y.Bus, by its
//      unique name, and only an address of a local socket is taken: anyone
//      may own that name while the accessibility bus is not running;
//   2. the browser's connection on the accessibility bus, by the process that
//      owns the active window (the registry's applications, each asked for its
//      process once; the answers are kept until the name leaves the bus);
//   3. the application's windows: the only one, else the one marked ACTIVE,
//      else the one titled like the active window;
//   4. that window's EMBEDS relation, which names the document shown;
//   5. the document's attributes: DocURL, or else URI.
// Every call waits at most for what is left of the sample's budget, and any
// failure, refusal or reply of an unexpected form gives the empty text.
//
// Chromium builds the document part of its tree only when a client first asks
// any of its objects for relations, and has it some 10 to 50 ms later; until
// then its windows have no EMBEDS relation. So the main loop connects to the
// accessibility bus at start (accessibility on) and follows the registry:
// every application on the bus, and every one that registers later, is looked
// up by process (a question to the bus itself, nothing to the application),
// and a browser's process gets one relation query, sent without waiting for
// it. That is once per browser process: a window it opens later has its
// document at once.
// A lookup that comes while the browser may still be building (its first
// relation query was less than `buildTime` ago: a sample right at start, or
// just after the warm-up) asks once more when that time is up, within the
// sample's budget.
#include "platform/linux/tab_url.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/bus.h"
#include "platform/linux/window_system.h"
#include "platform/platform.h"

namespace linux_desktop {
namespace {

// Desktop file IDs of the browsers, and the names their windows' classes and
// toolkit ids give (the same but for case).
constexpr std::array<std::string_view, 15> browserIds = {
    "firefox",          "firefox-esr",          "org.mozilla.firefox",
    "chromium",         "chromium-browser",     "org.chromium.Chromium",
    "google-chrome",    "google-chrome-beta",   "com.google.Chrome",
    "brave-browser",    "com.brave.Browser",    "microsoft-edge",
    "com.microsoft.Edge", "vivaldi-stable",     "com.vivaldi.Vivaldi",
};

// The names of browsers' processes (`comm`, cut at 15 bytes by the kernel),
// whose applications on the bus are warmed up.
constexpr std::array<std::string_view, 9> browserProcesses = {
    "firefox", "firefox-esr", "firefox-bin", "chromium", "chromium-browse", "chrome", "brave", "msedge", "vivaldi-bin",
};

// What one sample may spend on the bus in all.
constexpr std::chrono::microseconds sampleBudget{100'000};

// How long after the first relation query a browser may still be building
// its documents: Chromium has them some 10 to 50 ms later.
constexpr std::chrono::milliseconds buildTime{60};

// Longer texts are not taken as a URL (a data: URL can run to megabytes).
constexpr std::size_t longestUrl = 64 * 1024;

// More entries than this in a list from the bus are not looked at.
constexpr int longestList = 256;

constexpr std::uint32_t stateActive = 1;      // bit in the first word of a state set
constexpr std::uint32_t relationEmbeds = 13;  // the window shows this document

constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* registryName = "org.a11y.atspi.Registry";
constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";

using bus::Bus;
using bus::Message;

// An object on the accessibility bus.
struct Reference {
    std::string name;
    std::string path;
};

// The budget of one sample's lookup.
struct Deadline : bus::Deadline {
    Deadline() : bus::Deadline(sampleBudget) {}
};

Bus session;
Bus accessibility;
std::map<std::string, std::int32_t, std::less<>> processOfName;  // unique names asked

// When each application was first asked for relations, by the warm-up or a
// lookup; kept, like the processes, until the name leaves the bus.
std::map<std::string, std::chrono::steady_clock::time_point, std::less<>> firstRelationQuery;

// The unique name that owns org.a11y.Bus, as last asked; empty: to be asked.
std::string keeper;

// The registry's unique name on the accessibility bus; empty: not known yet.
std::string registry;

// The switch or its keeper changed: the main loop tries to connect again.
bool recheck = false;

// Longer addresses are not taken (a real one is well under 200 bytes).
constexpr std::size_t longestAddress = 4096;

bool lowerEqual(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

Message call(sd_bus* connection, const Deadline& deadline, const char* destination, const char* path,
             const char* interface, const char* member, std::initializer_list<const char*> args = {}) {
    return bus::call(connection, deadline, destination, path, interface, member, args);
}

// Accessibility on or off, as last read; none: to be read at the next sample.
std::optional<bool> enabled;

void dropAccessibility() {
    accessibility.reset();
    processOfName.clear();
    firstRelationQuery.clear();
    registry.clear();
}

// The switch's keeper says it changed: it is read again, by the main loop or
// at the next sample, whichever comes first.
int onSwitchChanged(sd_bus_message* message, void*, sd_bus_error*) {
    if (!bus::sentBy(message, keeper)) return 0;
    enabled.reset();
    recheck = true;
    return 0;
}

// org.a11y.Bus changed hands: its new owner (if any) is asked afresh, and the
// bus the old one named is left (the main loop connects to the new one).
int onKeeperChanged(sd_bus_message* message, void*, sd_bus_error*) {
    if (!bus::sentBy(message, bus::driverName)) return 0;
    keeper.clear();
    enabled.reset();
    dropAccessibility();
    recheck = true;
    return 0;
}

Bus openSession(const Deadline& deadline) {
    Bus connection = bus::openSession(deadline);
    if (!connection) return {};
    sd_bus* raw = connection.get();
    // The switch is read again after it changes or its keeper is replaced.
    // The matches are in place before the first read, which the bus answers
    // after them.
    if (sd_bus_match_signal_async(raw, nullptr, "org.a11y.Bus", "/org/a11y/bus",
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged", onSwitchChanged,
                                  nullptr, nullptr) < 0 ||
        sd_bus_add_match_async(raw, nullptr,
                               "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                               "member='NameOwnerChanged',arg0='org.a11y.Bus'",
                               onKeeperChanged, nullptr, nullptr) < 0) {
        return {};
    }
    keeper.clear();
    enabled.reset();
    return connection;
}

int onNameOwnerChanged(sd_bus_message* message, void*, sd_bus_error*) {
    if (!bus::sentBy(message, bus::driverName)) return 0;
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    if (*oldOwner) {
        processOfName.erase(std::string(oldOwner));
        firstRelationQuery.erase(std::string(oldOwner));
    }
    if (*newOwner == '\0') {
        processOfName.erase(std::string(name));
        firstRelationQuery.erase(std::string(name));
    }
    if (std::string_view(name) == registryName) registry = newOwner;
    return 0;
}

// Whether process `pid` is a browser, by its name.
bool isBrowserProcess(std::int32_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    std::array<char, 32> text{};
    const ssize_t length = read(fd, text.data(), text.size());
    close(fd);
    if (length <= 0) return false;
    std::string_view name(text.data(), static_cast<std::size_t>(length));
    if (name.ends_with('\n')) name.remove_suffix(1);
    return std::find(browserProcesses.begin(), browserProcesses.end(), name) != browserProcesses.end();
}

int ignoreReply(sd_bus_message*, void*, sd_bus_error*) { return 0; }

// Sends a call on the accessibility bus whose reply `handler` gets with
// `context`, while the main loop (or a sample) processes the connection;
// nothing waits for it. The call and its context go with the connection.
void callLater(sd_bus_message_handler_t handler, std::unique_ptr<std::string> context, const char* destination,
               const char* path, const char* interface, const char* member,
               std::initializer_list<const char*> args = {}) {
    if (!accessibility) return;
    bus::Slot slot = bus::callAsync(accessibility.get(), handler, context.get(), destination, path, interface, member,
                                    args);
    if (!slot) return;
    if (context) {
        if (sd_bus_slot_set_destroy_callback(slot.get(), [](void* c) { delete static_cast<std::string*>(c); }) < 0) {
            return;
        }
        context.release();
    }
    sd_bus_slot_set_floating(slot.get(), 1);
}

// The process of an application on the bus, answered: kept for the lookup,
// and a browser is asked for its root's relations, which makes a Chromium
// build the documents of all its windows. The answer is not needed.
int onProcessOfApplication(sd_bus_message* reply, void* context, sd_bus_error*) {
    const std::string& name = *static_cast<std::string*>(context);
    std::uint32_t process = 0;
    if (!bus::sentBy(reply, bus::driverName) || sd_bus_message_is_method_error(reply, nullptr) ||
        sd_bus_message_read_basic(reply, 'u', &process) <= 0) {
        return 0;
    }
    processOfName[name] = static_cast<std::int32_t>(process);
    if (isBrowserProcess(static_cast<std::int32_t>(process)) && !firstRelationQuery.contains(name)) {
        firstRelationQuery.emplace(name, std::chrono::steady_clock::now());
        callLater(ignoreReply, nullptr, name.c_str(), rootPath, accessibleInterface, "GetRelationSet");
    }
    return 0;
}

// An application seen on the bus for the first time: its process is asked of
// the bus.
void applicationSeen(const std::string& name) {
    if (processOfName.contains(name) || !name.starts_with(':')) return;
    callLater(onProcessOfApplication, std::make_unique<std::string>(name), "org.freedesktop.DBus",
              "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID", {name.c_str()});
}

std::vector<Reference> readReferences(sd_bus_message* message);

// The registry's applications when the connection was made.
int onApplications(sd_bus_message* reply, void*, sd_bus_error*) {
    if (sd_bus_message_is_method_error(reply, nullptr)) return 0;
    if (const char* sender = sd_bus_message_get_sender(reply)) registry = sender;
    for (const Reference& application : readReferences(reply)) applicationSeen(application.name);
    return 0;
}

// An application registered: (s "add", i, i, v (so) the application, ...).
int onApplicationAdded(sd_bus_message* message, void*, sd_bus_error*) {
    const char* change = nullptr;
    std::int32_t index = 0;
    std::int32_t unused = 0;
    const char* name = nullptr;
    const char* path = nullptr;
    if (!bus::sentBy(message, registry) || sd_bus_message_read(message, "sii", &change, &index, &unused) < 0 ||
        std::string_view(change) != "add" || sd_bus_message_enter_container(message, 'v', "(so)") <= 0 ||
        sd_bus_message_read(message, "(so)", &name, &path) < 0) {
        return 0;
    }
    applicationSeen(name);
    return 0;
}

Bus openAccessibility(const std::string& address, const Deadline& deadline) {
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) return {};
    Bus connection(raw);
    if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
        sd_bus_start(raw) < 0 || !bus::waitReady(raw, deadline)) {
        return {};
    }
    // Names that leave the bus leave the cache with them, and applications
    // that register are warmed up when they are browsers; the matches are set
    // up without waiting for their answers, and are in place before the
    // registry is asked for the applications it has.
    if (sd_bus_match_signal_async(raw, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "NameOwnerChanged", onNameOwnerChanged,
                                  nullptr, nullptr) < 0 ||
        sd_bus_add_match_async(raw, nullptr,
                               "type='signal',sender='org.a11y.atspi.Registry',path='/org/a11y/atspi/accessible/root',"
                               "interface='org.a11y.atspi.Event.Object',member='ChildrenChanged',arg0='add'",
                               onApplicationAdded, nullptr, nullptr) < 0) {
        return {};
    }
    return connection;
}

std::optional<std::string> readString(sd_bus_message* message) {
    const char* text = nullptr;
    if (sd_bus_message_read_basic(message, 's', &text) <= 0) return std::nullopt;
    return std::string(text);
}

// A property's value of type `type` ('s' or 'b'), from a Properties.Get reply.
bool enterVariant(sd_bus_message* message, const char* type) {
    return sd_bus_message_enter_container(message, 'v', type) > 0;
}

// A reply from the switch's keeper, asked by its unique name.
Message askKeeper(const Deadline& deadline, const char* interface, const char* member,
                  std::initializer_list<const char*> args = {}) {
    if (keeper.empty()) {
        Message owner = call(session.get(), deadline, bus::driverName, "/org/freedesktop/DBus", bus::driverName,
                             "GetNameOwner", {"org.a11y.Bus"});
        auto name = owner ? readString(owner.get()) : std::nullopt;
        if (!name || !name->starts_with(':')) return {};
        keeper = std::move(*name);
    }
    Message reply = call(session.get(), deadline, keeper.c_str(), "/org/a11y/bus", interface, member, args);
    if (!reply || !bus::sentBy(reply.get(), keeper)) return {};
    return reply;
}

bool accessibilityEnabled(const Deadline& deadline) {
    if (enabled) return *enabled;
    Message reply = askKeeper(deadline, "org.freedesktop.DBus.Properties", "Get", {"org.a11y.Status", "IsEnabled"});
    int value = 0;
    if (!reply) return false;  // asked again next time
    enabled = enterVariant(reply.get(), "b") && sd_bus_message_read_basic(reply.get(), 'b', &value) > 0 && value;
    return *enabled;
}

// The session bus and the accessibility bus, connected now or before; false
// when either cannot be had or accessibility is off.
bool connect(const Deadline& deadline) {
    if (session && !bus::drain(session.get())) session.reset();
    if (!session) session = openSession(deadline);
    if (!session) return false;
    if (!accessibilityEnabled(deadline)) {
        if (sd_bus_is_open(session.get()) <= 0) session.reset();
        return false;
    }
    if (accessibility && !bus::drain(accessibility.get())) dropAccessibility();
    if (accessibility) return true;
    processOfName.clear();
    Message reply = askKeeper(deadline, "org.a11y.Bus", "GetAddress");
    if (!reply) return false;
    auto address = readString(reply.get());
    if (!address || !acceptedBusAddress(*address)) return false;
    accessibility = openAccessibility(*address, deadline);
    if (!accessibility) return false;
    callLater(onApplications, nullptr, registryName, rootPath, accessibleInterface, "GetChildren");
    return true;
}

// The references of an a(so) reply.
std::vector<Reference> readReferences(sd_bus_message* message) {
    std::vector<Reference> references;
    if (!message || sd_bus_message_enter_container(message, 'a', "(so)") <= 0) return {};
    for (int i = 0; i < longestList && sd_bus_message_enter_container(message, 'r', "so") > 0; ++i) {
        const char* name = nullptr;
        const char* path = nullptr;
        if (sd_bus_message_read(message, "so", &name, &path) < 0) return {};
        references.push_back({name, path});
        if (sd_bus_message_exit_container(message) < 0) return {};
    }
    return references;
}

std::vector<Reference> children(const Reference& object, const Deadline& deadline) {
    Message reply = call(accessibility.get(), deadline, object.name.c_str(), object.path.c_str(),
                         accessibleInterface, "GetChildren");
    return readReferences(reply.get());
}

// The connection of process `pid` on the accessibility bus.
std::optional<std::string> nameOfProcess(std::int32_t pid, const Deadline& deadline) {
    for (const auto& [name, process] : processOfName) {
        if (process == pid) return name;
    }
    for (const Reference& application : children({"org.a11y.atspi.Registry", rootPath}, deadline)) {
        if (processOfName.contains(application.name)) continue;
        Message reply = call(accessibility.get(), deadline, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "GetConnectionUnixProcessID", {application.name.c_str()});
        std::uint32_t process = 0;
        if (!reply || sd_bus_message_read_basic(reply.get(), 'u', &process) <= 0) continue;
        processOfName[application.name] = static_cast<std::int32_t>(process);
        if (static_cast<std::int32_t>(process) == pid) return application.name;
    }
    return std::nullopt;
}

bool isActive(const Reference& window, const Deadline& deadline) {
    Message reply = call(accessibility.get(), deadline, window.name.c_str(), window.path.c_str(),
                         accessibleInterface, "GetState");
    std::uint32_t first = 0;
    return reply && sd_bus_message_enter_container(reply.get(), 'a', "u") > 0 &&
           sd_bus_message_read_basic(reply.get(), 'u', &first) > 0 && (first >> stateActive & 1u);
}

std::optional<std::string> accessibleName(const Reference& object, const Deadline& deadline) {
    Message reply = call(accessibility.get(), deadline, object.name.c_str(), object.path.c_str(),
                         "org.freedesktop.DBus.Properties", "Get", {accessibleInterface, "Name"});
    if (!reply || !enterVariant(reply.get(), "s")) return std::nullopt;
    return readString(reply.get());
}

// The application's window to read: when it need not be marked active, its
// only window; else the one marked active; else, when it need not be marked,
// the one with the active window's title. (A browser that has just started
// may mark none.)
std::optional<Reference> chooseWindow(const std::string& application, bool mustBeActive,
                                      const std::optional<std::string>& title, const Deadline& deadline) {
    std::vector<Reference> windows = children({application, rootPath}, deadline);
    std::erase_if(windows, [&](const Reference& w) { return w.name != application; });
    if (!mustBeActive && windows.size() == 1) return windows.front();
    for (const Reference& window : windows) {
        if (isActive(window, deadline)) {
            if (!mustBeActive || !title || accessibleName(window, deadline) == title) return window;
        }
    }
    if (mustBeActive || !title) return std::nullopt;
    for (const Reference& window : windows) {
        if (accessibleName(window, deadline) == title) return window;
    }
    return std::nullopt;
}

// The document a window shows: the first target of its EMBEDS relation.
std::optional<Reference> shownDocument(const Reference& window, const Deadline& deadline) {
    Message reply = call(accessibility.get(), deadline, window.name.c_str(), window.path.c_str(),
                         accessibleInterface, "GetRelationSet");
    sd_bus_message* m = reply.get();
    if (!m || sd_bus_message_enter_container(m, 'a', "(ua(so))") <= 0) return std::nullopt;
    for (int i = 0; i < longestList && sd_bus_message_enter_container(m, 'r', "ua(so)") > 0; ++i) {
        std::uint32_t type = 0;
        if (sd_bus_message_read_basic(m, 'u', &type) <= 0) return std::nullopt;
        if (type == relationEmbeds) {
            std::vector<Reference> targets = readReferences(m);
            if (targets.empty()) return std::nullopt;
            return targets.front();
        }
        if (sd_bus_message_skip(m, "a(so)") < 0 || sd_bus_message_exit_container(m) < 0) return std::nullopt;
    }
    return std::nullopt;
}

// The document a window of `application` shows; asked again once, when the
// time is up, while the browser may still be building its documents.
std::optional<Reference> builtDocument(const std::string& application, const Reference& window,
                                       const Deadline& deadline) {
    const auto now = std::chrono::steady_clock::now();
    const auto built = firstRelationQuery.try_emplace(application, now).first->second + buildTime;
    auto document = shownDocument(window, deadline);
    if (document) return document;
    const auto pause = std::chrono::duration_cast<std::chrono::microseconds>(built - std::chrono::steady_clock::now());
    if (pause.count() <= 0 || static_cast<std::uint64_t>(pause.count()) >= deadline.left()) return document;
    std::this_thread::sleep_for(pause);
    return shownDocument(window, deadline);
}

std::string documentUrl(const Reference& document, const Deadline& deadline) {
    Message reply = call(accessibility.get(), deadline, document.name.c_str(), document.path.c_str(),
                         "org.a11y.atspi.Document", "GetAttributes");
    sd_bus_message* m = reply.get();
    if (!m || sd_bus_message_enter_container(m, 'a', "{ss}") <= 0) return {};
    std::string docUrl;
    std::string uri;
    for (int i = 0; i < longestList && sd_bus_message_enter_container(m, 'e', "ss") > 0; ++i) {
        const char* key = nullptr;
        const char* value = nullptr;
        if (sd_bus_message_read(m, "ss", &key, &value) < 0) return {};
        if (std::string_view(key) == "DocURL") docUrl = value;
        if (std::string_view(key) == "URI") uri = value;
        if (sd_bus_message_exit_container(m) < 0) return {};
    }
    std::string url = docUrl.empty() ? uri : docUrl;
    return url.size() <= longestUrl ? url : std::string();
}

// A value in a D-Bus address, as D-Bus writes them: these bytes as they are,
// any other as %XX.
bool addressValue(std::string_view value) {
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                           c == '_' || c == '/' || c == '.' || c == '\\' || c == '*';
        if (c == '%' && i + 2 < value.size() && hex(value[i + 1]) && hex(value[i + 2])) {
            i += 2;
        } else if (!plain) {
            return false;
        }
    }
    return true;
}

// The applications to look in: the one of process `pid`, or every one.
std::vector<std::string> applicationsOf(std::int32_t pid, const Deadline& deadline) {
    if (pid >= 1) {
        auto name = nameOfProcess(pid, deadline);
        return name ? std::vector<std::string>{*name} : std::vector<std::string>{};
    }
    std::vector<std::string> names;
    for (const Reference& application : children({"org.a11y.atspi.Registry", rootPath}, deadline)) {
        names.push_back(application.name);
    }
    return names;
}

}  // namespace

bool acceptedBusAddress(std::string_view address) {
    constexpr std::string_view transport = "unix:";
    if (address.size() > longestAddress || !address.starts_with(transport)) return false;
    address.remove_prefix(transport.size());
    bool place = false;  // a path or an abstract name, once
    bool guid = false;
    while (!address.empty()) {
        const std::string_view pair = address.substr(0, address.find(','));
        address.remove_prefix(pair.size());
        if (address.starts_with(',')) {
            address.remove_prefix(1);
            if (address.empty()) return false;  // a pair missing after the comma
        }
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || equals + 1 == pair.size()) return false;
        const std::string_view key = pair.substr(0, equals);
        const std::string_view value = pair.substr(equals + 1);
        if (!addressValue(value)) return false;
        if ((key == "path" || key == "abstract") && !place) {
            place = true;
            if (key == "path" && value.front() != '/') return false;
        } else if (key == "guid" && !guid) {
            guid = true;
        } else {
            return false;
        }
    }
    return place;
}

bool isAccessibleBrowser(std::string_view bundleId) {
    return std::any_of(browserIds.begin(), browserIds.end(),
                       [&](std::string_view id) { return lowerEqual(id, bundleId); });
}

std::string accessibleTabUrl(std::int32_t pid, const std::optional<std::string>& windowTitle) {
    const Deadline deadline;
    if (!connect(deadline)) return {};
    for (const std::string& application : applicationsOf(pid, deadline)) {
        // Without the process, only a window marked active (and titled like the
        // active window, where it has a title) is taken as the frontmost one.
        auto window = chooseWindow(application, pid < 1, windowTitle, deadline);
        if (!window) {
            // Asked again next time, in case the name went unnoticed.
            if (pid >= 1) processOfName.erase(application);
            continue;
        }
        auto document = builtDocument(application, *window, deadline);
        return document ? documentUrl(*document, deadline) : std::string();
    }
    if (accessibility && sd_bus_is_open(accessibility.get()) <= 0) dropAccessibility();
    return {};
}

SessionAccessibility sessionAccessibility() {
    const Deadline deadline;
    if (session && !bus::drain(session.get())) session.reset();
    if (!session) session = openSession(deadline);
    if (!session) return SessionAccessibility::noBus;
    return accessibilityEnabled(deadline) ? SessionAccessibility::on : SessionAccessibility::off;
}

void watchAccessibilityBus() {
    const Deadline deadline;
    connect(deadline);
}

void accessibilityBusDescriptors(std::vector<pollfd>& fds, int& timeoutMs) {
    for (sd_bus* connection : {session.get(), accessibility.get()}) {
        if (connection) bus::addToPoll(connection, fds, timeoutMs);
    }
}

void serviceAccessibilityBus() {
    if (session && !bus::drain(session.get())) session.reset();
    if (accessibility && !bus::drain(accessibility.get())) dropAccessibility();
    if (recheck && session) {
        recheck = false;
        const Deadline deadline;
        connect(deadline);
    }
}

std::uint64_t accessibilityBusCalls() { return bus::callsMade(); }

}  // namespace linux_desktop

namespace platform {

std::optional<std::string> frontmostTabUrl(std::string_view bundleId, std::string_view) {
    if (!linux_desktop::isAccessibleBrowser(bundleId)) return std::string();
    const auto& active = ws::snapshot().active;
    if (!active) return std::string();
    // A number that only names the application (Wayland) is no process to look for.
    return linux_desktop::accessibleTabUrl(active->pidIsProcess ? active->pid : 0, active->title);
}

}  // namespace platform
