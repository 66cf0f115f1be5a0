// Fuzzes the UTF-16 to UTF-8 conversion with arbitrary code units (the input
// bytes taken two at a time, in the machine's order).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/utf16.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));

    const std::string utf8 = platform::utf16ToUtf8(units);
    const std::optional<std::u32string> scalars = fuzz::decodeUtf8(utf8);
    FUZZ_CHECK(scalars.has_value());

    // Each surrogate pair is its scalar, each other surrogate is U+FFFD, and
    // every other unit is itself.
    std::u32string expected;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            expected += 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            expected += U'\uFFFD';
        } else {
            expected += unit;
        }
    }
    FUZZ_CHECK(*scalars == expected);
    return 0;
}
