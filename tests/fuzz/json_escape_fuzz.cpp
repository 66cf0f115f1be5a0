// Fuzzes the JSON string escaper with arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output/json_line.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_check.h"

// The escaper never writes; the line writer next to it is not fuzzed here.
void platform::writeStandardOutput(std::string_view) { std::abort(); }

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// What a JSON parser reads from the characters between a string's quotation
// marks, or none when they are not a valid JSON string body (a raw control
// character or quotation mark, a bad escape, or an escaped surrogate, which
// the escaper never has a reason to write).
std::optional<std::string> parseStringBody(std::string_view body) {
    std::string out;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const auto c = static_cast<unsigned char>(body[i]);
        if (c < 0x20 || c == '"') return std::nullopt;
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        if (++i == body.size()) return std::nullopt;
        switch (body[i]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (i + 4 >= body.size()) return std::nullopt;
                char32_t code = 0;
                for (std::size_t k = 1; k <= 4; ++k) {
                    const int digit = hexDigit(body[i + k]);
                    if (digit < 0) return std::nullopt;
                    code = code * 16 + static_cast<char32_t>(digit);
                }
                if (code >= 0xD800 && code <= 0xDFFF) return std::nullopt;
                appendUtf8(out, code);
                i += 4;
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

bool needsNoEscape(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == '"' || c == '\\') return false;
    }
    return fuzz::isValidUtf8(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string escaped = jsonEscape(input);

    FUZZ_CHECK(fuzz::isValidUtf8(escaped));
    for (unsigned char c : escaped) FUZZ_CHECK(c >= 0x20);
    const std::optional<std::string> parsed = parseStringBody(escaped);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(*parsed == fuzz::wellFormedReading(input));
    if (needsNoEscape(input)) FUZZ_CHECK(escaped == input);

    // Appending gives the same characters after whatever is already there.
    std::string record = "{\"title\":\"";
    appendJsonEscaped(record, input);
    FUZZ_CHECK(record.size() == 10 + escaped.size());
    FUZZ_CHECK(std::string_view(record).substr(10) == escaped);
    return 0;
}
