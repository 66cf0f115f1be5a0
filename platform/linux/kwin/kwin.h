// The KWin window system (KDE Plasma on Wayland): what the files of kwin/
// share. KWin keeps its window list from ordinary clients; its scripting
// interface on the session bus runs a small script of the collector's own
// inside KWin, which calls the collector's object on the bus with the active
// window at every activation and title change. The idle time comes from
// KWin's Wayland connection (wayland/idle.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/bus.h"
#include "platform/linux/window_system.h"

namespace kwin {

// The collector's object that the script calls.
constexpr const char* objectPath = "/dev/palvern/Collector/KWin";
constexpr const char* objectInterface = "dev.palvern.Collector.KWin";

// KWin on the session bus, and its scripting interface.
constexpr const char* kwinName = "org.kde.KWin";
constexpr const char* scriptingPath = "/Scripting";
constexpr const char* scriptingInterface = "org.kde.kwin.Scripting";

// The active window as the script last reported it.
struct Window {
    std::string caption;
    std::string resourceClass;
    std::string desktopFileName;
    std::string internalId;  // KWin's id of the window
    std::int32_t pid = 0;
};

// One connection to the session bus with the script loaded through it.
// Opening it is a chain of calls, each sent when the last is answered, so
// that a KWin that stops answering holds nothing up; what arrives is handled
// as the connection is processed.
struct Link {
    enum class Stage {
        owner,      // asking who owns KWin's name
        owned,      // KWin is there; held here until told to go on
        listing,    // asking which script numbers are taken
        loading,    // the script is being loaded
        running,    // asked to run it
        reporting,  // waiting for its first report
        ready,
        failed,
    };
    bus::Bus connection;
    Stage stage = Stage::owner;
    std::string kwin;        // the unique name of KWin's connection
    std::string scriptName;  // as loaded into KWin; its file is scriptName + ".js"
    std::int32_t scriptId = -1;
    // KWin numbers a script by counting the scripts it holds, so a number can
    // be one a script loaded earlier still answers at (after one below it was
    // unloaded): a script given such a number cannot be reached, and another
    // copy is loaded, which KWin gives the next number.
    std::vector<std::int32_t> taken;       // numbers answering before the load
    std::vector<std::string> unreachable;  // copies given a taken number
    int listings = 0;                      // object listings not answered yet
    bool loadSent = false;                 // a load was asked for
    bool hold = false;  // stop at `owned`
    bool triedPlasma6Path = false;
    bus::Slot call;     // the call of the stage under way
    bus::Slot listing[2];
    bus::Slot object;   // the object the script calls
    bus::Slot ownerWatch;
    std::optional<Window> active;
    bool reported = false;  // the script has reported at least once
    bool more = false;      // the last pump stopped with messages still read and unhandled
};

// script.cpp: the script's text and its file, loading and unloading.
// Whether scripts can be handed to KWin at all: randomness for the names and
// the token, and a runtime folder no one else can write.
bool scriptsCanRun();
// The token every call of this run's scripts carries.
const std::string& runToken();
std::string scriptText(const std::string& destination, const std::string& token);
// The file of a script name; empty without a runtime directory.
std::string scriptFile(const std::string& scriptName);
// Creates the script's file anew, for this run's token; false when it cannot
// (the folder is not safe, the name is there already).
bool writeScript(const std::string& scriptName, const std::string& destination);
void removeScript(const std::string& scriptName);
// The names of scripts left behind by collectors no longer running, and by
// this one's earlier attempts (all but `current`).
std::vector<std::string> staleScripts(const std::string& current);
// This process's script name for attempt `attempt`.
std::string ownScriptName(std::uint32_t attempt);

// link.cpp: the connection's stages and the object the script calls.
// `hold`: the link stops once KWin is known to be there, until proceed().
std::unique_ptr<Link> openLink(std::uint32_t attempt, bool hold);
void proceed(Link& link);
bool ended(const Link& link);
// Processes what has arrived, without waiting; marks the link failed once its
// connection has.
void pump(Link& link);
// Asks KWin to unload every script the link loaded (without waiting for the
// answers) and removes their files; for a link given up.
void abandon(Link& link);
// The numbers of the script objects named in an introspection of KWin's
// root ("0", "1": KWin 5.27) or of its scripting object ("Script0": Plasma 6).
std::vector<std::int32_t> scriptNumbers(std::string_view introspection);

// connection.cpp
bool connect();
Link* link();  // the ready link, or null
void descriptors(std::vector<pollfd>& fds, int& timeoutMs);
void dispatch(bool readable);
void reconnectIfLost();
bool takeActiveWindowChange();
ws::Snapshot readSnapshot();
std::vector<ws::ClientWindow> clientWindows();
std::optional<std::string> windowTitle(std::uint64_t window);

// window_system.cpp
extern const ws::WindowSystem windowSystem;

}  // namespace kwin
