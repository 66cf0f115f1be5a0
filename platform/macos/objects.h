// How the macOS desktop represents platform objects: a platform::Object* is a
// CFTypeRef, and a Handle holds one reference to it (CFRelease on release).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

#include "platform/platform.h"

namespace platform::macos {

// A Handle that takes over one reference to `object`, which may be NULL.
inline Handle adopt(CFTypeRef object) {
    return Handle(static_cast<Object*>(const_cast<void*>(object)));
}

// The CFTypeRef that `handle` holds, or NULL; the handle keeps its reference.
inline CFTypeRef cf(const Handle& handle) { return handle.get(); }

// The UTF-8 bytes of `string`, read as UTF-16 code units.
std::string utf8(CFStringRef string);

}  // namespace platform::macos
