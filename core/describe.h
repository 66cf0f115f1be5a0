// What a host can ask instead of a run: the collector's version, and what
// this desktop can give. Each answer is one line on standard output, after
// which the process ends with status 0.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

// The project's version, as the build names it ("0.1.0").
extern const std::string_view collectorVersion;

// "PalvernCollector <version>", without the line feed.
std::string versionLine();

// The description as one JSON object, without the line feed:
// {"version":"0.1.0","window_system":"x11","members":{"event":true,...}}
// with the sample record's eight members in their order, each true, false,
// "off" or "no-extension".
std::string describeRecord(const platform::DesktopDescription& description);

// Answers `argument` when it is --version or --describe, and ends the
// process; returns having done nothing for any other argument.
void answerArgument(std::string_view argument);
