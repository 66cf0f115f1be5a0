// The Windows desktop's own choices, on every platform: which facts name an
// application and in which order, which string table of a version resource,
// the tick count's wrap, key and button presses in Raw Input reports, and
// the address-bar lookup over automation trees of the tests' own.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/windows/address_bar.h"
#include "platform/windows/identity.h"
#include "platform/windows/input.h"

namespace {

using namespace windows_desktop;
using U = std::u16string;
using OptView = std::optional<std::u16string_view>;

// Each case's test is named after it.
constexpr auto caseName = [](const auto& info) { return std::string(info.param.name); };

// ---------------------------------------------------------------------------
// Identity.

struct IdentityCase {
    const char* name;
    OptView windowModelId;
    OptView packageModelId;
    OptView path;
    std::optional<U> expected;
};
void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

class BundleIdentifier : public testing::TestWithParam<IdentityCase> {};

TEST_P(BundleIdentifier, TakesTheFirstOfWindowPackagePath) {
    const IdentityCase& c = GetParam();
    EXPECT_EQ(bundleIdentifier(c.windowModelId, c.packageModelId, c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Order, BundleIdentifier,
    testing::Values(
        IdentityCase{"WindowFirst", u"Contoso.Mail", u"Contoso.Mail_8wekyb3d8bbwe!App", u"C:\\m\\mail.exe", U(u"Contoso.Mail")},
        IdentityCase{"PackageWithoutWindowId", std::nullopt, u"Contoso.Mail_8wekyb3d8bbwe!App", u"C:\\m\\mail.exe",
                     U(u"Contoso.Mail_8wekyb3d8bbwe!App")},
        IdentityCase{"EmptyWindowIdSkipped", u"", u"Pkg!App", u"C:\\m\\mail.exe", U(u"Pkg!App")},
        IdentityCase{"PathLast", std::nullopt, std::nullopt, u"C:\\Windows\\notepad.exe", U(u"C:\\Windows\\notepad.exe")},
        IdentityCase{"EmptyIdsSkipped", u"", u"", u"C:\\a.exe", U(u"C:\\a.exe")},
        IdentityCase{"WindowIdWithoutPath", u"Contoso.Mail", std::nullopt, std::nullopt, U(u"Contoso.Mail")},
        IdentityCase{"Nothing", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        IdentityCase{"AllEmpty", u"", u"", u"", std::nullopt}),
    caseName);

struct NameCase {
    const char* name;
    OptView description;
    OptView path;
    std::optional<U> expected;
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class DisplayName : public testing::TestWithParam<NameCase> {};

TEST_P(DisplayName, DescriptionElseFileName) {
    const NameCase& c = GetParam();
    EXPECT_EQ(displayName(c.description, c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayName,
    testing::Values(
        NameCase{"Description", u"Palvern Test Window", u"C:\\t\\test_window.exe", U(u"Palvern Test Window")},
        NameCase{"DescriptionTrimmed", u" \t Notes\u3000\r\n", u"C:\\t\\n.exe", U(u"Notes")},
        NameCase{"InnerSpaceKept", u"A  B", u"C:\\t\\n.exe", U(u"A  B")},
        NameCase{"BlankDescription", u"  ", u"C:\\Windows\\notepad.exe", U(u"notepad")},
        NameCase{"NoDescription", std::nullopt, u"C:\\Windows\\notepad.exe", U(u"notepad")},
        NameCase{"ExeInAnyCase", std::nullopt, u"C:\\Tools\\TOOL.Exe", U(u"TOOL")},
        NameCase{"OtherExtensionKept", std::nullopt, u"C:\\Tools\\app.exe.bak", U(u"app.exe.bak")},
        NameCase{"NoExtension", std::nullopt, u"C:\\Tools\\runner", U(u"runner")},
        NameCase{"OnlyExtension", std::nullopt, u"C:\\Tools\\.exe", U(u".exe")},
        NameCase{"ForwardSlash", std::nullopt, u"Z:/tmp/palvern/a.exe", U(u"a")},
        NameCase{"DescriptionWithoutPath", u"Shell", std::nullopt, U(u"Shell")},
        NameCase{"FolderPath", std::nullopt, u"C:\\Tools\\", std::nullopt},
        NameCase{"Nothing", std::nullopt, std::nullopt, std::nullopt},
        NameCase{"EmptyPath", std::nullopt, u"", std::nullopt}),
    caseName);

struct TableCase {
    const char* name;
    std::vector<Translation> translations;
    std::uint16_t uiLanguage;
    std::vector<U> expected;
};
void PrintTo(const TableCase& c, std::ostream* os) { *os << c.name; }

class StringTables : public testing::TestWithParam<TableCase> {};

TEST_P(StringTables, UserLanguageThenItsPrimaryThenFirst) {
    const TableCase& c = GetParam();
    EXPECT_EQ(stringTables(c.translations, c.uiLanguage), c.expected);
}

constexpr Translation german{0x0407, 1200};
constexpr Translation usEnglish{0x0409, 1200};
constexpr Translation ukEnglish{0x0809, 1200};

INSTANTIATE_TEST_SUITE_P(
    Cases, StringTables,
    testing::Values(
        TableCase{"ExactLanguageBeforeFirst", {german, usEnglish}, 0x0409, {u"040904b0", u"040704b0"}},
        TableCase{"FirstWhenItIsTheLanguage", {german, usEnglish}, 0x0407, {u"040704b0"}},
        TableCase{"PrimaryLanguage", {german, usEnglish}, 0x0c09, {u"040904b0", u"040704b0"}},
        TableCase{"ExactBeforeOtherCountry", {ukEnglish, usEnglish}, 0x0409, {u"040904b0", u"080904b0"}},
        TableCase{"UnknownLanguageTakesFirst", {german, usEnglish}, 0x040c, {u"040704b0"}},
        TableCase{"CodePageInHex", {{0x0409, 1252}}, 0x0409, {u"040904e4"}},
        TableCase{"NeutralLanguage", {{0x0000, 1200}}, 0x0409, {u"000004b0"}},
        TableCase{"SameLanguageTwoCodePages", {{0x0409, 1252}, {0x0409, 1200}}, 0x0409, {u"040904e4", u"040904b0"}},
        TableCase{"NoTable", {}, 0x0407, {u"040904b0", u"040904e4"}}),
    caseName);

// ---------------------------------------------------------------------------
// Input.

TEST(IdleMilliseconds, CountsAcrossTheTickCountsWrap) {
    struct Case {
        const char* name;
        std::uint32_t now, lastInput, expected;
    };
    const Case cases[] = {
        {"plain", 5000, 2000, 3000},
        {"justNow", 7, 7, 0},
        {"acrossTheWrap", 1000, 0xFFFF'FC18u, 2000},
        {"nowAtTheWrap", 0, 0xFFFF'FFFFu, 1},
        {"inputAfterTheReading", 100, 150, 0},
        {"inputAfterTheReadingAcrossTheWrap", 0xFFFF'FFF0u, 5, 0},
        {"longestMeasurable", 0x7FFF'FFFFu, 0, 0x7FFF'FFFFu},
    };
    for (const Case& c : cases) EXPECT_EQ(idleMilliseconds(c.now, c.lastInput), c.expected) << c.name;
}

struct KeyReport {
    std::uint16_t makeCode, flags, virtualKey;
};

int presses(const std::vector<KeyReport>& reports) {
    KeyPresses keys;
    int count = 0;
    for (const KeyReport& r : reports) count += keys.take(r.makeCode, r.flags, r.virtualKey) ? 1 : 0;
    return count;
}

TEST(KeyPresses, CountsDownTransitionsWithoutRepeat) {
    constexpr std::uint16_t a = 0x1E, b = 0x30, ctrl = 0x1D;
    struct Case {
        const char* name;
        std::vector<KeyReport> reports;
        int expected;
    };
    const std::vector<Case> cases = {
        {"press", {{a, 0, 0x41}, {a, keyBreak, 0x41}}, 1},
        {"autoRepeat", {{a, 0, 0x41}, {a, 0, 0x41}, {a, 0, 0x41}, {a, keyBreak, 0x41}}, 1},
        {"pressedAgain", {{a, 0, 0x41}, {a, keyBreak, 0x41}, {a, 0, 0x41}}, 2},
        {"twoKeysHeld", {{a, 0, 0x41}, {b, 0, 0x42}, {a, 0, 0x41}, {b, 0, 0x42}}, 2},
        {"leftAndRightControl", {{ctrl, 0, 0x11}, {ctrl, keyE0, 0x11}, {ctrl, 0, 0x11}}, 2},
        {"upWithoutDown", {{a, keyBreak, 0x41}, {a, 0, 0x41}}, 1},
        {"noScanCodeByVirtualKey", {{0, 0, 0x41}, {0, 0, 0x41}, {0, 0, 0x42}, {0, keyBreak, 0x41}, {0, 0, 0x41}}, 3},
        {"highScanCodeBitsIgnored", {{0x11E, 0, 0x41}, {a, 0, 0x41}}, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(presses(c.reports), c.expected) << c.name;
}

TEST(ButtonPresses, EachDownFlagIsOnePress) {
    struct Case {
        const char* name;
        std::uint16_t flags;
        std::uint32_t left, right, other;
    };
    const Case cases[] = {
        {"left", 0x0001, 1, 0, 0},     {"leftUp", 0x0002, 0, 0, 0},
        {"right", 0x0004, 0, 1, 0},    {"rightUp", 0x0008, 0, 0, 0},
        {"middle", 0x0010, 0, 0, 1},   {"back", 0x0040, 0, 0, 1},
        {"forward", 0x0100, 0, 0, 1},  {"forwardUp", 0x0200, 0, 0, 0},
        {"wheel", 0x0400, 0, 0, 0},    {"horizontalWheel", 0x0800, 0, 0, 0},
        {"moveOnly", 0x0000, 0, 0, 0}, {"leftAndRightAtOnce", 0x0005, 1, 1, 0},
        {"everyButton", 0x0155, 1, 1, 3},
    };
    for (const Case& c : cases) {
        const ButtonPresses p = buttonPresses(c.flags);
        EXPECT_EQ((std::vector<std::uint32_t>{p.left, p.right, p.other}),
                  (std::vector<std::uint32_t>{c.left, c.right, c.other}))
            << c.name;
    }
}

// ---------------------------------------------------------------------------
// The address bar, over a tree of the test's own.

struct Node {
    std::int32_t controlType = 50033;  // a pane
    U automationId;
    std::optional<U> value;
    std::vector<Node> children;
};

Node edit(std::optional<U> value, U automationId = {}) { return {editControlType, std::move(automationId), std::move(value), {}}; }
Node pane(std::vector<Node> children) { return {50033, {}, std::nullopt, std::move(children)}; }

// Searches as UI Automation does below a window: the window's descendants in
// document order, the first that meets the condition.
class FakeTree : public AutomationTree {
public:
    explicit FakeTree(Node window) : window_(std::move(window)) {}

    std::optional<U> firstValue(const AddressBarCondition& condition) override {
        asked.push_back(condition);
        const Node* found = search(window_.children, condition);
        return found ? found->value : std::nullopt;
    }

    std::vector<AddressBarCondition> asked;

private:
    static const Node* search(const std::vector<Node>& nodes, const AddressBarCondition& condition) {
        for (const Node& node : nodes) {
            if (node.controlType == condition.controlType &&
                (!condition.automationId || node.automationId == *condition.automationId)) {
                return &node;
            }
            if (const Node* found = search(node.children, condition)) return found;
        }
        return nullptr;
    }

    Node window_;
};

// A Chromium-family window: the toolbar with the address bar, then a page
// with a text field of its own.
Node chromiumWindow(std::optional<U> address) {
    return pane({pane({pane({}), edit(std::move(address))}), pane({pane({edit(u"typed into the page")})})});
}

// A Firefox window: a search field before the address bar.
Node firefoxWindow(std::optional<U> address) {
    return pane({pane({edit(u"search terms", u"searchbar-input"), edit(std::move(address), u"urlbar-input")}),
                 pane({edit(u"page field")})});
}

struct UrlCase {
    const char* name;
    U executable;
    Node window;
    std::string expected;
    std::size_t searches;
};
void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.name; }

class AddressBarUrl : public testing::TestWithParam<UrlCase> {};

TEST_P(AddressBarUrl, OneSearchForTheBrowsersBar) {
    const UrlCase& c = GetParam();
    FakeTree tree(c.window);
    EXPECT_EQ(addressBarUrl(c.executable, tree), c.expected);
    EXPECT_EQ(tree.asked.size(), c.searches);
    for (const auto& condition : tree.asked) EXPECT_EQ(condition.controlType, editControlType);
}

const U longUrl = u"https://example.org/" + U(longestUrl - 20, u'a');

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressBarUrl,
    testing::Values(
        UrlCase{"Chrome", u"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
                chromiumWindow(u"https://example.org/a?b=1"), "https://example.org/a?b=1", 1},
        UrlCase{"EdgeInCapitals", u"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\MSEDGE.EXE",
                chromiumWindow(u"example.org"), "example.org", 1},
        UrlCase{"Brave", u"C:\\b\\brave.exe", chromiumWindow(u"https://brave.test/"), "https://brave.test/", 1},
        UrlCase{"Vivaldi", u"C:\\v\\Vivaldi.exe", chromiumWindow(u"https://v.test/"), "https://v.test/", 1},
        UrlCase{"Opera", u"C:\\o\\opera.exe", chromiumWindow(u"https://o.test/"), "https://o.test/", 1},
        UrlCase{"FirefoxPastItsSearchField", u"C:\\Program Files\\Mozilla Firefox\\firefox.exe",
                firefoxWindow(u"https://www.mozilla.org/"), "https://www.mozilla.org/", 1},
        UrlCase{"FirefoxWithoutItsBar", u"C:\\f\\firefox.exe", pane({edit(u"https://not-the-bar.test/")}), "", 1},
        UrlCase{"NoEditAtAll", u"C:\\c\\chrome.exe", pane({pane({})}), "", 1},
        UrlCase{"BarWithoutValue", u"C:\\c\\chrome.exe", chromiumWindow(std::nullopt), "", 1},
        UrlCase{"EmptyBar", u"C:\\c\\chrome.exe", chromiumWindow(u""), "", 1},
        UrlCase{"LoneSurrogate", u"C:\\c\\chrome.exe", chromiumWindow(U{u'h', 0xD800, u'/'}), "h\xEF\xBF\xBD/", 1},
        UrlCase{"LongestTaken", u"C:\\c\\chrome.exe", chromiumWindow(longUrl), std::string(longUrl.begin(), longUrl.end()), 1},
        UrlCase{"TooLong", u"C:\\c\\chrome.exe", chromiumWindow(longUrl + u"a"), "", 1},
        UrlCase{"TooLongInUtf8", u"C:\\c\\chrome.exe", chromiumWindow(U(longestUrl / 2 + 1, 0x00E9)), "", 1},
        UrlCase{"NotABrowser", u"C:\\Windows\\notepad.exe", chromiumWindow(u"https://x.test/"), "", 0},
        UrlCase{"BrowserNameInsideAnother", u"C:\\c\\mychrome.exe", chromiumWindow(u"https://x.test/"), "", 0},
        UrlCase{"BrowserNameWithSuffix", u"C:\\c\\chrome.exe.old", chromiumWindow(u"https://x.test/"), "", 0},
        UrlCase{"BrowserFolderOnly", u"C:\\chrome.exe\\tool.exe", chromiumWindow(u"https://x.test/"), "", 0}),
    caseName);

TEST(AddressBarCondition, FirefoxByItsIdChromiumByTheFirstEdit) {
    EXPECT_EQ(addressBarCondition(Browser::chromium), (AddressBarCondition{editControlType, std::nullopt}));
    EXPECT_EQ(addressBarCondition(Browser::firefox), (AddressBarCondition{editControlType, U(u"urlbar-input")}));
}

}  // namespace
