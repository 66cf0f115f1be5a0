// What the fuzz targets check their outputs against: a strict UTF-8 decoder
// and a reading of arbitrary bytes as well-formed text, both written plainly
// from the encoding's definition rather than from the code under test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

// Stops the run with a message when `condition` fails; the fuzzer records the
// input as a crash.
#define FUZZ_CHECK(condition)                                                         \
    do {                                                                              \
        if (!(condition)) {                                                           \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,     \
                         #condition);                                                 \
            std::abort();                                                             \
        }                                                                             \
    } while (false)

namespace fuzz {

// How many bytes a sequence with lead byte `lead` has, from its high bits; 0
// for a byte that cannot lead one.
inline std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// The scalar value that the `bytes` encode as one sequence, or none when they
// are not exactly one well-formed sequence (overlong forms, surrogates and
// values above U+10FFFF included).
inline std::optional<char32_t> decodeOne(std::string_view bytes) {
    if (bytes.empty()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || length != bytes.size()) return std::nullopt;
    if (length == 1) return lead;
    char32_t value = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(bytes[k]);
        if ((byte & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (byte & 0x3F);
    }
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF) return std::nullopt;
    if (value >= 0xD800 && value <= 0xDFFF) return std::nullopt;
    return value;
}

// Whether `prefix` (a lead byte and fewer continuation bytes than its
// sequence needs) begins some well-formed sequence: tried by completing it
// with a few continuation bytes that between them reach every boundary.
inline bool beginsASequence(std::string_view prefix) {
    const std::size_t length = sequenceLength(static_cast<unsigned char>(prefix[0]));
    for (unsigned char fill : {0x80, 0x90, 0xA0, 0xBF}) {
        std::string whole(prefix);
        whole.resize(length, static_cast<char>(fill));
        if (decodeOne(whole)) return true;
    }
    return false;
}

// `bytes` with each maximal ill-formed subpart (the longest stretch that
// begins some well-formed sequence, or else a single byte) replaced by U+FFFD.
inline std::string wellFormedReading(std::string_view bytes) {
    std::string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(bytes[i]));
        if (length > 0 && i + length <= bytes.size() && decodeOne(bytes.substr(i, length))) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        std::size_t subpart = 1;
        while (length > 0 && subpart < length && i + subpart < bytes.size() &&
               (static_cast<unsigned char>(bytes[i + subpart]) & 0xC0) == 0x80 &&
               beginsASequence(bytes.substr(i, subpart + 1)))
            ++subpart;
        out.append("\xEF\xBF\xBD");
        i += subpart;
    }
    return out;
}

// The scalar values of `bytes`, or none when they are not well-formed UTF-8.
inline std::optional<std::u32string> decodeUtf8(std::string_view bytes) {
    std::u32string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(bytes[i]));
        if (length == 0 || i + length > bytes.size()) return std::nullopt;
        const auto scalar = decodeOne(bytes.substr(i, length));
        if (!scalar) return std::nullopt;
        out += *scalar;
        i += length;
    }
    return out;
}

inline bool isValidUtf8(std::string_view bytes) { return decodeUtf8(bytes).has_value(); }

}  // namespace fuzz
