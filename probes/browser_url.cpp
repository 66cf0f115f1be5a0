// The active tab's URL of a supported browser: the desktop's own answer where
// it has one, else asked for through scripting.
#include "core/collector.h"
#include "probes/probes.h"

using namespace platform;

namespace {

// The name as it may stand between quotation marks in a script: a backslash
// or quotation mark in it would otherwise end the string and let an
// application that claims a browser's identifier choose the script we run.
std::string scriptQuoted(std::string_view name) {
    std::string quoted;
    quoted.reserve(name.size());
    for (char c : name) {
        if (c == '\\' || c == '"') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted;
}

std::string runForText(const std::string& source) {
    Handle script = createScript(source);
    if (!script) return {};
    Handle errorInfo;
    Handle result = executeScript(script, errorInfo);
    if (errorInfo || !result) return {};
    Handle text = stringValue(result);
    if (!text) return {};
    return textValue(text);
}

}  // namespace

std::string browserUrl(std::string_view bundleId, std::string_view appName) {
    if (auto url = frontmostTabUrl(bundleId, appName)) return *url;
    if (!browserBundleIds.contains(bundleId)) return {};
    std::string source;
    if (bundleId == "com.apple.Safari") {
        source = "tell application \"Safari\" to return URL of current tab of front window";
    } else if (bundleId == "org.mozilla.firefox") {
        return {};
    } else {
        source = "tell application \"" + scriptQuoted(appName) +
                 "\" to return URL of active tab of front window";
    }
    return runForText(source);
}
