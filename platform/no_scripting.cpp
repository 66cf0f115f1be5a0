// The desktops whose browsers are not asked by script (Linux, Windows): no
// script can be made. Their frontmostTabUrl answers for every application,
// so the collector does not come here.
#include "platform/platform.h"
#include "platform/window_accessibility.h"

namespace platform {

Handle createScript(const std::string&) { return Handle(); }

Handle executeScript(const Handle&, Handle& errorInfo) {
    errorInfo = window_accessibility::makeText("scripting is not available");
    return Handle();
}

Handle stringValue(const Handle&) { return Handle(); }

}  // namespace platform
