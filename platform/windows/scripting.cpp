// Windows browsers are not asked by script: no script can be made.
// (frontmostTabUrl answers for every application, so these are not reached.)
#include "platform/platform.h"
#include "platform/windows/objects.h"

namespace platform {

Handle createScript(const std::string&) { return Handle(); }

Handle executeScript(const Handle&, Handle& errorInfo) {
    errorInfo = windows_desktop::makeText("scripting is not available");
    return Handle();
}

Handle stringValue(const Handle&) { return Handle(); }

}  // namespace platform
