#include "platform/linux/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/utf8.h"

namespace x11 {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD

void appendUtf8(std::string& out, std::uint32_t c) {
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

// Appends the well-formed UTF-8 sequences of `bytes` as they are, and U+FFFD
// for each maximal ill-formed subpart (iconv lets five-byte forms and values
// above U+10FFFF through, so UTF-8 is checked here).
void appendCheckedUtf8(std::string& out, std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out += bytes[i++];
            continue;
        }
        const int length = platform::utf8Sequence(bytes, i);
        if (length > 0) {
            out.append(bytes.substr(i, static_cast<std::size_t>(length)));
            i += static_cast<std::size_t>(length);
        } else {
            out += replacement;
            i += static_cast<std::size_t>(-length);
        }
    }
}

// A graphic character set that an escape sequence designates.
struct Charset {
    const char* encoding = nullptr;  // iconv name; null: not mappable
    int width = 1;                   // bytes per character
    bool ascii = false;              // GL default: passed through as it is
};

Charset ascii() { return {.encoding = nullptr, .width = 1, .ascii = true}; }

// 96-character sets, designated to GR with ESC - F.
Charset set96(char final) {
    switch (final) {
        case 'A': return {"ISO-8859-1"};
        case 'B': return {"ISO-8859-2"};
        case 'C': return {"ISO-8859-3"};
        case 'D': return {"ISO-8859-4"};
        case 'F': return {"ISO-8859-7"};
        case 'G': return {"ISO-8859-6"};
        case 'H': return {"ISO-8859-8"};
        case 'L': return {"ISO-8859-5"};
        case 'M': return {"ISO-8859-9"};
        case 'T': return {"TIS-620"};
        case 'V': return {"ISO-8859-10"};
        case 'Y': return {"ISO-8859-13"};
        case '_': return {"ISO-8859-14"};
        case 'b': return {"ISO-8859-15"};
        case 'f': return {"ISO-8859-16"};
        default: return {};
    }
}

// 94-character sets, ESC ( F (GL) or ESC ) F (GR).
Charset set94(char final) {
    switch (final) {
        case 'B':
        case 'J': return ascii();  // JIS-Roman differs from ASCII in two glyphs only
        case 'I': return {"JIS_X0201"};
        default: return {};
    }
}

// 94x94 sets, ESC $ ( F (GL) or ESC $ ) F (GR); converted in their EUC form.
Charset set94x94(char final) {
    switch (final) {
        case 'A': return {"EUC-CN", 2};
        case 'B': return {"EUC-JP", 2};
        case 'C': return {"EUC-KR", 2};
        default: return {nullptr, 2};
    }
}

// Converts `bytes` (GR form: high bit set) of `set` to UTF-8; a character that
// does not convert becomes U+FFFD.
void appendConverted(std::string& out, const Charset& set, std::string bytes) {
    const std::size_t width = static_cast<std::size_t>(set.width);
    iconv_t cd = set.encoding ? iconv_open("UTF-8", set.encoding) : reinterpret_cast<iconv_t>(-1);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (std::size_t i = 0; i < bytes.size(); i += width) out += replacement;
        return;
    }
    char* in = bytes.data();
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char buffer[256];
        char* o = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += replacement;
            std::size_t skip = inLeft < width ? inLeft : width;
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
}

// Extended segment encodings, by their lower-case registry-encoding name.
const char* extendedEncoding(std::string_view name) {
    if (name == "iso8859-14") return "ISO-8859-14";
    if (name == "iso8859-15") return "ISO-8859-15";
    if (name == "koi8-r") return "KOI8-R";
    if (name == "big5-0") return "BIG5";
    if (name == "gbk-0") return "GBK";
    return nullptr;
}

}  // namespace

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) appendUtf8(out, c);
    return out;
}

std::string compoundTextToUtf8(std::string_view in) {
    std::string out;
    Charset gl = ascii();
    Charset gr = set96('A');
    std::size_t i = 0;
    const std::size_t n = in.size();
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };

    while (i < n) {
        unsigned char c = byte(i);
        if (c == 0x1B) {  // ESC intermediates... final
            std::size_t j = i + 1;
            while (j < n && byte(j) >= 0x20 && byte(j) <= 0x2F) ++j;
            if (j >= n) break;  // truncated escape: drop it
            std::string_view mid = in.substr(i + 1, j - i - 1);
            char final = in[j];
            i = j + 1;
            if (mid == "(") {
                gl = set94(final);
            } else if (mid == ")") {
                gr = set94(final);
            } else if (mid == "-") {
                gr = set96(final);
            } else if (mid == "$(" || mid == "$") {
                gl = set94x94(final);
            } else if (mid == "$)") {
                gr = set94x94(final);
            } else if (mid == "%" && final == 'G') {  // UTF-8 up to ESC % @
                std::size_t end = in.find("\x1B%@", i);
                if (end == std::string_view::npos) end = n;
                appendCheckedUtf8(out, in.substr(i, end - i));
                i = end == n ? n : end + 3;
            } else if (mid == "%/" && final >= '0' && final <= '4' && i + 2 <= n) {
                // Extended segment: two length bytes, "name" STX, then data.
                std::size_t length = (byte(i) & 0x7F) * 128u + (byte(i + 1) & 0x7F);
                std::size_t start = i + 2;
                std::size_t end = start + length < n ? start + length : n;
                std::string_view segment = in.substr(start, end - start);
                std::size_t stx = segment.find('\x02');
                std::string name;
                for (char ch : segment.substr(0, stx)) {
                    name += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
                }
                std::string data(stx == std::string_view::npos ? std::string_view() : segment.substr(stx + 1));
                if (name == "utf-8") {
                    appendCheckedUtf8(out, data);
                } else if (!data.empty()) {
                    appendConverted(out, Charset{extendedEncoding(name)}, std::move(data));
                }
                i = end;
            }
            // Any other escape sequence is skipped.
            continue;
        }
        if (c == 0x9B) {  // CSI: direction changes carry no characters
            ++i;
            while (i < n && !(byte(i) >= 0x40 && byte(i) <= 0x7E)) ++i;
            ++i;
            continue;
        }
        if (c < 0x21 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            if (c >= 0x80) {
                out += replacement;  // C1 controls are not characters here
            } else {
                out += static_cast<char>(c);  // space, HT, NL and the rest as they are
            }
            ++i;
            continue;
        }
        // A run of graphic bytes in one half, converted in one go.
        const bool right = c >= 0xA0;
        const Charset& set = right ? gr : gl;
        std::size_t j = i;
        while (j < n && (right ? byte(j) >= 0xA0 : (byte(j) >= 0x21 && byte(j) < 0x7F))) ++j;
        std::string_view run = in.substr(i, j - i);
        i = j;
        if (set.ascii) {
            if (right) {
                for (std::size_t k = 0; k < run.size(); ++k) out += replacement;
            } else {
                out.append(run);
            }
            continue;
        }
        std::string high(run);
        for (char& ch : high) ch = static_cast<char>(ch | 0x80);
        appendConverted(out, set, std::move(high));
    }
    return out;
}

std::optional<std::string> wmClassClass(std::string_view bytes) {
    std::size_t nul = bytes.find('\0');
    if (nul == std::string_view::npos) return std::nullopt;
    std::string_view rest = bytes.substr(nul + 1);
    std::string_view cls = rest.substr(0, rest.find('\0'));
    if (cls.empty()) return std::nullopt;
    return std::string(cls);
}

std::optional<std::string> wmClassInstance(std::string_view bytes) {
    std::string_view instance = bytes.substr(0, bytes.find('\0'));
    if (instance.empty()) return std::nullopt;
    return std::string(instance);
}

}  // namespace x11
