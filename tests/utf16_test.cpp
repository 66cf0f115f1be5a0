#include "platform/utf16.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct Utf16Case {
    const char* name;
    std::u16string units;  // built from code units, so lone surrogates can be written
    std::string utf8;      // the expected bytes
};

void PrintTo(const Utf16Case& c, std::ostream* os) { *os << c.name; }

class Utf16ToUtf8 : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16ToUtf8, EncodesEachScalar) {
    const Utf16Case& c = GetParam();
    EXPECT_EQ(platform::utf16ToUtf8(c.units), c.utf8);
}

using U = std::u16string;
using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf16ToUtf8,
    testing::Values(
        Utf16Case{"Empty", U{}, ""},
        Utf16Case{"Ascii", U{u"https://x.test/a?b=\"c\"\\"}, "https://x.test/a?b=\"c\"\\"},
        Utf16Case{"EmbeddedNul", U{u'a', 0x0000, u'b'}, "a\0b"s},
        Utf16Case{"AsciiUpperEdge", U{0x007F}, "\x7F"},
        Utf16Case{"TwoByteLowerEdge", U{0x0080}, "\xC2\x80"},
        Utf16Case{"TwoByte", U{u'C', u'a', u'f', 0x00E9}, "Caf\xC3\xA9"},
        Utf16Case{"TwoByteUpperEdge", U{0x07FF}, "\xDF\xBF"},
        Utf16Case{"ThreeByteLowerEdge", U{0x0800}, "\xE0\xA0\x80"},
        Utf16Case{"ThreeByteLineSeparator", U{0x2028}, "\xE2\x80\xA8"},
        Utf16Case{"ThreeByteBelowSurrogates", U{0xD7FF}, "\xED\x9F\xBF"},
        Utf16Case{"ThreeByteAboveSurrogates", U{0xE000}, "\xEE\x80\x80"},
        Utf16Case{"ThreeByteUpperEdge", U{0xFFFF}, "\xEF\xBF\xBF"},
        Utf16Case{"PairEmoji", U{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        Utf16Case{"PairLowestScalar", U{0xD800, 0xDC00}, "\xF0\x90\x80\x80"},
        Utf16Case{"PairHighestScalar", U{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        Utf16Case{"PairsBackToBack", U{0xD83D, 0xDE00, 0xD83D, 0xDE01},
                  "\xF0\x9F\x98\x80\xF0\x9F\x98\x81"},
        Utf16Case{"HighAtEnd", U{u'a', 0xD83D}, "a\xEF\xBF\xBD"},
        Utf16Case{"HighAlone", U{0xDBFF}, "\xEF\xBF\xBD"},
        Utf16Case{"HighBeforeNonSurrogate", U{0xD83D, u'x'}, "\xEF\xBF\xBDx"},
        Utf16Case{"HighBeforeNul", U{0xD83D, 0x0000, u'x'}, "\xEF\xBF\xBD\0x"s},
        Utf16Case{"LowAlone", U{u'x', 0xDE00, u'y'}, "x\xEF\xBF\xBDy"},
        Utf16Case{"LowBeforeHigh", U{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        Utf16Case{"HighThenPair", U{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        Utf16Case{"PairThenLow", U{0xD83D, 0xDE00, 0xDE00}, "\xF0\x9F\x98\x80\xEF\xBF\xBD"},
        Utf16Case{"ReplacementCharacterItself", U{0xFFFD}, "\xEF\xBF\xBD"}),
    [](const testing::TestParamInfo<Utf16Case>& info) { return std::string(info.param.name); });

}  // namespace
