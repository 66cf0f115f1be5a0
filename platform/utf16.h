// Conversion of text that a platform holds as UTF-16 code units to UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The UTF-8 encoding of `units`, read one scalar at a time: a high surrogate
// followed by a low surrogate is one scalar, and a surrogate that is not part
// of such a pair (a high one without a low one after it, a low one on its own)
// becomes U+FFFD. Never fails; every code unit, NUL included, is converted.
std::string utf16ToUtf8(std::u16string_view units);

}  // namespace platform
