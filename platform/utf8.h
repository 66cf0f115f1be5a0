// Reading UTF-8 that other programs supplied, which may be ill-formed; shared
// by the output side and the desktops that decode text themselves.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence that starts at text[i] (lead byte
// 0x80 or above), or, when it is ill-formed, minus the length of its maximal
// ill-formed subpart (at least 1).
inline int utf8Sequence(std::string_view text, std::size_t i) {
    auto lead = static_cast<unsigned char>(text[i]);
    int length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return -1;
    }
    for (int k = 1; k < length; ++k) {
        if (i + k >= text.size()) return -k;
        auto byte = static_cast<unsigned char>(text[i + k]);
        bool ok = k == 1 ? (byte >= low && byte <= high) : isContinuation(byte);
        if (!ok) return -k;
    }
    return length;
}

// `text` as well-formed UTF-8 of at most `limit` bytes: each maximal
// ill-formed subpart as U+FFFD, and cut after the last whole character that
// fits. Text that is well-formed and fits comes back unchanged.
inline std::string boundedUtf8(std::string_view text, std::size_t limit) {
    constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const int length = byte < 0x80 ? 1 : utf8Sequence(text, i);
        const std::size_t produced = length > 0 ? static_cast<std::size_t>(length) : replacement.size();
        if (out.size() + produced > limit) break;
        if (length > 0) {
            out.append(text.substr(i, static_cast<std::size_t>(length)));
            i += static_cast<std::size_t>(length);
        } else {
            out.append(replacement);
            i += static_cast<std::size_t>(-length);
        }
    }
    return out;
}

}  // namespace platform
