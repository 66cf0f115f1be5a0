// Accessibility: application elements, attribute reads and the kinds of value
// they deliver.
#include <ApplicationServices/ApplicationServices.h>

#include "platform/macos/objects.h"
#include "platform/platform.h"

namespace platform {
namespace {

using macos::adopt;
using macos::cf;

static_assert(axSuccess == kAXErrorSuccess);

// How long one read waits for an application's answer. An application that
// does not answer would otherwise hold the main thread, and with it every
// sample, for the system's default of several seconds per read.
constexpr float messagingTimeoutSeconds = 0.5f;

bool hasType(CFTypeRef object, CFTypeID type) {
    return object != nullptr && CFGetTypeID(object) == type;
}

}  // namespace

bool accessibilityTrusted() { return AXIsProcessTrusted(); }

// Every member is real on macOS; window titles once the Accessibility
// permission is granted. (Whether a browser may be asked for its URL cannot
// be found out without the Automation prompt, so `url` counts as given.)
DesktopDescription describeDesktop() {
    const Availability titles = AXIsProcessTrusted() ? Availability::given : Availability::off;
    return {.windowSystem = "macos",
            .process = Availability::given,
            .bundleId = Availability::given,
            .idleSeconds = Availability::given,
            .url = Availability::given,
            .windowTitle = titles,
            .keysTotal = Availability::given,
            .clicksTotal = Availability::given};
}

// The timeout holds for reads through this element. An application that does
// not answer fails its first such read within the timeout, and no window
// element is read from it then. Setting the timeout fails only for an element
// that is not valid, whose reads fail at once anyway, so the result is unused.
Handle createApplicationElement(std::int32_t pid) {
    Handle element = adopt(AXUIElementCreateApplication(pid));
    (void)AXUIElementSetMessagingTimeout(static_cast<AXUIElementRef>(cf(element)),
                                         messagingTimeoutSeconds);
    return element;
}

int copyAttributeValue(const Handle& element, std::string_view attribute, Handle& value) {
    const Handle name = adopt(CFStringCreateWithBytes(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(attribute.data()),
        static_cast<CFIndex>(attribute.size()), kCFStringEncodingUTF8, false));
    if (!name) {
        return kAXErrorIllegalArgument;
    }
    CFTypeRef out = nullptr;
    const AXError result = AXUIElementCopyAttributeValue(
        static_cast<AXUIElementRef>(cf(element)), static_cast<CFStringRef>(cf(name)), &out);
    value = adopt(out);
    return result;
}

bool isElement(const Handle& value) { return hasType(cf(value), AXUIElementGetTypeID()); }

bool isText(const Handle& value) { return hasType(cf(value), CFStringGetTypeID()); }

// An array whose first element is not an accessibility element is not a list
// of elements; an empty array is.
bool isElementList(const Handle& value) {
    if (!hasType(cf(value), CFArrayGetTypeID())) {
        return false;
    }
    const auto array = static_cast<CFArrayRef>(cf(value));
    return CFArrayGetCount(array) == 0 ||
           hasType(CFArrayGetValueAtIndex(array, 0), AXUIElementGetTypeID());
}

std::size_t listCount(const Handle& list) {
    return static_cast<std::size_t>(CFArrayGetCount(static_cast<CFArrayRef>(cf(list))));
}

Handle listFirst(const Handle& list) {
    const auto array = static_cast<CFArrayRef>(cf(list));
    if (CFArrayGetCount(array) == 0) {
        return Handle{};
    }
    return adopt(CFRetain(CFArrayGetValueAtIndex(array, 0)));
}

std::string textValue(const Handle& text) {
    return macos::utf8(static_cast<CFStringRef>(cf(text)));
}

}  // namespace platform
