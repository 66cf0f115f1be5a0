// Text that X clients put in window properties, turned into UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace x11 {

// ISO 8859-1 (the STRING property type) as UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

// COMPOUND_TEXT as UTF-8. Characters of sets that cannot be mapped, and
// malformed sequences, become U+FFFD.
std::string compoundTextToUtf8(std::string_view bytes);

// The class part of a WM_CLASS value ("instance\0class\0"), or none. Tolerates
// a missing final NUL and extra strings after the class.
std::optional<std::string> wmClassClass(std::string_view bytes);

// The instance part of a WM_CLASS value, or none when it is empty. Without
// any NUL the whole value is the instance.
std::optional<std::string> wmClassInstance(std::string_view bytes);

}  // namespace x11
