// The boundary between the collector and the desktop it reports on.
//
// Every operating-system operation the collector uses is declared here, once.
// Exactly one desktop backend defines them in the executable (platform/linux
// for X11, platform/macos for macOS, both with platform/posix); the tests
// link a scripted desktop instead. The collector's logic calls nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// ---------------------------------------------------------------------------
// Platform objects and their owning handle.
//
// Accessibility elements, attribute values, lists, script objects, script
// results and text objects are platform objects that the collector owns once
// it has obtained them. `Object` is opaque to the collector; each backend
// says what it is (a CFTypeRef on macOS). A `Handle` releases its object
// exactly once, on whatever path the owner leaves by, and nothing in the
// collector releases by hand.
struct Object;
void release(Object* object);
struct Releaser {
    void operator()(Object* object) const { release(object); }
};
using Handle = std::unique_ptr<Object, Releaser>;

// ---------------------------------------------------------------------------
// Accessibility.

// Whether this process may read other applications' windows. Only asks; never
// prompts the user for the access.
bool accessibilityTrusted();

// A new application element for process `pid`. Never empty on macOS; the
// collector uses it without testing it.
Handle createApplicationElement(std::int32_t pid);

// Reads one attribute of an element. `value` must be empty on entry. Returns
// the platform's result code: `axSuccess` when the read succeeded, and then
// `value` holds what was delivered, which may be nothing; any other code is a
// failure, and `value` may still hold something the caller then owns.
inline constexpr int axSuccess = 0;
int copyAttributeValue(const Handle& element, std::string_view attribute, Handle& value);

// Kind tests on an attribute value (false for an empty handle).
bool isElement(const Handle& value);      // an accessibility element
bool isText(const Handle& value);         // a text object
bool isElementList(const Handle& value);  // a list whose elements (if any) are elements

// A list's length, and a new reference to its first element (empty for an
// empty list).
std::size_t listCount(const Handle& list);
Handle listFirst(const Handle& list);

// The UTF-8 bytes of a text object. Text that other programs hand the platform
// may be ill-formed; the output side copes with that.
std::string textValue(const Handle& text);

// ---------------------------------------------------------------------------
// Workspace: the frontmost application and its activation.

struct Application {
    std::optional<std::string> localizedName;     // display name, or none
    std::optional<std::string> bundleIdentifier;  // bundle identifier, or none
    // Below 1: no process to ask. On Wayland, where the compositor names no
    // process, a number the desktop gives each application (each app_id)
    // for the life of the collector: the same application, the same number.
    std::int32_t processIdentifier = 0;
};

// The application in front, or none. All three facts come from one
// application object, asked once.
std::optional<Application> frontmostApplication();

using Trigger = void (*)();

// Calls `trigger` on the main thread each time an application is activated,
// for the life of the process.
void observeActivations(Trigger trigger);

// Calls `trigger` on the main thread every `interval` seconds, the first time
// one interval from now, for the life of the process. Called on the main thread.
void scheduleRepeatingTimer(double interval, Trigger trigger);

// Serves the triggers on the main thread, one callout at a time. Returns only
// if the loop ends.
void runMainLoop();

// ---------------------------------------------------------------------------
// Standard input, standard output, exit (platform/posix on every desktop).

struct InputHandle {
    int fd = -1;
};

InputHandle standardInput();

using ReadabilityHandler = void (*)(InputHandle);

// Calls `handler`, on a thread of the platform's own, each time data or the end
// of input is there to read on `input`. A null handler removes the watcher.
void setReadabilityHandler(InputHandle input, ReadabilityHandler handler);

// Reads the bytes that are there now and drops them; returns how many.
// Returns 0 only at end of input (a read error other than an interruption
// counts as end of input).
std::size_t availableData(InputHandle input);

// Hands every byte of `bytes` to standard output before returning, in one
// write where the pipe takes it.
void writeStandardOutput(std::string_view bytes);

// Ends the process at once with `status`, from any thread.
[[noreturn]] void exitProcess(int status);

// ---------------------------------------------------------------------------
// Input event source.

inline constexpr int hidSystemState = 1;  // the state every reading passes

namespace eventType {
inline constexpr int leftMouseDown = 1;
inline constexpr int rightMouseDown = 3;
inline constexpr int mouseMoved = 5;
inline constexpr int leftMouseDragged = 6;   // moved with the left button held
inline constexpr int rightMouseDragged = 7;  // moved with the right button held
inline constexpr int keyDown = 10;
inline constexpr int scrollWheel = 22;
inline constexpr int otherMouseDown = 25;
inline constexpr int otherMouseDragged = 27;  // moved with another button held
}  // namespace eventType

// Seconds since the last event of `type`, as the platform gives it (any double).
double secondsSinceLastEventType(int state, int type);

// The platform's running total of events of `type`.
std::uint32_t counterForEventType(int state, int type);

// ---------------------------------------------------------------------------
// Scripting.

// A script object compiled from `source`, or empty when none can be made.
Handle createScript(const std::string& source);

// Runs `script` once, synchronously, on the calling thread. `errorInfo` must be
// empty on entry and is filled when the run fails. The result, when there is
// one, is returned even then; the caller owns both.
Handle executeScript(const Handle& script, Handle& errorInfo);

// The text object of a script result, or empty when it has no text value.
Handle stringValue(const Handle& result);

// ---------------------------------------------------------------------------
// The active tab's URL without a script.
//
// Each desktop answers the URL question its own way: macOS asks the browser
// by script (above), Linux reads it from the accessibility bus, where the
// browsers publish their documents. This one operation lets the URL probe
// stay the same on both: a desktop whose browsers answer without a script
// gives here the URL of the frontmost application's active tab, or the empty
// text when that application is not a browser it knows or the URL cannot be
// told now. None means that this desktop asks browsers by script (macOS
// always returns none). Never waits long: a browser that does not answer in
// time costs one empty URL.
std::optional<std::string> frontmostTabUrl(std::string_view bundleId, std::string_view appName);

// ---------------------------------------------------------------------------
// What this desktop can give: the answer to --describe, asked instead of the
// run, never beside it.

// Whether a member of the sample record can hold real values here.
enum class Availability {
    given,        // it can
    never,        // not on this desktop: always "Unknown", "" or 0
    off,          // not until the user turns a switch on (the session's
                  // accessibility, the Accessibility permission)
    noExtension,  // not until the desktop's extension is installed and enabled
};

struct DesktopDescription {
    // "x11", "wlroots", "kwin", "gnome", "macos", "windows", or "none" when
    // no window system serves (the run then starts with the error record).
    std::string_view windowSystem = "none";
    // `event` is always given.
    Availability process = Availability::never;
    Availability bundleId = Availability::never;
    Availability idleSeconds = Availability::never;
    Availability url = Availability::never;
    Availability windowTitle = Availability::never;
    Availability keysTotal = Availability::never;
    Availability clicksTotal = Availability::never;
};

// Connects as start-up does, with the same choice and within the same
// deadline, and says what the run would give now. Standard input is not
// looked at: a host may ask with its input closed or at its end, and the
// answer is the same. What connecting left in other programs goes when the
// process ends through exitProcess.
DesktopDescription describeDesktop();

}  // namespace platform
