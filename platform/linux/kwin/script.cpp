// The script the collector runs inside KWin, and its file.
//
// The file lives in $XDG_RUNTIME_DIR for as long as the script is loaded, as
// palvern-collector-<pid>-<attempt>.js (the script's name in KWin without
// ".js"): a collector that ended without unloading its script leaves its file
// behind, and the next collector to start unloads the scripts of such files
// whose process is gone.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>

#include "platform/linux/kwin/kwin.h"

namespace kwin {
namespace {

constexpr std::string_view prefix = "palvern-collector-";
constexpr std::string_view suffix = ".js";

// Reports the active window (and its title changes) to the collector's
// object. KWin 5.27 names the signal and property clientActivated and
// activeClient, Plasma 6 windowActivated and activeWindow. callDBus drops an
// undefined argument, which would change the call's signature: every field is
// made a string or a whole number.
constexpr std::string_view scriptBody = R"js(
function text(value) {
    return value === undefined || value === null ? "" : String(value);
}
function send(window) {
    if (!window) {
        callDBus(destination, path, iface, "Inactive");
        return;
    }
    callDBus(destination, path, iface, "Active", text(window.caption), text(window.resourceClass),
             text(window.desktopFileName), text(window.internalId), Number(window.pid) | 0);
}
let current = null;
function captionChanged() {
    if (current) send(current);
}
function activated(window) {
    if (current) {
        try {
            current.captionChanged.disconnect(captionChanged);
        } catch (e) {
        }
    }
    current = window || null;
    if (current) current.captionChanged.connect(captionChanged);
    send(current);
}
(workspace.windowActivated || workspace.clientActivated).connect(activated);
activated(workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient);
)js";

// A bus name as the script may quote it.
bool plainName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' ||
                        c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

const char* runtimeDir() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    return dir && dir[0] == '/' ? dir : nullptr;
}

struct DirClose {
    void operator()(DIR* dir) const { closedir(dir); }
};

struct File {
    int fd;
    ~File() {
        if (fd >= 0) close(fd);
    }
};

// The process of a script name of this form, or 0.
pid_t processOf(std::string_view name) {
    if (!name.starts_with(prefix)) return 0;
    name.remove_prefix(prefix.size());
    pid_t pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || pid <= 0 || end == name.data() + name.size() || *end != '-') {
        return 0;
    }
    return pid;
}

}  // namespace

std::string scriptText(const std::string& destination) {
    std::string text = "const destination = \"" + destination + "\";\nconst path = \"" + objectPath +
                       "\";\nconst iface = \"" + objectInterface + "\";\n";
    text += scriptBody;
    return text;
}

std::string scriptFile(const std::string& scriptName) {
    const char* dir = runtimeDir();
    if (!dir) return {};
    return std::string(dir) + "/" + scriptName + std::string(suffix);
}

bool writeScript(const std::string& scriptName, const std::string& destination) {
    const std::string path = scriptFile(scriptName);
    if (path.empty() || !plainName(destination)) return false;
    const File file{open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600)};
    if (file.fd < 0) return false;
    const std::string text = scriptText(destination);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(file.fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            unlink(path.c_str());
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

void removeScript(const std::string& scriptName) {
    const std::string path = scriptFile(scriptName);
    if (!path.empty()) unlink(path.c_str());
}

std::vector<std::string> staleScripts(const std::string& current) {
    std::vector<std::string> stale;
    const char* dir = runtimeDir();
    if (!dir) return stale;
    std::unique_ptr<DIR, DirClose> listing(opendir(dir));
    if (!listing) return stale;
    while (const dirent* entry = readdir(listing.get())) {
        std::string_view name = entry->d_name;
        if (!name.ends_with(suffix)) continue;
        name.remove_suffix(suffix.size());
        const pid_t pid = processOf(name);
        if (pid == 0 || name == current) continue;
        if (pid == getpid() || (kill(pid, 0) == -1 && errno == ESRCH)) stale.emplace_back(name);
    }
    return stale;
}

std::string ownScriptName(std::uint32_t attempt) {
    return std::string(prefix) + std::to_string(getpid()) + "-" + std::to_string(attempt);
}

}  // namespace kwin
