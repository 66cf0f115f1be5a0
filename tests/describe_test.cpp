// --version and --describe on the scripted desktop: each is one exact line
// and the end of the process, with nothing else asked of the desktop; any
// other argument does nothing at all, so the run starts as without one.
#include <regex>

#include "core/describe.h"
#include "tests/scripted_desktop.h"

namespace {

using platform::Availability;
using platform::DesktopDescription;

class Arguments : public DesktopTest {
protected:
    // The exit status, or none when answerArgument returned.
    std::optional<int> answer(std::string_view argument) {
        try {
            answerArgument(argument);
        } catch (const scripted::Exited& exited) {
            return exited.status;
        }
        return std::nullopt;
    }
    static std::string withVersion(const std::string& line) {
        return std::regex_replace(line, std::regex("VERSION"), std::string(collectorVersion));
    }
};

TEST_F(Arguments, VersionIsOneLineThenTheEnd) {
    EXPECT_EQ(answer("--version"), 0);
    EXPECT_EQ(d().output, withVersion("PalvernCollector VERSION\n"));
    EXPECT_EQ(d().writes.size(), 1u);
    EXPECT_EQ(d().calls, (std::vector<std::string>{"writeStandardOutput", "exitProcess(0)"}));
    EXPECT_TRUE(std::regex_match(std::string(collectorVersion), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
}

TEST_F(Arguments, DescribeWritesTheDesktopsAnswerAsOneRecord) {
    constexpr auto given = Availability::given;
    constexpr auto never = Availability::never;
    constexpr auto off = Availability::off;
    constexpr auto noExtension = Availability::noExtension;
    const struct {
        const char* name;
        DesktopDescription description;
        const char* line;
    } cases[] = {
        {"no window system", {},
         R"({"version":"VERSION","window_system":"none","members":{"event":true,"process":false,)"
         R"("bundle_id":false,"idle_seconds":false,"url":false,"window_title":false,"keys_total":false,)"
         R"("clicks_total":false}})"},
        {"X11, accessibility off", {"x11", given, given, given, off, given, given, given},
         R"({"version":"VERSION","window_system":"x11","members":{"event":true,"process":true,)"
         R"("bundle_id":true,"idle_seconds":true,"url":"off","window_title":true,"keys_total":true,)"
         R"("clicks_total":true}})"},
        {"wlroots", {"wlroots", given, given, given, given, given, never, never},
         R"({"version":"VERSION","window_system":"wlroots","members":{"event":true,"process":true,)"
         R"("bundle_id":true,"idle_seconds":true,"url":true,"window_title":true,"keys_total":false,)"
         R"("clicks_total":false}})"},
        {"GNOME without its extension",
         {"gnome", noExtension, noExtension, given, noExtension, noExtension, never, never},
         R"({"version":"VERSION","window_system":"gnome","members":{"event":true,"process":"no-extension",)"
         R"("bundle_id":"no-extension","idle_seconds":true,"url":"no-extension","window_title":"no-extension",)"
         R"("keys_total":false,"clicks_total":false}})"},
        {"each member on its own", {"macos", never, given, never, never, off, never, given},
         R"({"version":"VERSION","window_system":"macos","members":{"event":true,"process":false,)"
         R"("bundle_id":true,"idle_seconds":false,"url":false,"window_title":"off","keys_total":false,)"
         R"("clicks_total":true}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scripted::reset();
        d().description = c.description;
        EXPECT_EQ(answer("--describe"), 0);
        EXPECT_EQ(d().output, withVersion(c.line) + "\n");
        EXPECT_EQ(d().calls,
                  (std::vector<std::string>{"describeDesktop", "writeStandardOutput", "exitProcess(0)"}));
    }
}

TEST_F(Arguments, AnyOtherArgumentDoesNothing) {
    for (const char* argument : {"", "-", "--", "--help", "-v", "version", "--Version", "--version=1",
                                 "--describe ", " --describe", "--describe\n", "--descri"}) {
        SCOPED_TRACE(argument);
        EXPECT_EQ(answer(argument), std::nullopt);
        EXPECT_TRUE(d().calls.empty());
        EXPECT_EQ(d().output, "");
    }
}

}  // namespace
