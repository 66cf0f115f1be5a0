// One connection to the session bus with the collector's script loaded into
// KWin through it. The stages, each a call sent when the last is answered:
//   1. who owns org.kde.KWin (the script's calls must come from there);
//   2. the scripts of collectors no longer running are unloaded, this one's
//      is written for this connection's unique name and loaded;
//   3. it is run (the script object is /<id> in KWin 5.27,
//      /Scripting/Script<id> in Plasma 6);
//   4. its first report, which it sends right after it starts.
// The collector's object takes the script's calls from then on.
#include "platform/linux/kwin/kwin.h"

namespace kwin {
namespace {

constexpr const char* scriptInterface = "org.kde.kwin.Script";

// Messages handled in one pump; the rest waits for the main loop's next turn,
// which then does not sleep.
constexpr int batchLimit = 256;

Link& of(void* data) { return *static_cast<Link*>(data); }

void fail(Link& link) {
    link.stage = Link::Stage::failed;
    link.call.reset();
}

bool isError(sd_bus_message* reply) { return sd_bus_message_is_method_error(reply, nullptr) != 0; }

bool fromKWin(const Link& link, sd_bus_message* message) {
    const char* sender = sd_bus_message_get_sender(message);
    return sender && !link.kwin.empty() && link.kwin == sender;
}

void reported(Link& link) {
    link.reported = true;
    if (link.stage == Link::Stage::reporting) link.stage = Link::Stage::ready;
}

int onActive(sd_bus_message* message, void* data, sd_bus_error* error) {
    Link& link = of(data);
    if (!fromKWin(link, message)) return sd_bus_error_set_const(error, SD_BUS_ERROR_ACCESS_DENIED, "");
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
    if (!fromKWin(link, message)) return sd_bus_error_set_const(error, SD_BUS_ERROR_ACCESS_DENIED, "");
    link.active.reset();
    reported(link);
    return sd_bus_reply_method_return(message, "");
}

const sd_bus_vtable objectTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Active", "ssssi", "", onActive, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Inactive", "", "", onInactive, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
    Link& link = of(data);
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0) return 0;
    if (link.stage != Link::Stage::owner && (!after || link.kwin != after)) fail(link);
    return 0;
}

int onRun(sd_bus_message* reply, void* data, sd_bus_error*);

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

int onLoaded(sd_bus_message* reply, void* data, sd_bus_error*) {
    Link& link = of(data);
    link.call.reset();
    if (isError(reply) || sd_bus_message_read(reply, "i", &link.scriptId) < 0 || link.scriptId < 0) {
        removeScript(link.scriptName);  // KWin has answered: nothing of it is loaded
        fail(link);
        return 0;
    }
    link.stage = Link::Stage::running;
    // Appended, not "/" + ...: GCC 12's -Wrestrict misreads that at -O3 (a Release build).
    std::string path = "/";
    path += std::to_string(link.scriptId);
    askRun(link, path);
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

}  // namespace

std::unique_ptr<Link> openLink(std::uint32_t attempt, bool hold) {
    sd_bus* raw = nullptr;
    if (sd_bus_open_user(&raw) < 0) return nullptr;
    auto link = std::make_unique<Link>();
    link->connection.reset(raw);
    link->scriptName = ownScriptName(attempt);
    link->hold = hold;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_object_vtable(raw, &slot, objectPath, objectInterface, objectTable, link.get()) < 0) {
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
    link->call = bus::callAsync(raw, onOwner, link.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "GetNameOwner", {kwinName});
    if (!link->call) return nullptr;
    return link;
}

void proceed(Link& link) {
    if (link.stage != Link::Stage::owned) return;
    sd_bus* connection = link.connection.get();
    const char* unique = nullptr;
    // The bus has greeted the connection by now (its answer came first), so
    // the unique name is there without waiting.
    if (sd_bus_is_ready(connection) <= 0 || sd_bus_get_unique_name(connection, &unique) < 0) {
        fail(link);
        return;
    }
    // KWin takes the calls in order: the unloading is done before the load.
    for (const std::string& stale : staleScripts(link.scriptName)) {
        bus::send(connection, kwinName, scriptingPath, scriptingInterface, "unloadScript", {stale.c_str()});
        removeScript(stale);
    }
    if (!writeScript(link.scriptName, unique)) {
        fail(link);
        return;
    }
    const std::string file = scriptFile(link.scriptName);
    link.stage = Link::Stage::loading;
    link.call = bus::callAsync(connection, onLoaded, &link, kwinName, scriptingPath, scriptingInterface, "loadScript",
                               {file.c_str(), link.scriptName.c_str()});
    if (!link.call) fail(link);
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

}  // namespace kwin
