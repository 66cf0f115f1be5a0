#include "core/collector.h"

#include <charconv>

#include "output/json_line.h"
#include "probes/probes.h"

double refreshInterval = 0.0;
std::set<std::string, std::less<>> browserBundleIds;
platform::InputHandle stdinHandle;

void startCollector() {
    refreshInterval = 5.0;
    browserBundleIds = {browserTable.begin(), browserTable.end()};
    if (!platform::accessibilityTrusted()) emitError(accessibilityMessage);
    platform::observeActivations(activationTrigger);
    platform::scheduleRepeatingTimer(refreshInterval, refreshTrigger);
    stdinHandle = platform::standardInput();
    platform::setReadabilityHandler(stdinHandle, stdinWatcher);
    emitSample("start");
}

void activationTrigger() { emitSample("focus"); }

void refreshTrigger() { emitSample("refresh"); }

void stdinWatcher(platform::InputHandle input) {
    if (platform::availableData(input) > 0) return;  // input is dropped unread
    platform::setReadabilityHandler(input, nullptr);
    platform::exitProcess(0);
}

namespace {

template <typename Number>
void appendNumber(std::string& out, Number value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void appendString(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += '"';
    appendJsonEscaped(out, value);
    out += '"';
}

}  // namespace

void emitSample(std::string_view event) {
    const std::int64_t idle = idleSeconds();
    const InputCounts counts = inputCounts();
    const std::optional<platform::Application> app = platform::frontmostApplication();

    std::string record;
    record.reserve(256);
    appendString(record, "{\"event\":", event);
    if (!app) {
        record += ",\"process\":\"Unknown\",\"bundle_id\":\"\",\"idle_seconds\":";
        appendNumber(record, idle);
        record += ",\"url\":\"\",\"window_title\":\"\"";
    } else {
        const std::string_view name =
            app->localizedName ? std::string_view(*app->localizedName) : "Unknown";
        const std::string_view bundleId =
            app->bundleIdentifier ? std::string_view(*app->bundleIdentifier) : "";
        const std::string title =
            app->processIdentifier >= 1 ? focusedWindowTitle(app->processIdentifier) : "";
        const std::string url = browserUrl(bundleId, name);
        appendString(record, ",\"process\":", name);
        appendString(record, ",\"bundle_id\":", bundleId);
        record += ",\"idle_seconds\":";
        appendNumber(record, idle);
        appendString(record, ",\"url\":", url);
        appendString(record, ",\"window_title\":", title);
    }
    record += ",\"keys_total\":";
    appendNumber(record, counts.keys);
    record += ",\"clicks_total\":";
    appendNumber(record, counts.clicks);
    record += '}';
    emit(std::move(record));
}
