// Fuzzes the WM_CLASS parser ("instance\0class\0", loosely formed).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/text.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> cls = x11::wmClassClass(input);

    // The class is the second string: after the first NUL, up to the next NUL
    // or the end, and there is none when that is empty.
    const std::size_t first = input.find('\0');
    if (first == std::string_view::npos) {
        FUZZ_CHECK(!cls);
        return 0;
    }
    std::size_t end = first + 1;
    while (end < input.size() && input[end] != '\0') ++end;
    if (end == first + 1) {
        FUZZ_CHECK(!cls);
        return 0;
    }
    FUZZ_CHECK(cls.has_value());
    FUZZ_CHECK(*cls == input.substr(first + 1, end - first - 1));
    FUZZ_CHECK(cls->find('\0') == std::string::npos);
    return 0;
}
