// Everything the collector tells its host passes through here: one JSON
// object per line on standard output.
#pragma once

#include <string>
#include <string_view>

// The characters between the quotation marks of a JSON string for `text`.
// Ill-formed UTF-8 comes out with U+FFFD for each maximal ill-formed subpart,
// so every line is valid UTF-8 and valid JSON whatever the desktop holds.
std::string jsonEscape(std::string_view text);

// Appends jsonEscape(text) to `out`, without a temporary.
void appendJsonEscaped(std::string& out, std::string_view text);

// Writes `record` and a line feed to standard output in one write.
void emit(std::string record);

// Writes the error record {"error":"<message>"}.
void emitError(std::string_view message);
