// One connection to the session bus with the collector's script loaded into
// KWin through it. The stages, each a call sent when the last is answered:
//   1. who owns org.kde.KWin (the script's calls must come from there);
//   2. the scripts of collectors no longer running are unloaded, this one's
//      is written for this connection's unique name, and the numbers of the
//      script objects KWin holds are listed;
//   3. the script is loaded; a number that was taken before the load is
//      another script's object, so another copy is loaded (a few times at
//      most) until one gets a number of its own;
//   4. it is run (the script object is /<id> in KWin 5.27,
//      /Scripting/Script<id> in Plasma 6);
//   5. its first report, which it sends right after it starts.
// The collector's object takes the script's calls from then on: only calls
// from KWin's connection that carry this run's token.
#include <algorithm>
#include <charconv>

#include "platform/linux/kwin/kwin.h"

namespace kwin {
namespace {

constexpr const char* scriptInterface = "org.kde.kwin.Script";

// Messages handled in one pump; the rest waits for the main loop's next turn,
// which then does not sleep.
constexpr int batchLimit = 256;

// Copies of the script loaded before giving up on finding a free number.
constexpr std::size_t mostCopies = 8;

// Longer introspections are not read (KWin's are a few kilobytes).
constexpr std::size_t longestIntrospection = 1 << 20;

Link& of(void* data) { return *static_cast<Link*>(data); }

void fail(Link& link) {
    link.stage = Link::Stage::failed;
    link.call.reset();
    link.listing[0].reset();
    link.listing[1].reset();
}

bool isError(sd_bus_message* reply) { return sd_bus_message_is_method_error(reply, nullptr) != 0; }

// A call to the collector's object from this run's script: from KWin's
// connection, with the token first. Reads the token; false for any other.
bool fromOwnScript(const Link& link, sd_bus_message* message) {
    const char* token = nullptr;
    return bus::sentBy(message, link.kwin) && sd_bus_message_read_basic(message, 's', &token) > 0 && token &&
           !runToken().empty() && runToken() == token;
}

int refuse(sd_bus_error* error) { return sd_bus_error_set_const(error, SD_BUS_ERROR_ACCESS_DENIED, ""); }

void reported(Link& link) {
    link.reported = true;
    if (link.stage == Link::Stage::reporting) link.stage = Link::Stage::ready;
}

int onActive(sd_bus_message* message, void* data, sd_bus_error* error) {
    Link& link = of(data);
    if (!fromOwnScript(link, message)) return refuse(error);
    const char* fields[4] = {};
    std::int32_t pid = 0;
    const int r = sd_bus_message_read(message, "ssssi", &fields[0], &fields[1], &fields[2], &fields[3], &pid);
    if (r < 0) return r;
    link.active = Window{fields[0], fields[1], fields[2], fields[3], pid};
    reported(link);
    return sd_bus_reply_method_return(message, "");
}

// No window is active (KWin says so between two windows as well).
int onInactive(sd_bus_message* message, void* data, sd_bus_error* error) {
    Link& link = of(data);
    if (!fromOwnScript(link, message)) return refuse(error);
    link.active.reset();
    reported(link);
    return sd_bus_reply_method_return(message, "");
}

// Made at its first use: its first entry points into libsystemd, which is
// loaded at run time.
const sd_bus_vtable* objectTable() {
    static const sd_bus_vtable table[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Active", "sssssi", "", onActive, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Inactive", "s", "", onInactive, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    return table;
}

int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
    Link& link = of(data);
    if (!bus::sentBy(message, bus::driverName)) return 0;
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0) return 0;
    if (link.stage != Link::Stage::owner && (!after || link.kwin != after)) fail(link);
    return 0;
}

int onRun(sd_bus_message* reply, void* data, sd_bus_error*);
void load(Link& link);

void askRun(Link& link, const std::string& path) {
    link.call = bus::callAsync(link.connection.get(), onRun, &link, kwinName, path.c_str(), scriptInterface, "run");
    if (!link.call) fail(link);
}

int onRun(sd_bus_message* reply, void* data, sd_bus_error*) {
    Link& link = of(data);
    link.call.reset();
    if (isError(reply)) {
        if (link.triedPlasma6Path) {
            fail(link);
        } else {
            link.triedPlasma6Path = true;
            askRun(link, "/Scripting/Script" + std::to_string(link.scriptId));
        }
        return 0;
    }
    link.stage = link.reported ? Link::Stage::ready : Link::Stage::reporting;
    return 0;
}

// The copies that got a taken number are of no use: KWin drops them.
void unloadUnreachable(Link& link) {
    for (const std::string& name : link.unreachable) {
        bus::send(link.connection.get(), kwinName, scriptingPath, scriptingInterface, "unloadScript", {name.c_str()});
        removeScript(name);
    }
    link.unreachable.clear();
}

int onLoaded(sd_bus_message* reply, void* data, sd_bus_error*) {
    Link& link = of(data);
    link.call.reset();
    if (isError(reply) || sd_bus_message_read(reply, "i", &link.scriptId) < 0 || link.scriptId < 0) {
        removeScript(link.scriptName);  // KWin has answered: nothing of it is loaded
        fail(link);
        return 0;
    }
    if (std::find(link.taken.begin(), link.taken.end(), link.scriptId) != link.taken.end()) {
        link.unreachable.push_back(link.scriptName);
        if (link.unreachable.size() >= mostCopies) {
            fail(link);
            return 0;
        }
        link.scriptName = link.unreachable.front() + "-" + std::to_string(link.unreachable.size());
        load(link);
        return 0;
    }
    unloadUnreachable(link);
    link.stage = Link::Stage::running;
    std::string path = "/";
    path += std::to_string(link.scriptId);
    askRun(link, path);
    return 0;
}

// Writes the script's file and asks KWin to load it.
void load(Link& link) {
    sd_bus* connection = link.connection.get();
    const char* unique = nullptr;
    // The bus has greeted the connection by now (its answer came first), so
    // the unique name is there without waiting.
    if (sd_bus_get_unique_name(connection, &unique) < 0 || !writeScript(link.scriptName, unique)) {
        fail(link);
        return;
    }
    const std::string file = scriptFile(link.scriptName);
    link.stage = Link::Stage::loading;
    link.loadSent = true;
    link.call = bus::callAsync(connection, onLoaded, &link, kwinName, scriptingPath, scriptingInterface, "loadScript",
                               {file.c_str(), link.scriptName.c_str()});
    if (!link.call) fail(link);
}

int onListed(sd_bus_message* reply, void* data, sd_bus_error*) {
    Link& link = of(data);
    if (link.stage != Link::Stage::listing) return 0;
    const char* xml = nullptr;
    // An object KWin does not have (no /Scripting children in KWin 5.27) is
    // an error answer: nothing taken there.
    if (!isError(reply) && sd_bus_message_read_basic(reply, 's', &xml) > 0 && xml) {
        const std::string_view text = xml;
        if (text.size() <= longestIntrospection) {
            for (std::int32_t number : scriptNumbers(text)) link.taken.push_back(number);
        }
    }
    if (--link.listings == 0) {
        link.listing[0].reset();
        link.listing[1].reset();
        load(link);
    }
    return 0;
}

int onOwner(sd_bus_message* reply, void* data, sd_bus_error*) {
    Link& link = of(data);
    link.call.reset();
    const char* owner = nullptr;
    if (isError(reply) || sd_bus_message_read(reply, "s", &owner) < 0 || !owner || !*owner) {
        fail(link);
        return 0;
    }
    link.kwin = owner;
    link.stage = Link::Stage::owned;
    if (!link.hold) proceed(link);
    return 0;
}

// The number of a child node's name, `prefix` and digits; -1 for any other.
std::int32_t numberAfter(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return -1;
    name.remove_prefix(prefix.size());
    std::int32_t number = -1;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    return error == std::errc() && end == name.data() + name.size() ? number : -1;
}

}  // namespace

std::vector<std::int32_t> scriptNumbers(std::string_view introspection) {
    std::vector<std::int32_t> numbers;
    constexpr std::string_view node = "<node name=\"";
    for (std::size_t at = introspection.find(node); at != std::string_view::npos;
         at = introspection.find(node, at)) {
        at += node.size();
        const std::size_t end = introspection.find('"', at);
        if (end == std::string_view::npos) break;
        const std::string_view name = introspection.substr(at, end - at);
        for (std::string_view form : {"", "Script"}) {
            if (std::int32_t number = numberAfter(name, form); number >= 0) numbers.push_back(number);
        }
    }
    return numbers;
}

std::unique_ptr<Link> openLink(std::uint32_t attempt, bool hold) {
    sd_bus* raw = nullptr;
    if (!bus::openUserBus(&raw)) return nullptr;
    auto link = std::make_unique<Link>();
    link->connection.reset(raw);
    link->scriptName = ownScriptName(attempt);
    link->hold = hold;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(raw, &slot, objectPath, objectInterface, objectTable(), link.get()) < 0) {
        return nullptr;
    }
    link->object.reset(slot);
    if (sd_bus_add_match_async(raw, &slot,
                               "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                               "member='NameOwnerChanged',arg0='org.kde.KWin'",
                               onOwnerChanged, nullptr, link.get()) < 0) {
        return nullptr;
    }
    link->ownerWatch.reset(slot);
    link->call = bus::callAsync(raw, onOwner, link.get(), bus::driverName, "/org/freedesktop/DBus", bus::driverName,
                                "GetNameOwner", {kwinName});
    if (!link->call) return nullptr;
    return link;
}

void proceed(Link& link) {
    if (link.stage != Link::Stage::owned) return;
    sd_bus* connection = link.connection.get();
    if (sd_bus_is_ready(connection) <= 0) {
        fail(link);
        return;
    }
    // KWin takes the calls in order: the unloading is done before the listing.
    for (const std::string& stale : staleScripts(link.scriptName)) {
        bus::send(connection, kwinName, scriptingPath, scriptingInterface, "unloadScript", {stale.c_str()});
        removeScript(stale);
    }
    link.stage = Link::Stage::listing;
    link.listings = 2;
    const char* places[2] = {"/", scriptingPath};
    for (int i = 0; i < 2; ++i) {
        link.listing[i] = bus::callAsync(connection, onListed, &link, kwinName, places[i],
                                         "org.freedesktop.DBus.Introspectable", "Introspect");
        if (!link.listing[i]) {
            fail(link);
            return;
        }
    }
}

bool ended(const Link& link) { return link.stage == Link::Stage::ready || link.stage == Link::Stage::failed; }

void pump(Link& link) {
    sd_bus* connection = link.connection.get();
    link.more = true;
    for (int i = 0; i < batchLimit && link.stage != Link::Stage::failed; ++i) {
        const int r = sd_bus_process(connection, nullptr);
        if (r < 0) {
            fail(link);
            break;
        }
        if (r == 0) {
            link.more = false;
            break;
        }
    }
    if (sd_bus_is_open(connection) <= 0) fail(link);
}

void abandon(Link& link) {
    sd_bus* connection = link.connection.get();
    // A connection that is not open cannot ask: the next collector unloads
    // what is left.
    if (link.loadSent && sd_bus_is_open(connection) > 0) {
        link.unreachable.push_back(link.scriptName);
        for (const std::string& name : link.unreachable) {
            bus::send(connection, kwinName, scriptingPath, scriptingInterface, "unloadScript", {name.c_str()});
            removeScript(name);
        }
        link.unreachable.clear();
        sd_bus_flush(connection);  // a few small messages on a local socket
    }
    fail(link);
}

}  // namespace kwin
