#include "output/json_line.h"

#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "platform/utf8.h"

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// True when any of the 8 bytes in `word` needs more than a plain copy: a
// control character, a quotation mark, a backslash or a non-ASCII byte.
bool needsAttention(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    auto hasZeroByte = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    std::uint64_t below0x20 = (word - ones * 0x20) & ~word & highs;
    return (word & highs) || below0x20 || hasZeroByte(word ^ (ones * '"')) ||
           hasZeroByte(word ^ (ones * '\\'));
}

}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // Copy the longest run of bytes that pass unchanged, eight at a time.
        std::size_t run = i;
        while (run + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + run, 8);
            if (needsAttention(word)) break;
            run += 8;
        }
        while (run < size) {
            auto byte = static_cast<unsigned char>(text[run]);
            if (byte < 0x20 || byte == '"' || byte == '\\' || byte >= 0x80) break;
            ++run;
        }
        out.append(text.data() + i, run - i);
        i = run;
        if (i == size) break;

        auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            int length = platform::utf8Sequence(text, i);
            if (length > 0) {
                out.append(text.data() + i, length);
                i += length;
            } else {
                out.append(replacementCharacter);
                i += -length;
            }
            continue;
        }
        switch (byte) {
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF]};
                out.append(escape, sizeof escape);
            }
        }
        ++i;
    }
}

std::string jsonEscape(std::string_view text) {
    std::string out;
    if (text.empty()) return out;
    out.reserve(text.size() + text.size() / 8);
    appendJsonEscaped(out, text);
    return out;
}

void emit(std::string record) {
    record.push_back('\n');
    platform::writeStandardOutput(record);
}

void emitError(std::string_view message) {
    std::string record = "{\"error\":\"";
    appendJsonEscaped(record, message);
    record += "\"}";
    emit(std::move(record));
}
