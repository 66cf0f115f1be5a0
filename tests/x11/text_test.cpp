// Window property text as X clients write it, turned into UTF-8.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "platform/linux/text.h"

namespace {

struct Case {
    const char* what;
    std::string in;
    std::string out;
};

class CompoundText : public testing::TestWithParam<Case> {};

TEST_P(CompoundText, DecodesToUtf8) { EXPECT_EQ(x11::compoundTextToUtf8(GetParam().in), GetParam().out); }

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, CompoundText,
    testing::Values(
        Case{"ascii", "plain text", "plain text"},
        Case{"Latin-1 right half by default", "caf\xE9", "café"},
        Case{"Cyrillic set", "\x1B-L\xBF\xE0\xD8", "При"},
        Case{"JIS X 0208 in GL, then ASCII", "\x1B$(BF|K\\\x1B(B!", "日本!"},
        Case{"JIS X 0208 in GR", "\x1B$)B\xC6\xFC", "日"},
        Case{"Latin-1 comes back with its escape", "\x1B-F\xC5\x1B-A\xE9", "Εé"},
        Case{"UTF-8 segment", "a\x1B%G\xE2\x82\xAC\x1B%@b", "a€b"},
        Case{"ill-formed UTF-8 segment", "\x1B%G}\xA9\xE2\x82\xAC\xE2\x82\x1B%@", "}\uFFFD€\uFFFD"},
        Case{"extended UTF-8 segment beyond U+10FFFF", "\x1B%/1\x80\x8Autf-8\x02\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        Case{"extended segment", "\x1B%/1\x80\x89koi8-r\x02\xD0\xD2", "пр"},
        Case{"unknown 94x94 set: one U+FFFD a character", "\x1B$(Z!!\"\"\x1B(Bx", "\uFFFD\uFFFDx"},
        Case{"unmappable pair", "\x1B$(B\x7E\x7E", "\uFFFD"},
        Case{"half a character at the end", "\x1B$(BF|K", "日\uFFFD"},
        Case{"truncated escape", "abc\x1B$(", "abc"},
        Case{"C1 controls", "a\x85z", "a\uFFFDz"},
        Case{"direction changes carry no text", "\x9B" "1]ab\x9B]", "ab"},
        Case{"newline and tab kept", "a\nb\tc", "a\nb\tc"},
        Case{"NUL kept", "a\0b"s, "a\0b"s}),
    [](const testing::TestParamInfo<Case>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST(Latin1, EveryByteIsItsCodePoint) {
    EXPECT_EQ(x11::latin1ToUtf8("A\xE9\xFF\x80"), "Aé\u00FF\u0080");
}

TEST(WmClass, TakesTheSecondStringDefensively) {
    EXPECT_EQ(x11::wmClassClass("xterm\0XTerm\0"s), "XTerm");
    EXPECT_EQ(x11::wmClassClass("xterm\0XTerm"s), "XTerm");           // no final NUL
    EXPECT_EQ(x11::wmClassClass("i\0Cls\0extra\0more"s), "Cls");       // extra strings
    EXPECT_EQ(x11::wmClassClass("lonely"), std::nullopt);               // no NUL at all
    EXPECT_EQ(x11::wmClassClass("i\0\0"s), std::nullopt);               // empty class
    EXPECT_EQ(x11::wmClassClass(""), std::nullopt);
}

TEST(WmClass, TakesTheFirstStringAsTheInstance) {
    EXPECT_EQ(x11::wmClassInstance("xterm\0XTerm\0"s), "xterm");
    EXPECT_EQ(x11::wmClassInstance("i\0Cls\0extra\0more"s), "i");
    EXPECT_EQ(x11::wmClassInstance("lonely"), "lonely");                 // no NUL at all
    EXPECT_EQ(x11::wmClassInstance("\0Cls\0"s), std::nullopt);          // empty instance
    EXPECT_EQ(x11::wmClassInstance(""), std::nullopt);
}

}  // namespace
