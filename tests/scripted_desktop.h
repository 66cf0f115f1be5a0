// A scripted desktop: the platform boundary implemented over plain values that
// each test sets up, with a log of every platform call in order and an account
// of every object handed out and released.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace scripted {

// What one attribute read delivers.
struct Value {
    enum class Kind { element, list, text, number };
    Kind kind = Kind::text;
    int window = 0;            // element: the window it stands for
    std::vector<int> windows;  // list: its elements, in order
    std::string text;          // text
    double number = 0;         // number

    static Value element(int window) { return {Kind::element, window, {}, {}, 0}; }
    static Value list(std::vector<int> windows) { return {Kind::list, 0, std::move(windows), {}, 0}; }
    static Value title(std::string text) { return {Kind::text, 0, {}, std::move(text), 0}; }
    static Value num(double number) { return {Kind::number, 0, {}, {}, number}; }
};

// The outcome of one attribute read: a result code and, maybe, a value (a
// failing read may still hand back a value, which the reader then owns).
struct Read {
    int code = platform::axSuccess;
    std::optional<Value> value;
};
inline Read delivers(Value v) { return {platform::axSuccess, std::move(v)}; }
inline Read succeedsEmpty() { return {platform::axSuccess, std::nullopt}; }
inline Read fails(int code = -25205) { return {code, std::nullopt}; }

using Attributes = std::map<std::string, Read, std::less<>>;

struct ScriptOutcome {
    bool created = true;
    bool errorFilled = false;
    bool hasResult = true;
    std::optional<std::string> resultText;  // none: the result has no text value
};

struct Desktop {
    bool trusted = true;
    std::optional<platform::Application> frontmost;
    std::map<int, double> idle;              // by event type; missing: 0
    std::map<int, std::uint32_t> counters;   // by event type; missing: 0
    std::map<std::int32_t, Attributes> applications;  // by process identifier
    std::map<int, Attributes> windows;                 // by window
    std::map<std::string, ScriptOutcome, std::less<>> scripts;  // missing: not created
    std::vector<std::size_t> stdinChunks;    // what availableData returns, in turn; then 0
    // The desktop's own answer to the URL question; none: it asks browsers by
    // script, as macOS does.
    std::optional<std::string> tabUrl;
    // What describeDesktop answers.
    platform::DesktopDescription description;

    // What the collector did.
    std::vector<std::string> calls;
    std::string output;
    std::vector<std::string> writes;
    platform::Trigger activation = nullptr;
    platform::Trigger timer = nullptr;
    double timerInterval = 0;
    platform::ReadabilityHandler readability = nullptr;
    // The (bundle identifier, name) pairs the URL question was put with. Kept
    // apart from `calls`: on a desktop that answers none it costs nothing.
    std::vector<std::pair<std::string, std::string>> tabUrlAsks;

    // Object accounting.
    int handedOut = 0;
    int released = 0;
    int releasedTwice = 0;
};

// The desktop the boundary serves now.
Desktop& desktop();
void reset();
int liveObjects();

// Thrown by exitProcess, so a test can watch the collector end.
struct Exited {
    int status;
};

// Calls in the log that start with `prefix`.
std::vector<std::string> callsStartingWith(std::string_view prefix);

}  // namespace scripted

// Every test on the scripted desktop starts from an empty one and fails if an
// object leaked or was released twice.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { scripted::reset(); }
    void TearDown() override {
        EXPECT_EQ(scripted::liveObjects(), 0) << "platform objects leaked";
        EXPECT_EQ(scripted::desktop().releasedTwice, 0) << "platform objects released twice";
    }
    scripted::Desktop& d() { return scripted::desktop(); }
};
