// There is no scripting service for browsers on Linux: no script can be made.
#include "platform/linux/objects.h"
#include "platform/platform.h"

namespace platform {

Handle createScript(const std::string&) { return Handle(); }

Handle executeScript(const Handle&, Handle& errorInfo) {
    errorInfo = linux_desktop::makeText("scripting is not available");
    return Handle();
}

Handle stringValue(const Handle&) { return Handle(); }

}  // namespace platform
