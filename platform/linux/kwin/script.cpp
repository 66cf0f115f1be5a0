// The script the collector runs inside KWin, and its file.
//
// The file lives in $XDG_RUNTIME_DIR for as long as the script is loaded, as
// palvern-collector-<pid>-<nonce>-<attempt>.js (the script's name in KWin
// without ".js"; the nonce, random for each run, keeps a new collector's
// names apart from those a killed one with the same pid left in KWin). A
// collector that ended without unloading its script leaves its file behind,
// and the next collector to start unloads the scripts of such files whose
// process is gone.
//
// KWin reads the file by its path, so the folder must be one no one else can
// write: owned by the user and writable by no one else, reached through
// folders that no one else can change either. A runtime folder that is not
// such a folder (XDG_RUNTIME_DIR=/tmp, say) leaves KWin unused. The file is
// created afresh (never an existing file, never through a link), readable by
// the user alone.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "platform/linux/kwin/kwin.h"

namespace kwin {
namespace {

constexpr std::string_view prefix = "palvern-collector-";
constexpr std::string_view suffix = ".js";

// Reports the active window (and its title changes) to the collector's
// object. KWin 5.27 names the signal and property clientActivated and
// activeClient, Plasma 6 windowActivated and activeWindow. callDBus drops an
// undefined argument, which would change the call's signature: every field is
// made a string or a whole number. The token comes first in every call: any
// script can call the collector's object through KWin's connection, and only
// this one knows it.
constexpr std::string_view scriptBody = R"js(
function text(value) {
    return value === undefined || value === null ? "" : String(value);
}
function send(window) {
    if (!window) {
        callDBus(destination, path, iface, "Inactive", token);
        return;
    }
    callDBus(destination, path, iface, "Active", token, text(window.caption), text(window.resourceClass),
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

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

struct DirClose {
    void operator()(DIR* dir) const { closedir(dir); }
};

// The runtime folder, opened and checked.
struct Folder {
    Fd fd;
    std::string path;
};

// A folder on the way to the runtime folder: no one but root and the user
// may rename what is in it, which a folder others can write allows unless it
// is sticky (as /tmp is).
bool safeOnTheWay(const struct stat& status) {
    if (!S_ISDIR(status.st_mode)) return false;
    if (status.st_uid != 0 && status.st_uid != geteuid()) return false;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (status.st_mode & S_ISVTX) != 0;
}

std::optional<Folder> runtimeFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || dir[0] != '/') return std::nullopt;
    std::string_view rest = dir;
    Fd at(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status{};
    while (at.fd >= 0) {
        if (fstat(at.fd, &status) != 0) return std::nullopt;
        while (rest.starts_with('/')) rest.remove_prefix(1);
        if (rest.empty()) break;
        if (!safeOnTheWay(status)) return std::nullopt;
        const std::string name(rest.substr(0, rest.find('/')));
        rest.remove_prefix(name.size());
        if (name == "." || name == "..") return std::nullopt;
        at = Fd(openat(at.fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (at.fd < 0 || !S_ISDIR(status.st_mode) || status.st_uid != geteuid() ||
        (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::nullopt;
    }
    return Folder{std::move(at), dir};
}

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

// `bytes` random bytes from the kernel as hexadecimal digits; empty when the
// kernel gives none.
std::string randomHex(std::size_t bytes) {
    unsigned char random[32];
    if (bytes > sizeof random) return {};
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = getrandom(random + got, bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<std::size_t>(n);
    }
    constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < bytes; ++i) {
        hex += digits[random[i] >> 4];
        hex += digits[random[i] & 15];
    }
    return hex;
}

// Random for each run: the part of the script names that a pid does not
// give, and the token the script's calls carry.
const std::string& runNonce() {
    static const std::string nonce = randomHex(4);
    return nonce;
}

}  // namespace

const std::string& runToken() {
    static const std::string token = randomHex(16);
    return token;
}

bool scriptsCanRun() { return !runToken().empty() && !runNonce().empty() && runtimeFolder().has_value(); }

std::string scriptText(const std::string& destination, const std::string& token) {
    std::string text = "const destination = \"" + destination + "\";\nconst path = \"" + objectPath +
                       "\";\nconst iface = \"" + objectInterface + "\";\nconst token = \"" + token + "\";\n";
    text += scriptBody;
    return text;
}

std::string scriptFile(const std::string& scriptName) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || dir[0] != '/') return {};
    return std::string(dir) + "/" + scriptName + std::string(suffix);
}

bool writeScript(const std::string& scriptName, const std::string& destination) {
    auto folder = runtimeFolder();
    if (!folder || !plainName(destination) || runToken().empty()) return false;
    const std::string file = scriptName + std::string(suffix);
    const Fd out(openat(folder->fd.fd, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat status{};
    if (out.fd < 0) return false;
    if (fstat(out.fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid() ||
        status.st_nlink != 1) {
        return false;  // not a file of ours alone: left as it is
    }
    const std::string text = scriptText(destination, runToken());
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(out.fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            unlinkat(folder->fd.fd, file.c_str(), 0);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

void removeScript(const std::string& scriptName) {
    if (auto folder = runtimeFolder()) {
        unlinkat(folder->fd.fd, (scriptName + std::string(suffix)).c_str(), 0);
    }
}

std::vector<std::string> staleScripts(const std::string& current) {
    std::vector<std::string> stale;
    auto folder = runtimeFolder();
    if (!folder) return stale;
    const int listed = openat(folder->fd.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return stale;
    std::unique_ptr<DIR, DirClose> listing(fdopendir(listed));
    if (!listing) {
        close(listed);
        return stale;
    }
    while (const dirent* entry = readdir(listing.get())) {
        std::string_view name = entry->d_name;
        if (!name.ends_with(suffix)) continue;
        name.remove_suffix(suffix.size());
        const pid_t pid = processOf(name);
        if (pid == 0 || name == current) continue;
        // This collector's earlier attempts, those of a collector that had
        // this pid before, and those of collectors that are gone.
        if (pid == getpid() || (kill(pid, 0) == -1 && errno == ESRCH)) stale.emplace_back(name);
    }
    return stale;
}

std::string ownScriptName(std::uint32_t attempt) {
    return std::string(prefix) + std::to_string(getpid()) + "-" + runNonce() + "-" + std::to_string(attempt);
}

}  // namespace kwin
