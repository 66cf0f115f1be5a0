#include "probes/probes.h"
#include "tests/scripted_desktop.h"

namespace {

using scripted::Attributes;
using scripted::delivers;
using scripted::fails;
using scripted::succeedsEmpty;
using scripted::Value;

constexpr std::int32_t pid = 42;

// Window 1 is the focused window, windows 2 and 3 are listed.
struct TitleCase {
    const char* name;
    Attributes app;
    Attributes window1;
    Attributes window2;
    std::string expected;
    std::vector<std::string> reads;  // attribute reads, in order
};

const Attributes titled(std::string title) { return {{"AXTitle", delivers(Value::title(title))}}; }

std::string repeat(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

const std::string focused = "app 42,AXFocusedWindow";
const std::string windows = "app 42,AXWindows";
const std::string title1 = "window 1,AXTitle";
const std::string title2 = "window 2,AXTitle";

class FocusedWindowTitle : public DesktopTest, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(FocusedWindowTitle, ReadsFocusedWindowThenFirstWindow) {
    const auto& c = GetParam();
    d().applications[pid] = c.app;
    d().windows[1] = c.window1;
    d().windows[2] = c.window2;
    d().windows[3] = titled("third");

    EXPECT_EQ(focusedWindowTitle(pid), c.expected);

    std::vector<std::string> reads;
    for (auto& call : scripted::callsStartingWith("copyAttributeValue("))
        reads.push_back(call.substr(19, call.size() - 20));
    EXPECT_EQ(reads, c.reads);
    ASSERT_FALSE(d().calls.empty());
    EXPECT_EQ(d().calls.front(), "createApplicationElement(42)");
    EXPECT_EQ(d().calls.back(), "release(app 42)") << "the application element goes last";
}

const auto focusedIs1 = std::pair{std::string("AXFocusedWindow"), delivers(Value::element(1))};
const auto listed = std::pair{std::string("AXWindows"), delivers(Value::list({2, 3}))};

INSTANTIATE_TEST_SUITE_P(
    Trees, FocusedWindowTitle,
    ::testing::Values(
        TitleCase{"focusedTitle", {focusedIs1, listed}, titled("Inbox"), titled("other"), "Inbox",
                  {focused, title1}},
        TitleCase{"emptyFocusedTitleIsAnAnswer", {focusedIs1, listed}, titled(""), titled("other"),
                  "", {focused, title1}},
        TitleCase{"titleKeptUnchanged", {focusedIs1}, titled("a \"b\" \\ \n\xc3\xa9"), {},
                  "a \"b\" \\ \n\xc3\xa9", {focused, title1}},
        TitleCase{"focusedTitleFailsFirstWindowAnswers", {focusedIs1, listed},
                  {{"AXTitle", fails()}}, titled("first"), "first",
                  {focused, title1, windows, title2}},
        TitleCase{"focusedTitleSucceedsEmpty", {focusedIs1, listed},
                  {{"AXTitle", succeedsEmpty()}}, titled("first"), "first",
                  {focused, title1, windows, title2}},
        TitleCase{"focusedTitleNotText", {focusedIs1, listed},
                  {{"AXTitle", delivers(Value::num(7))}}, titled("first"), "first",
                  {focused, title1, windows, title2}},
        TitleCase{"focusedTitleFailsButDelivers", {focusedIs1, listed},
                  {{"AXTitle", {-25200, Value::title("stale")}}}, titled("first"), "first",
                  {focused, title1, windows, title2}},
        TitleCase{"focusedIsText", {{"AXFocusedWindow", delivers(Value::title("x"))}, listed}, {},
                  titled("first"), "first", {focused, windows, title2}},
        TitleCase{"focusedIsList", {{"AXFocusedWindow", delivers(Value::list({1}))}, listed},
                  titled("never"), titled("first"), "first", {focused, windows, title2}},
        TitleCase{"focusedSucceedsEmpty", {{"AXFocusedWindow", succeedsEmpty()}, listed}, {},
                  titled("first"), "first", {focused, windows, title2}},
        TitleCase{"everyReadFails", {{"AXFocusedWindow", fails()}, {"AXWindows", fails()}}, {}, {},
                  "", {focused, windows}},
        TitleCase{"firstWindowUntitledLaterTitled", {listed}, {}, {{"AXTitle", fails()}}, "",
                  {focused, windows, title2}},
        TitleCase{"firstWindowTitleNotText", {listed}, {}, {{"AXTitle", delivers(Value::num(1))}},
                  "", {focused, windows, title2}},
        TitleCase{"emptyList", {{"AXWindows", delivers(Value::list({}))}}, {}, {}, "",
                  {focused, windows}},
        TitleCase{"windowsNotAList", {{"AXWindows", delivers(Value::title("x"))}}, {}, {}, "",
                  {focused, windows}},
        TitleCase{"windowsSucceedsEmpty", {{"AXWindows", succeedsEmpty()}}, {}, {}, "",
                  {focused, windows}},
        TitleCase{"windowsFailsButDelivers", {{"AXWindows", {-25201, Value::list({2})}}}, {},
                  titled("never"), "", {focused, windows}},
        // Titles are cut at 64 KiB of UTF-8, after a whole character, from
        // the focused window and the first window alike.
        TitleCase{"titleAtTheBound", {focusedIs1}, titled(std::string(65536, 'x')), {}, std::string(65536, 'x'),
                  {focused, title1}},
        TitleCase{"longTitleCutAtACharactersEnd", {focusedIs1}, titled(repeat("\xc3\xa9", 40000)), {},
                  repeat("\xc3\xa9", 32768), {focused, title1}},
        TitleCase{"longTitleCutBeforeACharacterThatWouldCross", {listed}, {},
                  // append, not "a" + ...: GCC 12 sees a false overlap in the latter at -O3 (-Wrestrict)
                  titled(std::string("a").append(repeat("\xf0\x9f\x98\x80", 20000))),
                  std::string("a").append(repeat("\xf0\x9f\x98\x80", 16383)),
                  {focused, windows, title2}},
        TitleCase{"illFormedBytesCountAsTheirReplacement", {focusedIs1}, titled(std::string(30000, '\xff')), {},
                  repeat("\xef\xbf\xbd", 21845), {focused, title1}}),
    [](const auto& info) { return std::string(info.param.name); });

class AxValue : public DesktopTest {};

TEST_F(AxValue, GivesAValueOnlyWhenTheReadSucceeded) {
    d().windows[1] = {{"ok", delivers(Value::title("t"))},
                      {"none", succeedsEmpty()},
                      {"failed", {-25200, Value::title("t")}}};
    d().applications[1] = {{"AXFocusedWindow", delivers(Value::element(1))}};
    platform::Handle window = axValue(platform::createApplicationElement(1), "AXFocusedWindow");
    ASSERT_TRUE(window);
    EXPECT_TRUE(axValue(window, "ok"));
    EXPECT_FALSE(axValue(window, "none"));
    EXPECT_FALSE(axValue(window, "failed"));
    EXPECT_FALSE(axValue(window, "missing"));
}

}  // namespace
