// A fixed desktop for measuring the collector's own work: a terminal in front
// with a focused, titled window; every platform call answers at once and the
// record is written nowhere.
#include <atomic>

#include "platform/platform.h"

struct platform::Object {
    enum class Kind { application, window, text } kind;
};

namespace {
platform::Object window{platform::Object::Kind::window};
platform::Object title{platform::Object::Kind::text};
platform::Object application{platform::Object::Kind::application};
std::atomic<std::size_t> written{0};
}  // namespace

namespace platform {

void release(Object*) {}
bool accessibilityTrusted() { return true; }
Handle createApplicationElement(std::int32_t) { return Handle(&application); }
int copyAttributeValue(const Handle& element, std::string_view attribute, Handle& value) {
    if (element->kind == Object::Kind::application && attribute == "AXFocusedWindow")
        value.reset(&window);
    else if (element->kind == Object::Kind::window && attribute == "AXTitle")
        value.reset(&title);
    else
        return -25205;
    return axSuccess;
}
bool isElement(const Handle& value) { return value->kind != Object::Kind::text; }
bool isText(const Handle& value) { return value->kind == Object::Kind::text; }
bool isElementList(const Handle&) { return false; }
std::size_t listCount(const Handle&) { return 0; }
Handle listFirst(const Handle&) { return {}; }
std::string textValue(const Handle&) { return "user@host: ~/src/palvern \xe2\x80\x94 make -j2 \"all\""; }
std::optional<Application> frontmostApplication() {
    return Application{"Terminal", "com.apple.Terminal", 4242};
}
void observeActivations(Trigger) {}
void scheduleRepeatingTimer(double, Trigger) {}
void runMainLoop() {}
InputHandle standardInput() { return {}; }
void setReadabilityHandler(InputHandle, ReadabilityHandler) {}
std::size_t availableData(InputHandle) { return 0; }
void writeStandardOutput(std::string_view bytes) { written += bytes.size(); }
void exitProcess(int) { __builtin_trap(); }
double secondsSinceLastEventType(int, int type) { return 3.5 + type; }
std::uint32_t counterForEventType(int, int type) { return 1000u * type; }
Handle createScript(const std::string&) { return {}; }
Handle executeScript(const Handle&, Handle&) { return {}; }
Handle stringValue(const Handle&) { return {}; }
std::optional<std::string> frontmostTabUrl(std::string_view, std::string_view) { return std::nullopt; }

}  // namespace platform
