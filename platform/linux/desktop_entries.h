// Desktop entries: the display name and desktop file ID of the application
// behind a window, for every Linux window system.
//
// A window names itself with a WM_CLASS instance and class (or a Wayland
// app_id in both places), maybe an application ID and a process. This file
// keeps an index of the installed desktop entries and matches a window to
// one of them the way desktop shells match windows to applications. Nothing
// here knows a window system.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace desktop {

// What a window says about its application.
struct WindowIdentity {
    std::optional<std::string> desktopFileId{};  // the entry the window system names for it
    std::optional<std::string> instance{};       // WM_CLASS instance
    std::optional<std::string> windowClass{};    // WM_CLASS class
    std::optional<std::string> applicationId{};  // _GTK_APPLICATION_ID
    std::int32_t pid = 0;                      // below 1: unknown
};

struct DesktopEntry {
    std::string id;    // desktop file ID: "org.mozilla.firefox", "kde-okular"
    std::string name;  // the localized Name, as bytes from the file
    bool operator==(const DesktopEntry&) const = default;
};

// The entry of the application behind a window, from the entries installed
// for this process's environment (XDG_DATA_HOME, else HOME/.local/share;
// XDG_DATA_DIRS, else /usr/local/share:/usr/share; the locale from LC_ALL,
// LC_MESSAGES or LANG). The index is built at the first call and kept fresh
// from then on; a call with the index up to date reads no file, except
// /proc/<pid>/root/.flatpak-info once per process when the window's names
// find no entry.
std::optional<DesktopEntry> matchDesktopEntry(const WindowIdentity& window);

// ---------------------------------------------------------------------------
// The pieces, as plain functions over explicit inputs.

// A locale's parts: "de_AT.UTF-8@euro" → {"de", "AT", "euro"}; the encoding
// is dropped.
struct Locale {
    std::string lang, country, modifier;
};
Locale parseLocale(std::string_view value);

// The message locale: the first non-empty of LC_ALL, LC_MESSAGES, LANG.
Locale localeFromEnvironment();

// The applications/ folders of the data directories, in precedence order.
std::vector<std::string> applicationDirs(const char* dataHome, const char* home, const char* dataDirs);
std::vector<std::string> applicationDirsFromEnvironment();

// A file's desktop file ID from its path below applications/:
// "kde/okular.desktop" → "kde-okular".
std::string desktopFileId(std::string_view relativePath);

// One desktop file, read: `claimsId` when it has a [Desktop Entry] group (a
// file without one is broken and does not take its ID from a later
// directory); `application` when it is an entry that names a window.
struct ParsedFile {
    bool claimsId = false;
    bool application = false;  // Type=Application, not Hidden=true, a non-empty Name
    std::string name;          // the localized Name
    std::string startupWMClass;
};
ParsedFile parseDesktopFile(std::string_view contents, const Locale& locale);

// The application ID that a sandbox's .flatpak-info names ([Application] name=).
std::optional<std::string> flatpakApplicationId(std::string_view contents);

// The application ID of process `pid`'s sandbox, from
// /proc/<pid>/root/.flatpak-info; remembered for as long as the process lives.
std::optional<std::string> sandboxApplicationId(std::int32_t pid);

// The entries of a set of applications/ folders.
class Index {
public:
    // Called with each folder's path before the folder is listed.
    using FolderHook = std::function<void(const std::string& folder)>;

    static Index build(const std::vector<std::string>& applicationDirs, const Locale& locale,
                       const FolderHook& beforeReading = {});

    const DesktopEntry* byId(std::string_view id) const;
    const DesktopEntry* byStartupWMClass(std::string_view wmClass) const;
    std::size_t size() const { return entries_.size(); }

private:
    struct Builder;
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using Map = std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>>;
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    std::vector<DesktopEntry> entries_;
    Map ids_;        // every claimed ID → its entry, or `none` (hidden, not an application)
    Map wmClasses_;  // StartupWMClass → entry
};

// Whose sandbox a process is in; sandboxApplicationId in the collector.
using SandboxLookup = std::optional<std::string> (*)(std::int32_t pid);

// The matching, first hit wins: the desktop file ID the window system gives;
// the instance, then the class, as a
// StartupWMClass; the instance, then the class, as a desktop file ID (as
// it is, lowercased with spaces as '-', each also behind a vendor prefix);
// the process's sandbox application ID; the window's application ID.
std::optional<DesktopEntry> match(const Index& index, const WindowIdentity& window, SandboxLookup sandbox);

// An index that follows changes to its folders: built at the first
// current(), rebuilt at a later current() after anything changed in an
// applications/ folder, or when a missing one (or a missing folder above it)
// appears. Changes are watched with inotify and taken at current(), never
// waited for.
class LiveIndex {
public:
    LiveIndex(std::vector<std::string> applicationDirs, Locale locale);
    ~LiveIndex();
    LiveIndex(const LiveIndex&) = delete;
    LiveIndex& operator=(const LiveIndex&) = delete;

    const Index& current();
    std::size_t builds() const { return builds_; }

private:
    struct Watches;
    void rebuild();
    bool changed();

    std::vector<std::string> dirs_;
    Locale locale_;
    std::optional<Index> index_;
    std::unique_ptr<Watches> watches_;
    std::chrono::steady_clock::time_point builtAt_;
    std::size_t builds_ = 0;
};

}  // namespace desktop
