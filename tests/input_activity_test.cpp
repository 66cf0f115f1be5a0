#include <cmath>
#include <limits>

#include "probes/probes.h"
#include "tests/scripted_desktop.h"

namespace {

using namespace platform::eventType;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double tiny = std::numeric_limits<double>::denorm_min();

struct IdleCase {
    const char* name;
    // key, moved, left, right, scroll, left dragged, right dragged, other
    // dragged, other down
    std::array<double, 9> readings;
    std::int64_t expected;
};

class IdleSeconds : public DesktopTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(IdleSeconds, TakesTheSmallestReadingInWholeSeconds) {
    const auto& r = GetParam().readings;
    d().idle = {{keyDown, r[0]},          {mouseMoved, r[1]},        {leftMouseDown, r[2]},
                {rightMouseDown, r[3]},   {scrollWheel, r[4]},       {leftMouseDragged, r[5]},
                {rightMouseDragged, r[6]}, {otherMouseDragged, r[7]}, {otherMouseDown, r[8]}};
    EXPECT_EQ(idleSeconds(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, IdleSeconds,
    ::testing::Values(
        IdleCase{"smallestTruncated", {30.2, 4.9, 100.0, 7.0, 3.5, 50, 50, 50, 50}, 3},
        IdleCase{"underOneSecond", {0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4}, 0},
        IdleCase{"fractionDropped", {59.999, 60, 61, 62, 63, 64, 65, 66, 67}, 59},
        IdleCase{"firstNotANumber", {nan, 1, 2, 3, 4, 5, 6, 7, 8}, 0},
        IdleCase{"laterNotANumberPassedOver", {10.5, nan, 20, 30, 40, nan, nan, nan, nan}, 10},
        IdleCase{"negativeAnywhere", {10, 20, -1, 30, 40, 50, 60, 70, 80}, 0},
        IdleCase{"negativeZero", {-0.0, 20, 30, 40, 50, 60, 70, 80, 90}, 0},
        IdleCase{"allInfinite", {inf, inf, inf, inf, inf, inf, inf, inf, inf}, 0},
        IdleCase{"oneFinite", {inf, inf, inf, 7.9, inf, inf, inf, inf, inf}, 7},
        // A long drag: the pointer stopped moving freely long ago, and the
        // buttons were pressed long ago, but the drag is still going.
        IdleCase{"leftDragSmallest", {300, 300, 300, 300, 300, 2.5, 300, 300, 300}, 2},
        IdleCase{"rightDragSmallest", {300, 300, 300, 300, 300, 300, 1.2, 300, 300}, 1},
        IdleCase{"otherDragSmallest", {300, 300, 300, 300, 300, 300, 300, 4.7, 300}, 4},
        IdleCase{"middleClickSmallest", {300, 300, 300, 300, 300, 300, 300, 300, 6.1}, 6},
        IdleCase{"lastReadingNegative", {10, 20, 30, 40, 50, 60, 70, 80, -5}, 0},
        IdleCase{"subnormal", {tiny, 5, 5, 5, 5, 5, 5, 5, 5}, 0},
        IdleCase{"justBelow2To63",
                 {9223372036854774784.0, inf, inf, inf, inf, inf, inf, inf, inf},
                 9223372036854774784},
        IdleCase{"2To63AndBeyond",
                 {9223372036854775808.0, 1e300, inf, inf, inf, inf, inf, inf, inf},
                 std::numeric_limits<std::int64_t>::max()}),
    [](const auto& info) { return std::string(info.param.name); });

class InputActivity : public DesktopTest {};

TEST_F(InputActivity, ReadsTheNineIdleTypesInOrderBeforeComparing) {
    idleSeconds();
    EXPECT_EQ(d().calls, (std::vector<std::string>{
                             "secondsSinceLastEventType(1,10)", "secondsSinceLastEventType(1,5)",
                             "secondsSinceLastEventType(1,1)", "secondsSinceLastEventType(1,3)",
                             "secondsSinceLastEventType(1,22)", "secondsSinceLastEventType(1,6)",
                             "secondsSinceLastEventType(1,7)", "secondsSinceLastEventType(1,27)",
                             "secondsSinceLastEventType(1,25)"}));
}

struct CountCase {
    const char* name;
    std::uint32_t keys, left, right, other;
    std::uint64_t expectedKeys, expectedClicks;
};

class InputCountsCase : public DesktopTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(InputCountsCase, SumsTheButtonCounters) {
    const auto& c = GetParam();
    d().counters = {{keyDown, c.keys}, {leftMouseDown, c.left}, {rightMouseDown, c.right},
                    {otherMouseDown, c.other}, {mouseMoved, 1000}, {scrollWheel, 1000}};
    InputCounts counts = inputCounts();
    EXPECT_EQ(counts.keys, c.expectedKeys);
    EXPECT_EQ(counts.clicks, c.expectedClicks);
    // Reading resets nothing: the same counters give the same pair.
    InputCounts again = inputCounts();
    EXPECT_EQ(again.keys, counts.keys);
    EXPECT_EQ(again.clicks, counts.clicks);
}

constexpr std::uint32_t max32 = 0xFFFFFFFFu;

INSTANTIATE_TEST_SUITE_P(
    Counters, InputCountsCase,
    ::testing::Values(CountCase{"zero", 0, 0, 0, 0, 0, 0},
                      CountCase{"otherButtonsCount", 12, 5, 2, 1, 12, 8},
                      CountCase{"widenedWithoutWrapping", max32, max32, max32, max32, max32,
                                3ull * max32}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InputActivity, ReadsKeyLeftRightOtherInOrder) {
    inputCounts();
    EXPECT_EQ(d().calls,
              (std::vector<std::string>{"counterForEventType(1,10)", "counterForEventType(1,1)",
                                        "counterForEventType(1,3)", "counterForEventType(1,25)"}));
}

}  // namespace
