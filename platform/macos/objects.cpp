#include "platform/macos/objects.h"

#include <string>
#include <vector>

#include "platform/utf16.h"

namespace platform {

void release(Object* object) { CFRelease(object); }

namespace macos {

// Read through the code units rather than CFStringGetCString or UTF8String,
// which give nothing at all for a string holding an unpaired surrogate.
std::string utf8(CFStringRef string) {
    const CFIndex length = CFStringGetLength(string);
    if (length <= 0) {
        return {};
    }
    std::vector<UniChar> units(static_cast<std::size_t>(length));
    CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
    return utf16ToUtf8(std::u16string(units.begin(), units.end()));
}

}  // namespace macos
}  // namespace platform
