#include "core/collector.h"
#include "probes/probes.h"
#include "tests/scripted_desktop.h"

namespace {

using namespace platform::eventType;
using scripted::delivers;
using scripted::Value;

class Collector : public DesktopTest {
protected:
    void SetUp() override {
        DesktopTest::SetUp();
        browserBundleIds = {browserTable.begin(), browserTable.end()};
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t end; (end = d().output.find('\n', start)) != std::string::npos;
             start = end + 1)
            out.push_back(d().output.substr(start, end - start));
        EXPECT_EQ(start, d().output.size()) << "output ends with a line feed";
        return out;
    }
    static platform::Application app(std::optional<std::string> name,
                                     std::optional<std::string> bundleId, std::int32_t pid) {
        return {std::move(name), std::move(bundleId), pid};
    }
};

const std::vector<std::string> readingsBeforeWorkspace = {
    "secondsSinceLastEventType(1,10)", "secondsSinceLastEventType(1,5)",
    "secondsSinceLastEventType(1,1)",  "secondsSinceLastEventType(1,3)",
    "secondsSinceLastEventType(1,22)", "secondsSinceLastEventType(1,6)",
    "secondsSinceLastEventType(1,7)",  "secondsSinceLastEventType(1,27)",
    "secondsSinceLastEventType(1,25)", "counterForEventType(1,10)",
    "counterForEventType(1,1)",        "counterForEventType(1,3)",
    "counterForEventType(1,25)",       "frontmostApplication",
};

std::vector<std::string> then(std::vector<std::string> first, std::vector<std::string> more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

TEST_F(Collector, StartsUpInOrderAndReportsMissingTrust) {
    d().trusted = false;
    startCollector();
    EXPECT_EQ(refreshInterval, 5.0);
    EXPECT_EQ(browserBundleIds.size(), 7u);
    EXPECT_EQ(d().calls, then({"accessibilityTrusted", "writeStandardOutput", "observeActivations",
                               "scheduleRepeatingTimer(5.000000)", "standardInput",
                               "setReadabilityHandler"},
                              then(readingsBeforeWorkspace, {"writeStandardOutput"})));
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "{\"error\":\"Accessibility permission is not granted; window titles "
                           "cannot be read.\"}",
                           "{\"event\":\"start\",\"process\":\"Unknown\",\"bundle_id\":\"\",\"idle_"
                           "seconds\":0,\"url\":\"\",\"window_title\":\"\",\"keys_total\":0,"
                           "\"clicks_total\":0}"}));
}

TEST_F(Collector, TrustedStartWritesOnlyTheStartRecord) {
    startCollector();
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_TRUE(lines()[0].starts_with("{\"event\":\"start\","));
}

TEST_F(Collector, TriggersSampleWithTheirEventNames) {
    startCollector();
    d().activation();
    d().timer();
    d().timer();
    auto out = lines();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_TRUE(out[1].starts_with("{\"event\":\"focus\","));
    EXPECT_TRUE(out[2].starts_with("{\"event\":\"refresh\","));
    EXPECT_EQ(out[2], out[3]) << "nothing changed, nothing suppressed";
}

TEST_F(Collector, RecordWithEveryFallbackTaken) {
    d().idle = {{keyDown, 12.7},       {mouseMoved, 30},         {leftMouseDown, 99},
                {rightMouseDown, 99},  {scrollWheel, 99},        {leftMouseDragged, 99},
                {rightMouseDragged, 99}, {otherMouseDragged, 99}, {otherMouseDown, 99}};
    d().counters = {{keyDown, 7}, {leftMouseDown, 0xFFFFFFFF}, {rightMouseDown, 0xFFFFFFFF},
                    {otherMouseDown, 2}};
    d().frontmost = app(std::nullopt, std::nullopt, 0);
    emitSample("refresh");
    EXPECT_EQ(d().output,
              "{\"event\":\"refresh\",\"process\":\"Unknown\",\"bundle_id\":\"\",\"idle_seconds\":"
              "12,\"url\":\"\",\"window_title\":\"\",\"keys_total\":7,\"clicks_total\":8589934592}"
              "\n");
    // No title probe for pid 0; the URL probe is asked with the fallbacks.
    EXPECT_EQ(d().calls, then(readingsBeforeWorkspace, {"writeStandardOutput"}));
}

TEST_F(Collector, RecordWithEveryEscape) {
    const std::string nasty = "q\"b\\n\nr\rt\tc\x01 \xc3\xa9\xf0\x9f\x98\x80/";
    const std::string escaped = "q\\\"b\\\\n\\nr\\rt\\tc\\u0001 \xc3\xa9\xf0\x9f\x98\x80/";
    d().frontmost = app(nasty, nasty, 77);
    d().applications[77] = {{"AXFocusedWindow", delivers(Value::element(5))}};
    d().windows[5] = {{"AXTitle", delivers(Value::title(nasty))}};
    emitSample("ev\"ent");
    EXPECT_EQ(d().output, "{\"event\":\"ev\\\"ent\",\"process\":\"" + escaped +
                              "\",\"bundle_id\":\"" + escaped +
                              "\",\"idle_seconds\":0,\"url\":\"\",\"window_title\":\"" + escaped +
                              "\",\"keys_total\":0,\"clicks_total\":0}\n");
}

TEST_F(Collector, BrowserInFrontGivesItsUrl) {
    d().frontmost = app("Google Chrome", "com.google.Chrome", 300);
    d().applications[300] = {{"AXFocusedWindow", delivers(Value::element(9))}};
    d().windows[9] = {{"AXTitle", delivers(Value::title("Docs"))}};
    d().scripts["tell application \"Google Chrome\" to return URL of active tab of front window"] =
        {true, false, true, "https://docs.example/a"};
    emitSample("focus");
    EXPECT_EQ(d().output,
              "{\"event\":\"focus\",\"process\":\"Google Chrome\",\"bundle_id\":\"com.google."
              "Chrome\",\"idle_seconds\":0,\"url\":\"https://docs.example/a\",\"window_title\":"
              "\"Docs\",\"keys_total\":0,\"clicks_total\":0}\n");
    // Title before URL, both after the workspace, the record written last.
    EXPECT_EQ(d().calls, then(readingsBeforeWorkspace,
                              {"createApplicationElement(300)", "copyAttributeValue(app 300,AXFocusedWindow)",
                               "copyAttributeValue(window 9,AXTitle)", "release(window 9)",
                               "release(app 300)",
                               "createScript(tell application \"Google Chrome\" to return URL of "
                               "active tab of front window)",
                               "executeScript", "stringValue", "writeStandardOutput"}));
}

struct PidCase {
    const char* name;
    std::int32_t pid;
    bool titleAsked;
};

class ProcessIdentifier : public Collector, public ::testing::WithParamInterface<PidCase> {};

TEST_P(ProcessIdentifier, AsksForTheTitleOnlyFromPidOne) {
    d().frontmost = app("Safari", "com.apple.Safari", GetParam().pid);
    emitSample("refresh");
    EXPECT_EQ(scripted::callsStartingWith("createApplicationElement").size(),
              GetParam().titleAsked ? 1u : 0u);
    EXPECT_EQ(scripted::callsStartingWith("createScript").size(), 1u) << "the URL is always asked";
}

INSTANTIATE_TEST_SUITE_P(Pids, ProcessIdentifier,
                         ::testing::Values(PidCase{"negative", -1, false}, PidCase{"zero", 0, false},
                                           PidCase{"one", 1, true},
                                           PidCase{"largest", 2147483647, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Collector, NamelessApplicationIsAskedForAsUnknown) {
    d().frontmost = app(std::nullopt, "com.brave.Browser", 0);
    emitSample("refresh");
    EXPECT_EQ(scripted::callsStartingWith("createScript"),
              std::vector<std::string>{"createScript(tell application \"Unknown\" to return URL "
                                       "of active tab of front window)"});
}

TEST_F(Collector, NoFrontmostApplicationReadsOnlyInputActivity) {
    d().idle = {{keyDown, 4},          {mouseMoved, 4},         {leftMouseDown, 4},
                {rightMouseDown, 4},   {scrollWheel, 4},        {leftMouseDragged, 4},
                {rightMouseDragged, 4}, {otherMouseDragged, 4}, {otherMouseDown, 4}};
    d().counters = {{keyDown, 1}};
    emitSample("refresh");
    EXPECT_EQ(d().calls, then(readingsBeforeWorkspace, {"writeStandardOutput"}));
    EXPECT_EQ(d().output,
              "{\"event\":\"refresh\",\"process\":\"Unknown\",\"bundle_id\":\"\",\"idle_seconds\":"
              "4,\"url\":\"\",\"window_title\":\"\",\"keys_total\":1,\"clicks_total\":0}\n");
}

TEST_F(Collector, LargestTotalsAndIdleAreWrittenInFull) {
    d().idle = {{keyDown, 1e300},          {mouseMoved, 1e300},        {leftMouseDown, 1e300},
                {rightMouseDown, 1e300},   {scrollWheel, 1e300},       {leftMouseDragged, 1e300},
                {rightMouseDragged, 1e300}, {otherMouseDragged, 1e300}, {otherMouseDown, 1e300}};
    d().counters = {{keyDown, 0xFFFFFFFF}, {leftMouseDown, 0xFFFFFFFF},
                    {rightMouseDown, 0xFFFFFFFF}, {otherMouseDown, 0xFFFFFFFF}};
    emitSample("refresh");
    EXPECT_NE(d().output.find("\"idle_seconds\":9223372036854775807,"), std::string::npos);
    EXPECT_NE(d().output.find("\"keys_total\":4294967295,\"clicks_total\":12884901885}"),
              std::string::npos);
}

TEST_F(Collector, InputOnStdinIsDroppedAndItsEndExits) {
    startCollector();
    d().stdinChunks = {1, 65536, 3};
    const std::size_t before = d().writes.size();
    for (int i = 0; i < 3; ++i) d().readability(stdinHandle);
    EXPECT_EQ(d().writes.size(), before) << "input never causes a record";
    EXPECT_EQ(d().readability, &stdinWatcher) << "the watcher stays installed";

    try {
        d().readability(stdinHandle);
        FAIL() << "end of input must end the process";
    } catch (const scripted::Exited& exited) {
        EXPECT_EQ(exited.status, 0);
    }
    auto tail = std::vector<std::string>(d().calls.end() - 3, d().calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"availableData", "setReadabilityHandler(none)",
                                              "exitProcess(0)"}));
    EXPECT_EQ(d().writes.size(), before) << "nothing is written on the way out";
}

}  // namespace
