// The tab URL lookup against a stand-in accessibility bus: a thread of this
// process keeps the accessibility switch and the registry on one connection
// and plays a browser on another, on a private bus (the test runs under
// dbus-run-session; the accessibility bus is that same bus). Each test sets
// what the browser answers, including answers of the wrong form, errors and
// silence. Whether the browser's process counts as a browser is up to this
// process's name, which the warm-up tests set.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/tab_url.h"

namespace {

struct Window {
    std::string name;
    bool active = false;
    bool embeds = true;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// What the stand-in answers.
struct Scenario {
    bool enabled = true;
    std::optional<std::string> address;  // GetAddress's answer, when not the bus itself
    std::vector<Window> windows;
    // The browser's members (the switch's keeper and the registry answer
    // well whatever these say)...
    std::set<std::string> wrongForm;  // answered with a plain string
    std::set<std::string> refused;    // answered with an error
    std::set<std::string> silent;     // never answered
    // As Chromium: the browser builds its documents when it is first asked
    // for the relations of any of its objects; that first answer shows none.
    bool lazy = false;
};

constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";

std::string windowPath(std::size_t i) { return "/w" + std::to_string(i); }
std::string documentPath(std::size_t i) { return "/d" + std::to_string(i); }

class StandIn {
public:
    StandIn() {
        thread_ = std::thread([this] { run(); });
        ready_.get_future().wait();
    }
    ~StandIn() {
        stop_ = true;
        thread_.join();
    }

    void set(Scenario scenario) {
        std::lock_guard lock(mutex_);
        scenario_ = std::move(scenario);
    }

    // Runs `command` on the stand-in's thread and waits for it.
    void onThread(std::function<void()> command) {
        std::promise<void> done;
        {
            std::lock_guard lock(mutex_);
            commands_.push_back([&] {
                command();
                done.set_value();
            });
        }
        done.get_future().wait();
    }

    // The browser leaves the bus and comes back under a new name, as a new
    // process with nothing built, and registers: the registry announces it.
    void reconnectBrowser() {
        onThread([this] {
            sd_bus_flush_close_unref(browser_);
            browser_ = open();
            forget();
            const char* name = nullptr;
            sd_bus_get_unique_name(browser_, &name);
            EXPECT_GE(sd_bus_emit_signal(service_, rootPath, "org.a11y.atspi.Event.Object", "ChildrenChanged",
                                         "siiva{sv}", "add", 0, 0, "(so)", name, rootPath, 0),
                      0);
            sd_bus_flush(service_);
        });
    }

    // The browser has built nothing yet, as one that nobody asked before.
    void forget() {
        std::lock_guard lock(mutex_);
        built_ = false;
    }

    // Calls the browser has had.
    int browserCalls() {
        std::lock_guard lock(mutex_);
        return browserCalls_;
    }

    // The switch's keeper announces a change.
    void announceSwitch() {
        onThread([this] {
            sd_bus_emit_signal(service_, "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                               "PropertiesChanged", "sa{sv}as", "org.a11y.Status", 0, 0);
            sd_bus_flush(service_);
        });
    }

    // org.a11y.Bus passes to a connection of its own (as when another program
    // takes the name while the accessibility bus is not running), or back
    // when that connection ends; either way in one change of owner, which
    // the collector answers by connecting once.
    void handOver(bool away) {
        onThread([&] {
            if (away) {
                keeper_ = open();
                EXPECT_GE(sd_bus_request_name(keeper_, "org.a11y.Bus", SD_BUS_NAME_REPLACE_EXISTING), 0);
            } else {
                sd_bus_flush_close_unref(keeper_);
                keeper_ = nullptr;
            }
        });
    }

    // How many calls of `member` came.
    int count(const std::string& member) {
        std::lock_guard lock(mutex_);
        return counts_[member];
    }

    // The connection that last called `member`, as the bus named it.
    std::string caller(const std::string& member) {
        std::lock_guard lock(mutex_);
        return callers_[member];
    }

    // The browser's connection, as the bus names it.
    std::string browserName() {
        std::string name;
        onThread([&] {
            const char* unique = nullptr;
            sd_bus_get_unique_name(browser_, &unique);
            name = unique ? unique : "";
        });
        return name;
    }

    // A signal sent by a connection that is neither the keeper nor the bus
    // straight to `destination`, as any program on the bus can send one.
    void forge(const std::string& destination, const char* path, const char* interface, const char* member,
               const char* types, const std::vector<std::string>& args) {
        onThread([&] {
            sd_bus* forger = open();
            sd_bus_message* signal = nullptr;
            EXPECT_GE(sd_bus_message_new_signal(forger, &signal, path, interface, member), 0);
            EXPECT_GE(sd_bus_message_set_destination(signal, destination.c_str()), 0);
            for (std::size_t i = 0; types[i]; ++i) {
                if (types[i] == 's') {
                    EXPECT_GE(sd_bus_message_append_basic(signal, 's', args.at(i).c_str()), 0);
                } else if (types[i] == 'i') {
                    EXPECT_GE(sd_bus_message_append(signal, "i", std::stoi(args.at(i))), 0);
                } else if (types[i] == 'v') {  // an object of the application args[i]
                    EXPECT_GE(sd_bus_message_append(signal, "v", "(so)", args.at(i).c_str(), rootPath), 0);
                }
            }
            EXPECT_GE(sd_bus_send(forger, signal, nullptr), 0);
            sd_bus_message_unref(signal);
            sd_bus_flush_close_unref(forger);
        });
    }

private:
    sd_bus* open() {
        sd_bus* bus = nullptr;
        EXPECT_GE(sd_bus_open_user(&bus), 0);
        EXPECT_GE(sd_bus_add_filter(bus, nullptr, &StandIn::handle, this), 0);
        return bus;
    }

    void run() {
        service_ = open();
        EXPECT_GE(sd_bus_request_name(service_, "org.a11y.Bus", SD_BUS_NAME_ALLOW_REPLACEMENT | SD_BUS_NAME_QUEUE), 0);
        EXPECT_GE(sd_bus_request_name(service_, "org.a11y.atspi.Registry", 0), 0);
        browser_ = open();
        ready_.set_value();
        while (!stop_) {
            std::vector<std::function<void()>> commands;
            {
                std::lock_guard lock(mutex_);
                commands.swap(commands_);
            }
            for (auto& command : commands) command();
            while (sd_bus_process(service_, nullptr) > 0) {}
            while (sd_bus_process(browser_, nullptr) > 0) {}
            while (keeper_ && sd_bus_process(keeper_, nullptr) > 0) {}
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sd_bus_flush_close_unref(browser_);
        sd_bus_flush_close_unref(service_);
    }

    static int handle(sd_bus_message* m, void* self, sd_bus_error*) {
        uint8_t type = 0;
        if (sd_bus_message_get_type(m, &type) < 0 || type != SD_BUS_MESSAGE_METHOD_CALL) return 0;
        return static_cast<StandIn*>(self)->answer(m);
    }

    int answer(sd_bus_message* m) {
        std::lock_guard lock(mutex_);
        const std::string member = sd_bus_message_get_member(m);
        const std::string path = sd_bus_message_get_path(m);
        const char* destination = sd_bus_message_get_destination(m);
        sd_bus* bus = sd_bus_message_get_bus(m);
        if (const char* sender = sd_bus_message_get_sender(m)) callers_[member] = sender;
        ++counts_[member];
        // Asked for relations before anything was built, the browser shows
        // none this time and has them from then on.
        bool showsEmbeds = !scenario_.lazy || built_;
        if (bus == browser_) {
            ++browserCalls_;
            if (member == "GetRelationSet") built_ = true;
            if (scenario_.silent.contains(member)) return 1;
            if (scenario_.refused.contains(member)) {
                sd_bus_reply_method_errorf(m, "org.a11y.atspi.Error.Failed", "refused");
                return 1;
            }
            if (scenario_.wrongForm.contains(member)) {
                sd_bus_reply_method_return(m, "s", "unexpected");
                return 1;
            }
        }
        const char* browserName = nullptr;
        sd_bus_get_unique_name(browser_, &browserName);
        if (member == "GetAddress") {
            sd_bus_reply_method_return(m, "s", scenario_.address ? scenario_.address->c_str()
                                                                 : std::getenv("DBUS_SESSION_BUS_ADDRESS"));
        } else if (member == "Get" && path == "/org/a11y/bus") {
            sd_bus_reply_method_return(m, "v", "b", scenario_.enabled ? 1 : 0);
        } else if (member == "GetChildren" && destination && std::string(destination) == "org.a11y.atspi.Registry") {
            sd_bus_reply_method_return(m, "a(so)", 1, browserName, "/org/a11y/atspi/accessible/root");
        } else if (member == "GetRelationSet" && path == rootPath) {
            sd_bus_reply_method_return(m, "a(ua(so))", 0);
        } else if (member == "GetChildren") {
            sd_bus_message* reply = nullptr;
            sd_bus_message_new_method_return(m, &reply);
            sd_bus_message_open_container(reply, 'a', "(so)");
            for (std::size_t i = 0; i < scenario_.windows.size(); ++i) {
                sd_bus_message_append(reply, "(so)", browserName, windowPath(i).c_str());
            }
            sd_bus_message_close_container(reply);
            sd_bus_send(bus, reply, nullptr);
            sd_bus_message_unref(reply);
        } else if (const Window* window = windowAt(path, windowPath)) {
            if (member == "GetState") {
                sd_bus_reply_method_return(m, "au", 2, window->active ? 0x43000002u : 0x43000000u, 0u);
            } else if (member == "Get") {
                sd_bus_reply_method_return(m, "v", "s", window->name.c_str());
            } else if (member == "GetRelationSet") {
                // A relation of another type comes first.
                const std::string document = documentPath(window - scenario_.windows.data());
                if (window->embeds && showsEmbeds) {
                    sd_bus_reply_method_return(m, "a(ua(so))", 2, 7u, 1, browserName, "/org/a11y/atspi/accessible/root",
                                               13u, 1, browserName, document.c_str());
                } else {
                    sd_bus_reply_method_return(m, "a(ua(so))", 1, 7u, 1, browserName, "/org/a11y/atspi/accessible/root");
                }
            } else {
                return 0;
            }
        } else if (const Window* shown = windowAt(path, documentPath); shown && member == "GetAttributes") {
            sd_bus_message* reply = nullptr;
            sd_bus_message_new_method_return(m, &reply);
            sd_bus_message_open_container(reply, 'a', "{ss}");
            for (const auto& [key, value] : shown->attributes) {
                sd_bus_message_append(reply, "{ss}", key.c_str(), value.c_str());
            }
            sd_bus_message_close_container(reply);
            sd_bus_send(bus, reply, nullptr);
            sd_bus_message_unref(reply);
        } else {
            return 0;
        }
        return 1;
    }

    const Window* windowAt(const std::string& path, std::string (*pathOf)(std::size_t)) const {
        for (std::size_t i = 0; i < scenario_.windows.size(); ++i) {
            if (pathOf(i) == path) return &scenario_.windows[i];
        }
        return nullptr;
    }

    std::mutex mutex_;
    Scenario scenario_;
    std::map<std::string, std::string> callers_;
    std::map<std::string, int> counts_;
    int browserCalls_ = 0;
    bool built_ = false;
    std::vector<std::function<void()>> commands_;
    std::promise<void> ready_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    sd_bus* service_ = nullptr;
    sd_bus* browser_ = nullptr;
    sd_bus* keeper_ = nullptr;
};

StandIn* standIn = nullptr;

Scenario showing(std::vector<Window> windows) {
    Scenario scenario;
    scenario.windows = std::move(windows);
    return scenario;
}

template <typename Field, typename Value>
Scenario with(Scenario scenario, Field Scenario::*field, Value value) {
    scenario.*field = std::move(value);
    return scenario;
}

Window gecko(std::string title, std::string url, bool active = false) {
    return {std::move(title), active, true, {{"MimeType", "text/html"}, {"DocURL", std::move(url)}}};
}

Window chromium(std::string title, std::string url, bool active = false) {
    return {std::move(title), active, true, {{"URI", std::move(url)}, {"DocURL", ""}, {"Title", "t"}}};
}

std::string lookUp(const std::optional<std::string>& title = std::nullopt, std::int32_t pid = getpid()) {
    return linux_desktop::accessibleTabUrl(pid, title);
}

// Asks until the answer is `expected` (a change the stand-in announced reaches
// the collector's connection a moment later); returns the last answer.
std::string lookUpUntil(const std::string& expected) {
    std::string url;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if ((url = lookUp()) == expected) break;
    }
    return url;
}

// Serves the collector's connections as the main loop does (poll on their
// descriptors, then handle what came) until `done`, for 20 s at most.
bool serveUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        linux_desktop::serviceAccessibilityBus();
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        std::vector<pollfd> fds;
        int timeoutMs = -1;
        linux_desktop::accessibilityBusDescriptors(fds, timeoutMs);
        const int wait = static_cast<int>(left.count());
        poll(fds.data(), fds.size(), timeoutMs < 0 ? wait : std::min(timeoutMs, wait));
    }
}

// Whether the collector waits for no answer and holds nothing unhandled.
bool settled() {
    std::vector<pollfd> fds;
    int timeoutMs = -1;
    linux_desktop::accessibilityBusDescriptors(fds, timeoutMs);
    return !fds.empty() && timeoutMs < 0;
}

// This process under another name (what /proc/<pid>/comm shows) for a while.
class ProcessName {
public:
    explicit ProcessName(const char* name) {
        prctl(PR_GET_NAME, saved_);
        prctl(PR_SET_NAME, name);
    }
    ~ProcessName() { prctl(PR_SET_NAME, saved_); }

private:
    char saved_[16] = {};
};

// One stand-in for the whole run: a new one for each suite would hand
// org.a11y.Bus to a new connection, and the collector would read the switch
// again in whichever test came first, answered as that test wants its browser
// to answer.
class StandInForTheRun : public ::testing::Environment {
public:
    void TearDown() override {
        delete standIn;
        standIn = nullptr;
    }
};

const auto* const standInForTheRun = ::testing::AddGlobalTestEnvironment(new StandInForTheRun);

class TabUrl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run under dbus-run-session";
        if (!standIn) standIn = new StandIn;
    }
};

TEST_F(TabUrl, BrowserRecognisedByDesktopIdOrWindowClass) {
    for (const char* id : {"firefox", "firefox-esr", "Firefox-esr", "org.mozilla.firefox", "chromium", "Chromium",
                           "chromium-browser", "org.chromium.Chromium", "google-chrome", "Google-chrome",
                           "google-chrome-beta", "com.google.Chrome", "brave-browser", "com.brave.Browser",
                           "microsoft-edge", "com.microsoft.Edge", "vivaldi-stable", "com.vivaldi.Vivaldi"}) {
        EXPECT_TRUE(linux_desktop::isAccessibleBrowser(id)) << id;
    }
    for (const char* id : {"", "firefox ", "firefo", "org.mozilla", "code", "electron", "Navigator", "XTerm"}) {
        EXPECT_FALSE(linux_desktop::isAccessibleBrowser(id)) << id;
    }
}

TEST_F(TabUrl, GeckoGivesDocUrlAndChromiumUri) {
    standIn->set(showing({gecko("One", "file:///one.html")}));
    EXPECT_EQ(lookUp(), "file:///one.html");
    standIn->set(showing({chromium("Two", "https://two.example/?q=\"x\"")}));
    EXPECT_EQ(lookUp(), "https://two.example/?q=\"x\"");
}

TEST_F(TabUrl, WarmLookupOfALoneWindowCostsThreeCalls) {
    standIn->set(showing({gecko("One", "file:///one.html")}));
    ASSERT_EQ(lookUp(), "file:///one.html");
    const auto before = linux_desktop::accessibilityBusCalls();
    EXPECT_EQ(lookUp(), "file:///one.html");
    EXPECT_EQ(linux_desktop::accessibilityBusCalls() - before, 3u) << "windows, relations, attributes";
}

struct WindowCase {
    const char* name;
    std::vector<Window> windows;
    std::optional<std::string> title;
    std::string expected;
};

class WindowChoice : public TabUrl, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WindowChoice, PicksTheActiveWindowElseTheTitledOne) {
    standIn->set(showing(GetParam().windows));
    EXPECT_EQ(lookUp(GetParam().title), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowChoice,
    ::testing::Values(
        WindowCase{"activeAmongMany", {chromium("A", "u:a"), chromium("B", "u:b", true), chromium("C", "u:c")},
                   "A", "u:b"},
        WindowCase{"firstActiveWins", {chromium("A", "u:a", true), chromium("B", "u:b", true)}, "B", "u:a"},
        WindowCase{"titleWhenNoneActive", {chromium("", "u:hidden"), chromium("", "u:hidden2"), chromium("Page", "u:p")},
                   "Page", "u:p"},
        WindowCase{"noTitleNoneActive", {chromium("A", "u:a"), chromium("B", "u:b")}, std::nullopt, ""},
        WindowCase{"titleMatchesNone", {chromium("A", "u:a"), chromium("B", "u:b")}, "C", ""},
        WindowCase{"loneWindowWhateverItsTitle", {gecko("Other", "u:lone")}, "Mine", "u:lone"},
        WindowCase{"noWindow", {}, "A", ""},
        WindowCase{"noEmbedsRelation", {{"A", true, false, {{"DocURL", "u:a"}}}}, "A", ""},
        WindowCase{"noUrlAttribute", {{"A", true, true, {{"MimeType", "text/html"}}}}, "A", ""},
        WindowCase{"docUrlBeforeUri", {{"A", true, true, {{"URI", "u:uri"}, {"DocURL", "u:doc"}}}}, "A", "u:doc"},
        WindowCase{"urlNotChecked", {gecko("A", " not a url \t")}, "A", " not a url \t"},
        WindowCase{"longestUrlPasses", {gecko("A", std::string(64 * 1024, 'x'))}, "A", std::string(64 * 1024, 'x')},
        WindowCase{"longerUrlDropped", {gecko("A", std::string(64 * 1024 + 1, 'x'))}, "A", ""},
        WindowCase{"hugeUrlDropped", {gecko("A", std::string(4 << 20, 'x'))}, "A", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct AnswerCase {
    const char* name;
    std::set<std::string> members;
    std::string expected;  // with two windows, the second active and titled "B"
};

class BadAnswer : public TabUrl, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(BadAnswer, OfTheWrongFormOrAnErrorGivesNoUrl) {
    const std::vector<Window> windows = {chromium("A", "u:a"), chromium("B", "u:b", true)};
    standIn->set(with(showing(windows), &Scenario::wrongForm, GetParam().members));
    EXPECT_EQ(lookUp("B"), GetParam().expected) << "wrong form";
    standIn->set(with(showing(windows), &Scenario::refused, GetParam().members));
    EXPECT_EQ(lookUp("B"), GetParam().expected) << "error";
    standIn->set(showing(windows));
    EXPECT_EQ(lookUp("B"), "u:b") << "the next sample, answered well";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BadAnswer,
    ::testing::Values(AnswerCase{"windows", {"GetChildren"}, ""},
                      AnswerCase{"statesFallBackToTitle", {"GetState"}, "u:b"},
                      AnswerCase{"statesAndNames", {"GetState", "Get"}, ""},
                      AnswerCase{"relations", {"GetRelationSet"}, ""},
                      AnswerCase{"attributes", {"GetAttributes"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TabUrl, SilentBrowserCostsOneSampleNotAStall) {
    standIn->set(with(showing({gecko("A", "u:a")}), &Scenario::silent, std::set<std::string>{"GetAttributes"}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lookUp(), "");
    // Far below sd-bus's own 25 s default: the sample's budget ended the wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    standIn->set(showing({gecko("A", "u:a")}));
    EXPECT_EQ(lookUpUntil("u:a"), "u:a");
}

TEST_F(TabUrl, ProcessNotOnTheBusGivesNoUrl) {
    standIn->set(showing({gecko("A", "u:a")}));
    EXPECT_EQ(lookUp(std::nullopt, 0x7ffffff0), "");
    EXPECT_EQ(lookUp(), "u:a");
}

TEST_F(TabUrl, BrowserBackUnderANewNameIsFoundAgain) {
    standIn->set(showing({gecko("A", "u:a")}));
    ASSERT_EQ(lookUp(), "u:a");
    standIn->reconnectBrowser();
    EXPECT_EQ(lookUpUntil("u:a"), "u:a");
}

struct WarmUpCase {
    const char* name;
    const char* process;  // the browser's process's name
    bool connectAgain;    // the browser was there before the collector connected; else it registers after
    bool warmed;
};

class WarmUp : public TabUrl, public ::testing::WithParamInterface<WarmUpCase> {};

TEST_P(WarmUp, BrowserSeenOnTheBusHasItsUrlAtTheFirstLookup) {
    standIn->set(with(showing({chromium("A", "u:a")}), &Scenario::lazy, true));
    linux_desktop::watchAccessibilityBus();
    ASSERT_TRUE(serveUntil(settled)) << "the collector connected as the main loop starts";
    ProcessName name(GetParam().process);
    const int calls = standIn->browserCalls();
    const auto asked = linux_desktop::accessibilityBusCalls();
    if (GetParam().connectAgain) {
        standIn->forget();
        standIn->handOver(true);  // the bus's keeper changes: the collector connects afresh
    } else {
        standIn->reconnectBrowser();
    }
    if (GetParam().warmed) {
        EXPECT_TRUE(serveUntil([&] { return standIn->browserCalls() > calls && settled(); }));
        EXPECT_EQ(standIn->browserCalls() - calls, 1) << "one call, before any lookup";
    } else {
        // The process was asked for, and every answer is in.
        EXPECT_TRUE(serveUntil([&] { return linux_desktop::accessibilityBusCalls() > asked && settled(); }));
        EXPECT_EQ(standIn->browserCalls(), calls) << "an application that is no browser is asked nothing";
    }
    const int relationQueries = standIn->count("GetRelationSet");
    EXPECT_EQ(lookUp(), "u:a") << "the first lookup";
    // Not warmed up, the browser was asked for relations first by the lookup,
    // found still building, and asked once more a moment later.
    EXPECT_EQ(standIn->count("GetRelationSet") - relationQueries, GetParam().warmed ? 1 : 2);
    if (GetParam().connectAgain) {
        // The keeper comes back: the collector connects again before the next test.
        const int addressAsked = standIn->count("GetAddress");
        standIn->handOver(false);
        EXPECT_TRUE(serveUntil([&] { return standIn->count("GetAddress") > addressAsked && settled(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Browsers, WarmUp,
    ::testing::Values(WarmUpCase{"registersWhileWatched", "chromium", false, true},
                      WarmUpCase{"thereWhenConnected", "firefox-esr", true, true},
                      WarmUpCase{"notABrowser", "gedit", false, false},
                      WarmUpCase{"notABrowserWhenConnected", "gedit", true, false},
                      WarmUpCase{"nameOnlyStartsLikeABrowser", "chromium-helper", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TabUrl, SwitchOffMeansNoUrlAndNoCalls) {
    standIn->set(with(showing({gecko("A", "u:a")}), &Scenario::enabled, false));
    standIn->announceSwitch();
    EXPECT_EQ(lookUpUntil(""), "");
    const auto before = linux_desktop::accessibilityBusCalls();
    EXPECT_EQ(lookUp(), "");
    EXPECT_EQ(linux_desktop::accessibilityBusCalls(), before) << "the switch is not read again unchanged";
    standIn->set(showing({gecko("A", "u:a")}));
    standIn->announceSwitch();
    EXPECT_EQ(lookUpUntil("u:a"), "u:a");
}

struct AddressCase {
    const char* address;
    bool accepted;
};

class BusAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(BusAddress, OnlyALocalSocketIsTaken) {
    EXPECT_EQ(linux_desktop::acceptedBusAddress(GetParam().address), GetParam().accepted) << GetParam().address;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, BusAddress,
    ::testing::Values(AddressCase{"unix:path=/run/user/1000/at-spi/bus_0,guid=0123456789abcdef", true},
                      AddressCase{"unix:abstract=/tmp/dbus-AbC123,guid=0123456789abcdef", true},
                      AddressCase{"unix:path=/tmp/with%20space", true},
                      AddressCase{"unix:guid=0123,path=/run/bus", true},
                      // Another transport: a program to run, the network, the kernel's bus.
                      AddressCase{"unixexec:path=/bin/sh,argv1=-c,argv2=touch%20/tmp/x", false},
                      AddressCase{"tcp:host=127.0.0.1,port=4711", false},
                      AddressCase{"x-machine-unix:pid=1", false},
                      AddressCase{"kernel:path=/sys/fs/kdbus/0-user/bus", false},
                      AddressCase{"autolaunch:", false},
                      // A list, whose later entries sd-bus would try too.
                      AddressCase{"unix:path=/run/bus;unixexec:path=/bin/sh", false},
                      // Keys that are no place, twice a place, no place at all.
                      AddressCase{"unix:path=/run/bus,argv1=x", false},
                      AddressCase{"unix:path=/a,abstract=b", false},
                      AddressCase{"unix:tmpdir=/tmp", false},
                      AddressCase{"unix:", false},
                      AddressCase{"unix:guid=0123", false},
                      AddressCase{"unix:path=", false},
                      AddressCase{"unix:path=relative/bus", false},
                      AddressCase{"unix:path=/run/bus,", false},
                      AddressCase{"unix:path=/run/bus,guid=0123,guid=4567", false},
                      // Bytes an address holds only as %XX.
                      AddressCase{"unix:path=/run/bus\n", false},
                      AddressCase{"unix:path=/run/b us", false},
                      AddressCase{"unix:path=/run/bus%2", false},
                      AddressCase{"unix:path=/run/bus%zz", false},
                      AddressCase{"", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(TabUrl, AnAddressThatRunsAProgramIsRefused) {
    const std::string witness = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                "/palvern-unixexec-" + std::to_string(getpid());
    std::filesystem::remove(witness);
    Scenario scenario = showing({gecko("A", "u:a")});
    scenario.address = "unixexec:path=/bin/sh,argv1=-c,argv2=touch%20" + witness;
    standIn->set(scenario);
    const int asked = standIn->count("GetAddress");
    standIn->handOver(true);  // the bus named before is let go with its keeper
    EXPECT_EQ(lookUpUntil(""), "");
    EXPECT_EQ(lookUp(), "");
    EXPECT_GT(standIn->count("GetAddress"), asked) << "the address was asked for";
    EXPECT_FALSE(std::filesystem::exists(witness)) << "the address's program ran";
    standIn->set(showing({gecko("A", "u:a")}));
    standIn->handOver(false);
    EXPECT_EQ(lookUpUntil("u:a"), "u:a");
}

TEST_F(TabUrl, SignalsFromAnyoneButTheirSenderChangeNothing) {
    standIn->set(showing({gecko("A", "u:a")}));
    ASSERT_EQ(lookUp(), "u:a");
    const std::string session = standIn->caller("Get");      // asked for the switch
    const std::string accessibility = standIn->caller("GetAttributes");
    const std::string browser = standIn->browserName();
    struct Forged {
        const char* what;
        std::string destination;
        const char* path;
        const char* interface;
        const char* member;
        const char* types;
        std::vector<std::string> args;
    };
    const std::vector<Forged> forged = {
        {"the switch changed", session, "/org/a11y/bus", "org.freedesktop.DBus.Properties", "PropertiesChanged", "",
         {}},
        {"the keeper left", session, "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged", "sss",
         {"org.a11y.Bus", session, ""}},
        {"the browser left", accessibility, "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
         "sss", {browser, browser, ""}},
        // Taken, the application would be asked for by its process.
        {"an application registered", accessibility, rootPath, "org.a11y.atspi.Event.Object", "ChildrenChanged",
         "siiv", {"add", "0", "0", session}},
    };
    for (const Forged& f : forged) {
        standIn->forge(f.destination, f.path, f.interface, f.member, f.types, f.args);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // were it taken, the lookup would see it
        const auto before = linux_desktop::accessibilityBusCalls();
        EXPECT_EQ(lookUp(), "u:a") << f.what;
        EXPECT_EQ(linux_desktop::accessibilityBusCalls() - before, 3u) << f.what << ": nothing asked again";
    }
}

TEST_F(TabUrl, WithoutAProcessOnlyAnActiveWindowWithTheTitle) {
    standIn->set(showing({gecko("A", "u:a", true)}));
    EXPECT_EQ(lookUp("A", 0), "u:a");
    EXPECT_EQ(lookUp(std::nullopt, 0), "u:a");
    EXPECT_EQ(lookUp("B", 0), "");
    standIn->set(showing({gecko("A", "u:a")}));
    EXPECT_EQ(lookUp("A", 0), "") << "not marked active";
}

}  // namespace
