#include "platform/linux/desktop_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <utility>

namespace desktop {
namespace {

// Larger files are not desktop entries: skipped, so that nothing put in a
// data directory can make the index slow or big.
constexpr std::size_t maxFileSize = 1 << 20;
// Subfolders below applications/ deeper than this are not read.
constexpr int maxDepth = 8;
// Without inotify, the index is rebuilt at a lookup once it is this old.
constexpr std::chrono::seconds unwatchedRebuild{30};

// An owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }

private:
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
};

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

Dir openFolder(int dirFd, const char* name, int flags) {
    Fd fd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags));
    if (!fd) return nullptr;
    Dir dir(::fdopendir(fd.get()));
    if (dir) fd.release();  // the DIR owns it now
    return dir;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The lines of a key file, as group headers and key=value pairs. Comments,
// blank lines and lines of neither kind are passed over; a final line needs
// no line feed; a carriage return before a line feed is dropped. Only keys
// that start with one of `initials` are looked at: most lines of a desktop
// file are translations of keys no one here reads.
struct KeyLine {
    bool header = false;
    std::string_view group;  // the group of a key, or the header's group
    std::string_view key, value;
};

class KeyLines {
public:
    KeyLines(std::string_view contents, std::string_view initials) : rest_(contents), initials_(initials) {}

    bool next(KeyLine& out) {
        while (!rest_.empty()) {
            std::size_t end = rest_.find('\n');
            std::string_view line = rest_.substr(0, end);
            rest_ = end == std::string_view::npos ? std::string_view{} : rest_.substr(end + 1);
            while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
            if (line.empty()) continue;
            if (line.front() != '[' && initials_.find(line.front()) == std::string_view::npos) continue;
            if (line.back() == '\r') line.remove_suffix(1);
            line = trim(line);
            if (line.front() == '[') {
                std::size_t close = line.find(']');
                // The keys after a broken header belong to no group.
                inGroup_ = close != std::string_view::npos;
                if (!inGroup_) continue;
                group_ = line.substr(1, close - 1);
                out = {true, group_, {}, {}};
                return true;
            }
            std::size_t equals = line.find('=');
            if (equals == std::string_view::npos || !inGroup_) continue;
            out = {false, group_, trim(line.substr(0, equals)), trim(line.substr(equals + 1))};
            return true;
        }
        return false;
    }

private:
    std::string_view rest_;
    std::string_view initials_;
    std::string_view group_;
    bool inGroup_ = false;  // keys before any group belong to none
};

// A string value with its escapes (\s \n \t \r \\) decoded; an unknown escape
// stays as it is.
std::string unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            char next = value[i + 1];
            char decoded = next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r'
                           : next == '\\' ? '\\' : '\0';
            if (decoded != '\0') {
                out += decoded;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

// The Name keys to try for a locale, most specific first, "Name" last.
std::vector<std::string> nameKeys(const Locale& locale) {
    std::vector<std::string> keys;
    const std::string& l = locale.lang;
    const std::string& c = locale.country;
    const std::string& m = locale.modifier;
    if (!l.empty()) {
        if (!c.empty() && !m.empty()) keys.push_back(l + "_" + c + "@" + m);
        if (!c.empty()) keys.push_back(l + "_" + c);
        if (!m.empty()) keys.push_back(l + "@" + m);
        keys.push_back(l);
        for (auto& key : keys) key = "Name[" + key + "]";
    }
    keys.emplace_back("Name");
    return keys;
}

// Keys repeated within the group (or in a repeated group): the last one
// counts, as in GLib's key files, so the name is the one GLib-based shells
// show.
ParsedFile parse(std::string_view contents, const std::vector<std::string>& names) {
    constexpr std::string_view mainGroup = "Desktop Entry";
    ParsedFile file;
    std::array<std::string_view, 6> name{};  // one for each of `names` (at most 5), by index
    std::array<bool, 6> hasName{};
    std::string_view type, hidden, wmClass;
    KeyLines lines(contents, "NTHS");  // Name, Type, Hidden, StartupWMClass
    KeyLine line;
    while (lines.next(line)) {
        if (line.group != mainGroup) continue;
        if (line.header) {
            file.claimsId = true;
        } else if (line.key == "Type") {
            type = line.value;
        } else if (line.key == "Hidden") {
            hidden = line.value;
        } else if (line.key == "StartupWMClass") {
            wmClass = line.value;
        } else if (line.key.starts_with("Name")) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (line.key == names[i]) {
                    name[i] = line.value;
                    hasName[i] = true;
                }
            }
        }
    }
    if (!file.claimsId) return file;
    for (std::size_t i = 0; i < names.size() && file.name.empty(); ++i) {
        if (hasName[i]) file.name = unescape(name[i]);
    }
    file.startupWMClass = unescape(wmClass);
    file.application = type == "Application" && hidden != "true" && hidden != "1" && !file.name.empty();
    return file;
}

// The whole of a regular file below `dirFd`, or none when it cannot be read
// or is too big. What the name leads to (a link may lead anywhere) is looked
// at before it is opened, so that nothing but a regular file is ever opened
// (opening a device can have effects of its own); opened without blocking,
// so that a FIFO put in its place meanwhile cannot stall the collector, and
// read only when it is still the file looked at.
bool readRegularFile(int dirFd, const char* name, std::string& out) {
    struct stat looked {};
    if (::fstatat(dirFd, name, &looked, 0) != 0 || !S_ISREG(looked.st_mode) ||
        static_cast<std::size_t>(looked.st_size) > maxFileSize) {
        return false;
    }
    Fd fd(::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || status.st_dev != looked.st_dev || status.st_ino != looked.st_ino ||
        !S_ISREG(status.st_mode) || static_cast<std::size_t>(status.st_size) > maxFileSize) {
        return false;
    }
    // As long as it was when opened: a file being written is read again
    // when its watch says it has changed.
    out.resize(static_cast<std::size_t>(status.st_size));
    std::size_t length = 0;
    while (length < out.size()) {
        ssize_t got = ::read(fd.get(), out.data() + length, out.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        length += static_cast<std::size_t>(got);
    }
    out.resize(length);
    return true;
}

std::string asciiLowerDashed(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == ' ') c = '-';
    }
    return out;
}

const DesktopEntry* byHeuristicId(const Index& index, std::string_view name) {
    static constexpr std::array<std::string_view, 7> prefixes{"",        "gnome-", "fedora-", "mozilla-",
                                                              "debian-", "kde-",   "kde4-"};
    const std::string canonical = asciiLowerDashed(name);
    std::string candidate;
    for (std::string_view form : {name, std::string_view(canonical)}) {
        for (std::string_view prefix : prefixes) {
            candidate.assign(prefix);
            candidate.append(form);
            if (const auto* entry = index.byId(candidate)) return entry;
        }
        if (canonical == name) break;
    }
    return nullptr;
}

std::optional<std::string> nonEmpty(const char* value) {
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

bool alive(const Fd& pidfd) {
    pollfd poll{pidfd.get(), POLLIN, 0};
    return ::poll(&poll, 1, 0) == 0;  // a pidfd becomes readable when its process ends
}

}  // namespace

Locale parseLocale(std::string_view value) {
    Locale locale;
    std::size_t at = value.find('@');
    if (at != std::string_view::npos) {
        locale.modifier = value.substr(at + 1);
        value = value.substr(0, at);
    }
    value = value.substr(0, value.find('.'));  // the encoding
    std::size_t underscore = value.find('_');
    if (underscore != std::string_view::npos) {
        locale.country = value.substr(underscore + 1);
        value = value.substr(0, underscore);
    }
    locale.lang = value;
    return locale;
}

Locale localeFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (auto value = nonEmpty(std::getenv(name))) return parseLocale(*value);
    }
    return {};
}

std::vector<std::string> applicationDirs(const char* dataHome, const char* home, const char* dataDirs) {
    // Relative paths are not data directories.
    std::vector<std::string> bases;
    if (dataHome && dataHome[0] == '/') {
        bases.emplace_back(dataHome);
    } else if (home && home[0] == '/') {
        bases.push_back(std::string(home) + "/.local/share");
    }
    std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    while (true) {
        std::size_t colon = dirs.find(':');
        std::string_view dir = dirs.substr(0, colon);
        if (dir.starts_with('/')) bases.emplace_back(dir);
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    for (auto& base : bases) {
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        base += base == "/" ? "applications" : "/applications";
    }
    return bases;
}

std::vector<std::string> applicationDirsFromEnvironment() {
    return applicationDirs(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"), std::getenv("XDG_DATA_DIRS"));
}

std::string desktopFileId(std::string_view relativePath) {
    if (relativePath.ends_with(".desktop")) relativePath.remove_suffix(8);
    std::string id(relativePath);
    std::replace(id.begin(), id.end(), '/', '-');
    return id;
}

ParsedFile parseDesktopFile(std::string_view contents, const Locale& locale) {
    return parse(contents, nameKeys(locale));
}

std::optional<std::string> flatpakApplicationId(std::string_view contents) {
    std::optional<std::string> id;
    KeyLines lines(contents, "n");
    KeyLine line;
    while (lines.next(line)) {
        if (!line.header && line.group == "Application" && line.key == "name") id = unescape(line.value);
    }
    if (id && id->empty()) id.reset();
    return id;
}

std::optional<std::string> sandboxApplicationId(std::int32_t pid) {
    // A process stays in the sandbox it started in, so its answer holds for
    // its life; a pidfd tells when that ends, before the pid can be reused.
    struct Remembered {
        std::int32_t pid;
        Fd pidfd;
        std::optional<std::string> id;
    };
    static std::vector<Remembered> memo;
    constexpr std::size_t memoSize = 32;
    if (pid < 1) return std::nullopt;
    for (auto it = memo.begin(); it != memo.end(); ++it) {
        if (it->pid != pid) continue;
        if (alive(it->pidfd)) return it->id;
        memo.erase(it);
        break;
    }
#ifdef SYS_pidfd_open
    Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
    Fd pidfd;
#endif
    std::optional<std::string> id;
    std::string contents;
    const std::string root = "/proc/" + std::to_string(pid) + "/root";
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd && readRegularFile(rootFd.get(), ".flatpak-info", contents)) id = flatpakApplicationId(contents);
    // Still the same process after the read: what was read was its own.
    if (pidfd && alive(pidfd)) {
        std::erase_if(memo, [](const Remembered& r) { return !alive(r.pidfd); });
        if (memo.size() >= memoSize) memo.erase(memo.begin());
        memo.push_back({pid, std::move(pidfd), id});
    }
    return id;
}

// ---------------------------------------------------------------------------

struct Index::Builder {
    Index& index;
    const std::vector<std::string> names;
    const FolderHook& beforeReading;
    std::string buffer;

    // Reads the folder open in `dir`: its entries, then its subfolders' with
    // their names and '-' before their IDs.
    void addFolder(Dir dir, const std::string& path, const std::string& prefix, int depth) {
        // Watched before it is listed: nothing added after the listing goes unseen.
        if (beforeReading) beforeReading(path);
        const int fd = ::dirfd(dir.get());
        std::vector<std::pair<std::string, bool>> children;  // name, is a folder
        while (const dirent* child = ::readdir(dir.get())) {
            std::string_view name = child->d_name;
            if (name == "." || name == "..") continue;
            bool folder = child->d_type == DT_DIR;
            if (child->d_type == DT_UNKNOWN) {
                struct stat status {};
                folder = ::fstatat(fd, child->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
            }
            if (folder || name.ends_with(".desktop")) children.emplace_back(name, folder);
        }
        // In name order: two files of one ID in one folder resolve the same way every time.
        std::sort(children.begin(), children.end());
        for (const auto& [name, folder] : children) {
            if (!folder) {
                addFile(fd, name, prefix + desktopFileId(name));
            } else if (depth < maxDepth) {
                // Links to folders are not followed: no loops.
                if (Dir sub = openFolder(fd, name.c_str(), O_NOFOLLOW))
                    addFolder(std::move(sub), path + "/" + name, prefix + name + "-", depth + 1);
            }
        }
    }

    void addFile(int dirFd, const std::string& name, std::string id) {
        if (index.ids_.contains(id)) return;  // an earlier directory has it
        if (!readRegularFile(dirFd, name.c_str(), buffer)) return;
        ParsedFile file = parse(buffer, names);
        if (!file.claimsId) return;  // broken: a later directory's file may stand
        if (!file.application) {
            index.ids_.emplace(std::move(id), none);
            return;
        }
        const std::size_t at = index.entries_.size();
        if (!file.startupWMClass.empty()) {
            // Several entries claiming one class: the one named after it, else the first found.
            auto [it, added] = index.wmClasses_.emplace(file.startupWMClass, at);
            if (!added && id == file.startupWMClass) it->second = at;
        }
        index.entries_.push_back({id, std::move(file.name)});
        index.ids_.emplace(std::move(id), at);
    }
};

Index Index::build(const std::vector<std::string>& applicationDirs, const Locale& locale,
                   const FolderHook& beforeReading) {
    Index index;
    Builder builder{index, nameKeys(locale), beforeReading, {}};
    for (const auto& dir : applicationDirs) {
        if (Dir folder = openFolder(AT_FDCWD, dir.c_str(), 0)) builder.addFolder(std::move(folder), dir, "", 0);
    }
    return index;
}

const DesktopEntry* Index::byId(std::string_view id) const {
    auto it = ids_.find(id);
    return it == ids_.end() || it->second == none ? nullptr : &entries_[it->second];
}

const DesktopEntry* Index::byStartupWMClass(std::string_view wmClass) const {
    auto it = wmClasses_.find(wmClass);
    return it == wmClasses_.end() ? nullptr : &entries_[it->second];
}

std::optional<DesktopEntry> match(const Index& index, const WindowIdentity& window, SandboxLookup sandbox) {
    if (window.desktopFileId) {
        if (const auto* entry = index.byId(*window.desktopFileId)) return *entry;
    }
    const std::optional<std::string>* names[] = {&window.instance, &window.windowClass};
    for (const auto* name : names) {
        if (!*name || (*name)->empty()) continue;
        if (const auto* entry = index.byStartupWMClass(**name)) return *entry;
    }
    for (const auto* name : names) {
        if (!*name || (*name)->empty()) continue;
        if (const auto* entry = byHeuristicId(index, **name)) return *entry;
    }
    if (window.pid >= 1 && sandbox) {
        if (auto id = sandbox(window.pid)) {
            if (const auto* entry = index.byId(*id)) return *entry;
        }
    }
    if (window.applicationId) {
        if (const auto* entry = index.byId(*window.applicationId)) return *entry;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------

// The inotify watches of one build: every folder read, and for each missing
// applications/ folder its nearest existing ancestor, watched for the next
// step of the path appearing.
struct LiveIndex::Watches {
    static constexpr std::uint32_t folderMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                                IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                                IN_ONLYDIR | IN_MASK_ADD;
    static constexpr std::uint32_t ancestorMask =
        IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;

    Fd fd{::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
    bool complete = static_cast<bool>(fd);  // every folder that matters is watched
    std::set<int> folders;
    std::set<std::pair<int, std::string>> ancestors;  // watch, the name that would matter

    static bool missing(int error) { return error == ENOENT || error == ENOTDIR; }

    void lost(int error) {
        // Out of watches or memory: changes may go unseen. A folder that
        // cannot be read (EACCES) has no entries to miss.
        if (error != EACCES && !missing(error)) complete = false;
    }

    bool watchFolder(const std::string& path) {
        int wd = ::inotify_add_watch(fd.get(), path.c_str(), folderMask);
        if (wd >= 0) {
            folders.insert(wd);
            return true;
        }
        lost(errno);
        return false;
    }

    // Watches a folder that should hold entries; while it is missing, the
    // folder above it for its arrival, and so on upwards.
    void watchMissing(const std::string& path) {
        if (!fd) return;
        if (watchFolder(path) || !missing(errno)) return;
        if (auto [parent, name] = split(path); !name.empty()) {
            watchAncestor(parent, name);
            watchFolder(path);  // it may have come meanwhile
        }
    }

    void watchAncestor(const std::string& path, const std::string& child) {
        if (addAncestor(path, child) || !missing(errno)) return;
        if (auto [parent, name] = split(path); !name.empty()) {
            watchAncestor(parent, name);
            addAncestor(path, child);  // it may have come meanwhile
        }
    }

    bool addAncestor(const std::string& path, const std::string& child) {
        int wd = ::inotify_add_watch(fd.get(), path.c_str(), ancestorMask);
        if (wd >= 0) {
            ancestors.emplace(wd, child);
            return true;
        }
        lost(errno);
        return false;
    }

    // "/a/b" → {"/a", "b"}; "/a" → {"/", "a"}; no name for "/" or a relative path.
    static std::pair<std::string, std::string> split(const std::string& path) {
        std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || slash + 1 == path.size()) return {};
        return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
    }

    // Reads every event queued; true when one of them may change the index.
    bool drain() {
        alignas(inotify_event) char buffer[16384];
        bool changed = false;
        for (;;) {
            ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return changed;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (changed) continue;
                if (event->mask & IN_Q_OVERFLOW) {
                    changed = true;
                } else if (folders.contains(event->wd)) {
                    // A file that is no desktop entry changes nothing; a
                    // folder, or the watched folder itself, may.
                    changed = event->len == 0 || (event->mask & IN_ISDIR) ||
                              std::string_view(event->name).ends_with(".desktop");
                } else if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                    changed = ancestorWatched(event->wd);  // the path above moved
                } else if (event->len > 0) {
                    changed = ancestors.contains({event->wd, std::string(event->name)});
                }
            }
        }
    }

    bool ancestorWatched(int wd) const {
        auto it = ancestors.lower_bound({wd, std::string()});
        return it != ancestors.end() && it->first == wd;
    }
};

LiveIndex::LiveIndex(std::vector<std::string> applicationDirs, Locale locale)
    : dirs_(std::move(applicationDirs)), locale_(std::move(locale)) {}

LiveIndex::~LiveIndex() = default;

void LiveIndex::rebuild() {
    watches_ = std::make_unique<Watches>();
    for (const auto& dir : dirs_) watches_->watchMissing(dir);
    index_ = Index::build(dirs_, locale_, [this](const std::string& folder) {
        if (watches_->fd) watches_->watchFolder(folder);
    });
    builtAt_ = std::chrono::steady_clock::now();
    ++builds_;
}

bool LiveIndex::changed() {
    if (!watches_->complete && std::chrono::steady_clock::now() - builtAt_ >= unwatchedRebuild) return true;
    return watches_->fd && watches_->drain();
}

const Index& LiveIndex::current() {
    if (!index_ || changed()) rebuild();
    return *index_;
}

// ---------------------------------------------------------------------------

std::optional<DesktopEntry> matchDesktopEntry(const WindowIdentity& window) {
    static LiveIndex index(applicationDirsFromEnvironment(), localeFromEnvironment());
    return match(index.current(), window, sandboxApplicationId);
}

}  // namespace desktop
