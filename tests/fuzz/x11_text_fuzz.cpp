// Fuzzes the decoders of X11 window-property text: Latin-1 and COMPOUND_TEXT.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/text.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Latin-1: one scalar per byte, of the byte's value.
    const std::string latin1 = x11::latin1ToUtf8(input);
    const std::optional<std::u32string> scalars = fuzz::decodeUtf8(latin1);
    FUZZ_CHECK(scalars.has_value());
    FUZZ_CHECK(scalars->size() == input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        FUZZ_CHECK((*scalars)[i] == static_cast<unsigned char>(input[i]));

    const std::string compound = x11::compoundTextToUtf8(input);
    FUZZ_CHECK(fuzz::isValidUtf8(compound));

    bool escapes = false, c1 = false, high = false;
    for (unsigned char c : input) {
        escapes = escapes || c == 0x1B;
        c1 = c1 || (c >= 0x80 && c < 0xA0);
        high = high || c >= 0x80;
    }
    // Without escape sequences ASCII passes unchanged, and the right half is
    // Latin-1, the set in use until an escape designates another.
    if (!escapes && !high) FUZZ_CHECK(compound == input);
    if (!escapes && !c1) FUZZ_CHECK(compound == latin1);

    // A UTF-8 segment to the end reads as UTF-8 does anywhere else.
    const std::string_view utf8Segment = "\x1B%G";
    if (input.starts_with(utf8Segment) && input.find('\x1B', utf8Segment.size()) == input.npos)
        FUZZ_CHECK(compound == fuzz::wellFormedReading(input.substr(utf8Segment.size())));
    return 0;
}
