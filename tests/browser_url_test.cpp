#include "core/collector.h"
#include "probes/probes.h"
#include "tests/scripted_desktop.h"

namespace {

const std::string safariScript =
    "tell application \"Safari\" to return URL of current tab of front window";

std::string activeTabScript(const std::string& name) {
    return "tell application \"" + name + "\" to return URL of active tab of front window";
}

class BrowserUrl : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        browserBundleIds = {browserTable.begin(), browserTable.end()};
    }
    std::vector<std::string> scriptsBuilt() { return scripted::callsStartingWith("createScript("); }
};

struct ScriptCase {
    const char* name;
    std::string bundleId;
    std::string appName;
    std::string script;  // empty: nothing is asked
};

class BrowserScript : public BrowserUrl, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(BrowserScript, AsksOnlySupportedBrowsersWithTheirScript) {
    const auto& c = GetParam();
    if (!c.script.empty()) d().scripts[c.script] = {true, false, true, "https://example.org/"};
    std::string url = browserUrl(c.bundleId, c.appName);
    if (!c.script.empty()) {
        EXPECT_EQ(url, "https://example.org/");
        EXPECT_EQ(scriptsBuilt(), std::vector<std::string>{"createScript(" + c.script + ")"});
    } else {
        EXPECT_EQ(url, "");
        EXPECT_TRUE(d().calls.empty()) << "a non-member costs no platform call";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrowserScript,
    ::testing::Values(
        ScriptCase{"safari", "com.apple.Safari", "Safari", safariScript},
        ScriptCase{"safariAnyName", "com.apple.Safari", "Sa\"fari", safariScript},
        ScriptCase{"safariEmptyName", "com.apple.Safari", "", safariScript},
        ScriptCase{"chrome", "com.google.Chrome", "Google Chrome", activeTabScript("Google Chrome")},
        ScriptCase{"chromeBeta", "com.google.Chrome.beta", "Chrome Beta",
                   activeTabScript("Chrome Beta")},
        ScriptCase{"brave", "com.brave.Browser", "Brave Browser", activeTabScript("Brave Browser")},
        ScriptCase{"edge", "com.microsoft.edgemac", "Microsoft Edge",
                   activeTabScript("Microsoft Edge")},
        ScriptCase{"arc", "company.thebrowser.Browser", "Arc", activeTabScript("Arc")},
        ScriptCase{"emptyName", "com.google.Chrome", "", activeTabScript("")},
        ScriptCase{"unknownName", "com.brave.Browser", "Unknown", activeTabScript("Unknown")},
        ScriptCase{"nameUntrimmed", "com.brave.Browser", " Brave ", activeTabScript(" Brave ")},
        // A name cannot end the quoted string and append script of its own.
        ScriptCase{"quoteEscaped", "com.google.Chrome", "x\" to quit",
                   activeTabScript("x\\\" to quit")},
        ScriptCase{"backslashEscapedFirst", "com.google.Chrome", "a\\\"b",
                   activeTabScript("a\\\\\\\"b")},
        ScriptCase{"firefox", "org.mozilla.firefox", "Firefox", ""},
        ScriptCase{"firefoxAnyName", "org.mozilla.firefox", "Google Chrome", ""},
        ScriptCase{"caseDiffers", "com.apple.safari", "Safari", ""},
        ScriptCase{"trailingSpace", "com.apple.Safari ", "Safari", ""},
        ScriptCase{"emptyBundleId", "", "Safari", ""},
        ScriptCase{"prefixOfMembers", "com.google", "Google", ""},
        ScriptCase{"notABrowser", "org.gnu.emacs", "Emacs", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct OutcomeCase {
    const char* name;
    bool created, errorFilled, hasResult;
    const char* resultText;  // null: the result has no text value
    std::string expected;
};

class ScriptOutcome : public BrowserUrl, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(ScriptOutcome, GivesTheResultTextOnlyWhenTheRunSucceeded) {
    const auto& c = GetParam();
    d().scripts[safariScript] = {c.created, c.errorFilled, c.hasResult,
                                 c.resultText ? std::optional<std::string>(c.resultText)
                                              : std::nullopt};
    EXPECT_EQ(browserUrl("com.apple.Safari", "Safari"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ScriptOutcome,
    ::testing::Values(
        OutcomeCase{"url", true, false, true, "https://a.example/x?y=\"z\"",
                    "https://a.example/x?y=\"z\""},
        OutcomeCase{"notAUrlUnchanged", true, false, true, " missing value ", " missing value "},
        OutcomeCase{"emptyText", true, false, true, "", ""},
        OutcomeCase{"notCreated", false, false, true, "https://x/", ""},
        OutcomeCase{"errorWithResult", true, true, true, "https://x/", ""},
        OutcomeCase{"errorWithoutResult", true, true, false, nullptr, ""},
        OutcomeCase{"noResult", true, false, false, nullptr, ""},
        OutcomeCase{"resultWithoutText", true, false, true, nullptr, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A desktop that answers without a script: its answer is the URL, whatever the
// table says, and no script is made.
struct DesktopAnswerCase {
    const char* name;
    std::string bundleId;
    std::string answer;
};

class DesktopAnswer : public BrowserUrl, public ::testing::WithParamInterface<DesktopAnswerCase> {};

TEST_P(DesktopAnswer, IsTheUrlAndNoScriptRuns) {
    const auto& c = GetParam();
    d().tabUrl = c.answer;
    d().scripts[safariScript] = {true, false, true, "https://from-a-script/"};
    EXPECT_EQ(browserUrl(c.bundleId, "Name"), c.answer);
    EXPECT_TRUE(d().calls.empty());
    using Ask = std::pair<std::string, std::string>;
    EXPECT_EQ(d().tabUrlAsks, std::vector<Ask>{Ask(c.bundleId, "Name")});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DesktopAnswer,
    ::testing::Values(DesktopAnswerCase{"tableMember", "com.apple.Safari", "https://a.example/"},
                      DesktopAnswerCase{"notAMember", "firefox-esr", "file:///tmp/a.html"},
                      DesktopAnswerCase{"emptyStopsTheScript", "com.apple.Safari", ""},
                      DesktopAnswerCase{"emptyBundleId", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowserUrl, WithoutADesktopAnswerTheScriptIsAsked) {
    d().scripts[safariScript] = {true, false, true, "https://from-a-script/"};
    EXPECT_EQ(browserUrl("com.apple.Safari", "Safari"), "https://from-a-script/");
    EXPECT_EQ(d().tabUrlAsks.size(), 1u);
}

TEST_F(BrowserUrl, ErrorSlotIsNotReadForAResult) {
    d().scripts[safariScript] = {true, true, true, "https://x/"};
    browserUrl("com.apple.Safari", "Safari");
    EXPECT_TRUE(scripted::callsStartingWith("stringValue").empty());
}

}  // namespace
