#include "core/describe.h"

#include <utility>

#include "output/json_line.h"

const std::string_view collectorVersion = PALVERN_VERSION;

namespace {

std::string_view availabilityValue(platform::Availability availability) {
    switch (availability) {
        case platform::Availability::given: return "true";
        case platform::Availability::never: return "false";
        case platform::Availability::off: return "\"off\"";
        case platform::Availability::noExtension: return "\"no-extension\"";
    }
    return "false";
}

}  // namespace

std::string versionLine() { return "PalvernCollector " + std::string(collectorVersion); }

std::string describeRecord(const platform::DesktopDescription& description) {
    const std::pair<std::string_view, platform::Availability> members[] = {
        {"event", platform::Availability::given},
        {"process", description.process},
        {"bundle_id", description.bundleId},
        {"idle_seconds", description.idleSeconds},
        {"url", description.url},
        {"window_title", description.windowTitle},
        {"keys_total", description.keysTotal},
        {"clicks_total", description.clicksTotal},
    };
    std::string record = "{\"version\":\"";
    appendJsonEscaped(record, collectorVersion);
    record += "\",\"window_system\":\"";
    appendJsonEscaped(record, description.windowSystem);
    record += "\",\"members\":{";
    for (const auto& [name, availability] : members) {
        if (record.back() != '{') record += ',';
        record += '"';
        record += name;
        record += "\":";
        record += availabilityValue(availability);
    }
    record += "}}";
    return record;
}

void answerArgument(std::string_view argument) {
    if (argument == "--version") {
        emit(versionLine());
    } else if (argument == "--describe") {
        emit(describeRecord(platform::describeDesktop()));
    } else {
        return;
    }
    platform::exitProcess(0);
}
