#include <string>

#include "core/collector.h"
#include "output/json_line.h"
#include "tests/scripted_desktop.h"

namespace {

struct EscapeCase {
    const char* name;
    std::string in;
    std::string out;
};

class JsonEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscape, GivesTheStringContent) {
    EXPECT_EQ(jsonEscape(GetParam().in), GetParam().out);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    WellFormed, JsonEscape,
    ::testing::Values(
        EscapeCase{"empty", "", ""},
        EscapeCase{"plain", "Terminal - bash", "Terminal - bash"},
        EscapeCase{"controls", "\x00\x01\x08\x0b\x0c\x1f"s,
                   "\\u0000\\u0001\\u0008\\u000b\\u000c\\u001f"},
        EscapeCase{"nulDoesNotEndText", "a\0b"s, "a\\u0000b"},
        EscapeCase{"shortEscapes", "\t\n\r", "\\t\\n\\r"},
        EscapeCase{"crlf", "\r\n", "\\r\\n"},
        EscapeCase{"quoteBackslash", "\"\\", "\\\"\\\\"},
        EscapeCase{"escapeInLowerHex", "\x1b[0m", "\\u001b[0m"},
        EscapeCase{"boundary", "\x1f\x20", "\\u001f "},
        EscapeCase{"deleteAndSolidus", "\x7f/", "\x7f/"},
        EscapeCase{"nonAscii", "\xc3\xa9\xe2\x80\xa8\xe2\x80\xa9\xf0\x9f\x98\x80",
                   "\xc3\xa9\xe2\x80\xa8\xe2\x80\xa9\xf0\x9f\x98\x80"},
        EscapeCase{"largestScalars", "\xef\xbf\xbf\xf4\x8f\xbf\xbf", "\xef\xbf\xbf\xf4\x8f\xbf\xbf"},
        // Escapes found past the first eight bytes, where runs are copied whole.
        EscapeCase{"escapeAfterLongRun", "abcdefghijklmnop\"q", "abcdefghijklmnop\\\"q"},
        EscapeCase{"multibyteAfterLongRun", "abcdefgh\xc3\xa9", "abcdefgh\xc3\xa9"}),
    [](const auto& info) { return std::string(info.param.name); });

// Ill-formed UTF-8: one U+FFFD for each maximal ill-formed subpart.
const std::string fffd = "\xef\xbf\xbd";

INSTANTIATE_TEST_SUITE_P(
    IllFormed, JsonEscape,
    ::testing::Values(
        EscapeCase{"loneContinuation", "a\x80z", "a" + fffd + "z"},
        EscapeCase{"overlongLead", "\xc0\xaf", fffd + fffd},
        EscapeCase{"overlongThreeByte", "\xe0\x80\xaf", fffd + fffd + fffd},
        EscapeCase{"surrogateEncoded", "\xed\xa0\x80", fffd + fffd + fffd},
        EscapeCase{"truncatedFourByteBeforeSpace", "\xf0\x9f ", fffd + " "},
        EscapeCase{"truncatedAtEnd", "ab\xe2\x82", "ab" + fffd},
        EscapeCase{"beyondUnicode", "\xf4\x90\x80\x80", fffd + fffd + fffd + fffd},
        EscapeCase{"invalidLeads", "\xf5\xfe\xff", fffd + fffd + fffd},
        EscapeCase{"leadThenQuote", "\xc3\"", fffd + "\\\""},
        EscapeCase{"leadThenNewline", "\xe2\x82\n", fffd + "\\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonEscapeLong, MixedTextOfEveryLengthMatchesBytewiseEscaping) {
    // Every split of a run that mixes plain bytes with escapes and UTF-8, so
    // that each escape falls at each position of an eight-byte block.
    const std::string unit = "ab\"c\xc3\xa9" "d\\e\x01" "fghij\xf0\x9f\x98\x80";
    const std::string expected = "ab\\\"c\xc3\xa9" "d\\\\e\\u0001" "fghij\xf0\x9f\x98\x80";
    for (std::size_t prefix = 0; prefix < 9; ++prefix) {
        std::string in(prefix, 'x');
        std::string out(prefix, 'x');
        for (int i = 0; i < 5; ++i) {
            in += unit;
            out += expected;
        }
        EXPECT_EQ(jsonEscape(in), out) << "prefix " << prefix;
    }
}

class Emit : public DesktopTest {};

TEST_F(Emit, WritesTheLineAndItsLineFeedInOneWrite) {
    emit("{\"a\":1}");
    ASSERT_EQ(d().writes.size(), 1u);
    EXPECT_EQ(d().writes[0], "{\"a\":1}\n");
}

TEST_F(Emit, ErrorRecordForTheAccessibilityMessageIs83Bytes) {
    emitError(accessibilityMessage);
    ASSERT_EQ(d().writes.size(), 1u);
    EXPECT_EQ(d().writes[0],
              "{\"error\":\"Accessibility permission is not granted; window titles cannot be "
              "read.\"}\n");
    EXPECT_EQ(d().writes[0].size(), 83u);
}

TEST_F(Emit, ErrorRecordWithALineFeedStaysOneLine) {
    emitError("two\nlines \"quoted\"");
    EXPECT_EQ(d().output, "{\"error\":\"two\\nlines \\\"quoted\\\"\"}\n");
}

}  // namespace
