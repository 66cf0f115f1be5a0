#include "tests/scripted_desktop.h"

#include <set>

using scripted::Value;

// On the scripted desktop every object is one of these.
struct platform::Object {
    enum class Kind { application, window, list, text, number, script, errorInfo, result, string };
    Kind kind;
    int id = 0;                 // application: pid; window: window
    std::vector<int> windows;   // list
    std::string text;           // text, string, script source
    std::optional<std::string> resultText;  // result
};

namespace scripted {
namespace {

Desktop current;
std::set<platform::Object*> live;

platform::Handle make(platform::Object object) {
    auto* p = new platform::Object(std::move(object));
    live.insert(p);
    ++current.handedOut;
    return platform::Handle(p);
}

platform::Handle fromValue(const Value& v) {
    using K = platform::Object::Kind;
    switch (v.kind) {
        case Value::Kind::element: return make({K::window, v.window, {}, {}, {}});
        case Value::Kind::list: return make({K::list, 0, v.windows, {}, {}});
        case Value::Kind::text: return make({K::text, 0, {}, v.text, {}});
        case Value::Kind::number: return make({K::number, 0, {}, {}, {}});
    }
    return {};
}

std::string describe(const platform::Object& o) {
    switch (o.kind) {
        case platform::Object::Kind::application: return "app " + std::to_string(o.id);
        case platform::Object::Kind::window: return "window " + std::to_string(o.id);
        default: return "value";
    }
}

void log(std::string call) { current.calls.push_back(std::move(call)); }

}  // namespace

Desktop& desktop() { return current; }

void reset() {
    for (auto* p : live) delete p;
    live.clear();
    current = Desktop{};
}

int liveObjects() { return static_cast<int>(live.size()); }

std::vector<std::string> callsStartingWith(std::string_view prefix) {
    std::vector<std::string> found;
    for (const auto& call : current.calls)
        if (call.starts_with(prefix)) found.push_back(call);
    return found;
}

}  // namespace scripted

namespace platform {

using scripted::current;
using scripted::live;
using scripted::log;
using scripted::make;

void release(Object* object) {
    if (!live.erase(object)) {
        ++current.releasedTwice;
        return;
    }
    if (object->kind == Object::Kind::application || object->kind == Object::Kind::window)
        log("release(" + scripted::describe(*object) + ")");
    ++current.released;
    delete object;
}

bool accessibilityTrusted() {
    log("accessibilityTrusted");
    return current.trusted;
}

Handle createApplicationElement(std::int32_t pid) {
    log("createApplicationElement(" + std::to_string(pid) + ")");
    return make({Object::Kind::application, pid, {}, {}, {}});
}

int copyAttributeValue(const Handle& element, std::string_view attribute, Handle& value) {
    EXPECT_FALSE(value) << "the out slot must be empty before a read";
    log("copyAttributeValue(" + scripted::describe(*element) + "," + std::string(attribute) + ")");
    const scripted::Attributes* attributes = nullptr;
    if (element->kind == Object::Kind::application) {
        auto it = current.applications.find(element->id);
        if (it != current.applications.end()) attributes = &it->second;
    } else if (element->kind == Object::Kind::window) {
        auto it = current.windows.find(element->id);
        if (it != current.windows.end()) attributes = &it->second;
    }
    if (!attributes) return -25204;  // no such element
    auto read = attributes->find(attribute);
    if (read == attributes->end()) return -25205;  // attribute unsupported
    if (read->second.value) value = scripted::fromValue(*read->second.value);
    return read->second.code;
}

bool isElement(const Handle& value) {
    return value && (value->kind == Object::Kind::window || value->kind == Object::Kind::application);
}
bool isText(const Handle& value) { return value && value->kind == Object::Kind::text; }
bool isElementList(const Handle& value) { return value && value->kind == Object::Kind::list; }
std::size_t listCount(const Handle& list) { return list->windows.size(); }
Handle listFirst(const Handle& list) {
    return make({Object::Kind::window, list->windows.at(0), {}, {}, {}});
}
std::string textValue(const Handle& text) { return text->text; }

std::optional<Application> frontmostApplication() {
    log("frontmostApplication");
    return current.frontmost;
}

void observeActivations(Trigger trigger) {
    log("observeActivations");
    current.activation = trigger;
}

void scheduleRepeatingTimer(double interval, Trigger trigger) {
    log("scheduleRepeatingTimer(" + std::to_string(interval) + ")");
    current.timer = trigger;
    current.timerInterval = interval;
}

void runMainLoop() { log("runMainLoop"); }

InputHandle standardInput() {
    log("standardInput");
    return {0};
}

void setReadabilityHandler(InputHandle, ReadabilityHandler handler) {
    log(handler ? "setReadabilityHandler" : "setReadabilityHandler(none)");
    current.readability = handler;
}

std::size_t availableData(InputHandle) {
    log("availableData");
    if (current.stdinChunks.empty()) return 0;
    std::size_t chunk = current.stdinChunks.front();
    current.stdinChunks.erase(current.stdinChunks.begin());
    return chunk;
}

void writeStandardOutput(std::string_view bytes) {
    log("writeStandardOutput");
    current.output += bytes;
    current.writes.emplace_back(bytes);
}

void exitProcess(int status) {
    log("exitProcess(" + std::to_string(status) + ")");
    throw scripted::Exited{status};
}

double secondsSinceLastEventType(int state, int type) {
    log("secondsSinceLastEventType(" + std::to_string(state) + "," + std::to_string(type) + ")");
    auto it = current.idle.find(type);
    return it == current.idle.end() ? 0.0 : it->second;
}

std::uint32_t counterForEventType(int state, int type) {
    log("counterForEventType(" + std::to_string(state) + "," + std::to_string(type) + ")");
    auto it = current.counters.find(type);
    return it == current.counters.end() ? 0 : it->second;
}

Handle createScript(const std::string& source) {
    log("createScript(" + source + ")");
    auto it = current.scripts.find(source);
    if (it == current.scripts.end() || !it->second.created) return {};
    return make({Object::Kind::script, 0, {}, source, {}});
}

Handle executeScript(const Handle& script, Handle& errorInfo) {
    log("executeScript");
    EXPECT_FALSE(errorInfo) << "the error slot must be empty before a run";
    const scripted::ScriptOutcome& outcome = current.scripts.at(script->text);
    if (outcome.errorFilled) errorInfo = make({Object::Kind::errorInfo, 0, {}, {}, {}});
    if (!outcome.hasResult) return {};
    return make({Object::Kind::result, 0, {}, {}, outcome.resultText});
}

std::optional<std::string> frontmostTabUrl(std::string_view bundleId, std::string_view appName) {
    current.tabUrlAsks.emplace_back(bundleId, appName);
    return current.tabUrl;
}

DesktopDescription describeDesktop() {
    log("describeDesktop");
    return current.description;
}

Handle stringValue(const Handle& result) {
    log("stringValue");
    if (!result->resultText) return {};
    return make({Object::Kind::string, 0, {}, *result->resultText, {}});
}

}  // namespace platform
