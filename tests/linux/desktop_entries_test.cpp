// The desktop entry index and the matching of windows to entries, on small
// trees of desktop files written for each case.
#include "platform/linux/desktop_entries.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using desktop::DesktopEntry;
using desktop::WindowIdentity;
using namespace std::string_literals;
namespace fs = std::filesystem;

// A private folder, removed with everything in it at the end of the test.
class TempTree {
public:
    TempTree() {
        std::string pattern = (fs::temp_directory_path() / "palvern-entries-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~TempTree() { fs::remove_all(root_); }

    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    void write(const std::string& relative, const std::string& contents) const {
        fs::path file = path(relative);
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << contents;
    }

    // The data home and two system data directories, in precedence order.
    std::vector<std::string> dirs() const {
        return {path("home/applications"), path("sys1/applications"), path("sys2/applications")};
    }

private:
    std::string root_;
};

std::string app(const std::string& name, const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\n" + extra;
}

// The sandboxes of the tests: one process in one.
std::optional<std::string> fakeSandbox(std::int32_t pid) {
    if (pid == 4242) return "org.example.Sandboxed";
    return std::nullopt;
}

struct File {
    std::string path;  // below the tree: home/, sys1/ or sys2/applications/...
    std::string contents;
};

struct Case {
    const char* what;
    std::vector<File> files;
    WindowIdentity window;
    std::optional<DesktopEntry> expected;
};

std::optional<DesktopEntry> matchIn(const std::vector<File>& files, const WindowIdentity& window,
                                    const char* locale = "") {
    TempTree tree;
    for (const auto& file : files) tree.write(file.path, file.contents);
    auto index = desktop::Index::build(tree.dirs(), desktop::parseLocale(locale));
    return desktop::match(index, window, fakeSandbox);
}

void runTable(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(matchIn(c.files, c.window), c.expected);
    }
}

TEST(DesktopEntries, EachMatchingStepAndItsPrecedence) {
    runTable({
        {"the window system's desktop file ID before the class's StartupWMClass",
         {{"sys1/applications/org.example.Named.desktop", app("Named")},
          {"sys1/applications/other.desktop", app("Other", "StartupWMClass=Cls\n")}},
         {.desktopFileId = "org.example.Named", .instance = "inst", .windowClass = "Cls"},
         DesktopEntry{"org.example.Named", "Named"}},
        {"a desktop file ID without an entry: the class decides",
         {{"sys1/applications/Cls.desktop", app("Class")}},
         {.desktopFileId = "org.example.Missing", .windowClass = "Cls"},
         DesktopEntry{"Cls", "Class"}},
        {"a desktop file ID is taken as it is, without the guesses for classes",
         {{"sys1/applications/kde-tool.desktop", app("Tool")}},
         {.desktopFileId = "tool"},
         std::nullopt},
        {"instance as StartupWMClass",
         {{"sys1/applications/app.desktop", app("App", "StartupWMClass=inst\n")}},
         {.instance = "inst", .windowClass = "Other"},
         DesktopEntry{"app", "App"}},
        {"class as StartupWMClass",
         {{"sys1/applications/app.desktop", app("App", "StartupWMClass=Cls\n")}},
         {.instance = "other", .windowClass = "Cls"},
         DesktopEntry{"app", "App"}},
        {"the instance's StartupWMClass before the class's",
         {{"sys1/applications/a.desktop", app("A", "StartupWMClass=Cls\n")},
          {"sys1/applications/b.desktop", app("B", "StartupWMClass=inst\n")}},
         {.instance = "inst", .windowClass = "Cls"},
         DesktopEntry{"b", "B"}},
        {"StartupWMClass is compared exactly",
         {{"sys1/applications/app.desktop", app("App", "StartupWMClass=Cls\n")}},
         {.instance = "cls", .windowClass = "CLS"},
         std::nullopt},
        {"the class's StartupWMClass before the instance as an ID",
         {{"sys1/applications/term.desktop", app("By ID")},
          {"sys1/applications/z.desktop", app("By class", "StartupWMClass=Term\n")}},
         {.instance = "term", .windowClass = "Term"},
         DesktopEntry{"z", "By class"}},
        {"several claim one class: the one whose ID is that class",
         {{"sys1/applications/aaa.desktop", app("First", "StartupWMClass=Tool\n")},
          {"sys1/applications/Tool.desktop", app("Named", "StartupWMClass=Tool\n")},
          {"sys1/applications/zzz.desktop", app("Last", "StartupWMClass=Tool\n")}},
         {.windowClass = "Tool"},
         DesktopEntry{"Tool", "Named"}},
        {"several claim one class, none named after it: the first found",
         {{"sys2/applications/aaa.desktop", app("Lower directory", "StartupWMClass=Tool\n")},
          {"sys1/applications/bbb.desktop", app("Upper, later name", "StartupWMClass=Tool\n")},
          {"sys1/applications/ccc.desktop", app("Upper, last name", "StartupWMClass=Tool\n")}},
         {.windowClass = "Tool"},
         DesktopEntry{"bbb", "Upper, later name"}},
        {"instance as an ID, as it is",
         {{"sys1/applications/org.example.App.desktop", app("Example")}},
         {.instance = "org.example.App", .windowClass = "Org.example.App"},
         DesktopEntry{"org.example.App", "Example"}},
        {"the instance as an ID before the class",
         {{"sys1/applications/inst.desktop", app("Instance")}, {"sys1/applications/Cls.desktop", app("Class")}},
         {.instance = "inst", .windowClass = "Cls"},
         DesktopEntry{"inst", "Instance"}},
        {"the class as an ID",
         {{"sys1/applications/Cls.desktop", app("Class")}},
         {.instance = "nothing", .windowClass = "Cls"},
         DesktopEntry{"Cls", "Class"}},
        {"as it is before lowercased",
         {{"sys1/applications/Foo.desktop", app("Upper")}, {"sys1/applications/foo.desktop", app("Lower")}},
         {.windowClass = "Foo"},
         DesktopEntry{"Foo", "Upper"}},
        {"lowercased with spaces as dashes",
         {{"sys1/applications/fedora-eclipse.desktop", app("Eclipse")}},
         {.windowClass = "Fedora Eclipse"},
         DesktopEntry{"fedora-eclipse", "Eclipse"}},
        {"lowercased behind a vendor prefix",
         {{"sys1/applications/gnome-foo-bar.desktop", app("Foo Bar")}},
         {.windowClass = "Foo Bar"},
         DesktopEntry{"gnome-foo-bar", "Foo Bar"}},
        {"sandbox application ID",
         {{"sys1/applications/org.example.Sandboxed.desktop", app("Sandboxed")}},
         {.instance = "nothing", .windowClass = "Nothing", .pid = 4242},
         DesktopEntry{"org.example.Sandboxed", "Sandboxed"}},
        {"names before the sandbox",
         {{"sys1/applications/org.example.Sandboxed.desktop", app("Sandboxed")},
          {"sys1/applications/named.desktop", app("Named")}},
         {.windowClass = "named", .pid = 4242},
         DesktopEntry{"named", "Named"}},
        {"the sandbox before the application ID",
         {{"sys1/applications/org.example.Sandboxed.desktop", app("Sandboxed")},
          {"sys1/applications/org.example.Gtk.desktop", app("Gtk")}},
         {.applicationId = "org.example.Gtk", .pid = 4242},
         DesktopEntry{"org.example.Sandboxed", "Sandboxed"}},
        {"application ID",
         {{"sys1/applications/org.example.Gtk.desktop", app("Gtk")}},
         {.instance = "gtk", .windowClass = "Gtk", .applicationId = "org.example.Gtk", .pid = 7},
         DesktopEntry{"org.example.Gtk", "Gtk"}},
        {"the application ID is taken as it is",
         {{"sys1/applications/gnome-org.example.Gtk.desktop", app("Gtk")}},
         {.applicationId = "org.example.Gtk"},
         std::nullopt},
        {"no hit", {{"sys1/applications/app.desktop", app("App")}}, {.instance = "x", .windowClass = "X"},
         std::nullopt},
        {"nothing known of the window", {{"sys1/applications/app.desktop", app("App")}}, {}, std::nullopt},
        {"empty names match nothing",
         {{"sys1/applications/gnome-.desktop", app("Prefix only")}},
         {.instance = "", .windowClass = ""},
         std::nullopt},
    });
}

TEST(DesktopEntries, VendorPrefixes) {
    for (const char* prefix : {"gnome-", "fedora-", "mozilla-", "debian-", "kde-", "kde4-"}) {
        SCOPED_TRACE(prefix);
        const std::string id = prefix + "tool"s;
        EXPECT_EQ(matchIn({{"sys1/applications/" + id + ".desktop", app("Tool")}}, {.windowClass = "tool"}),
                  (DesktopEntry{id, "Tool"}));
    }
    EXPECT_EQ(matchIn({{"sys1/applications/debian-tool.desktop", app("Prefixed")},
                       {"sys1/applications/tool.desktop", app("Plain")}},
                      {.windowClass = "tool"}),
              (DesktopEntry{"tool", "Plain"}));
    EXPECT_EQ(matchIn({{"sys1/applications/other-tool.desktop", app("Tool")}}, {.windowClass = "tool"}),
              std::nullopt);
}

TEST(DesktopEntries, IdsAndPrecedenceBetweenDirectories) {
    runTable({
        {"subfolder ID",
         {{"sys1/applications/kde/okular.desktop", app("Okular")}},
         {.windowClass = "kde-okular"},
         DesktopEntry{"kde-okular", "Okular"}},
        {"subfolder ID through a vendor prefix",
         {{"sys1/applications/kde/okular.desktop", app("Okular")}},
         {.instance = "okular", .windowClass = "Okular"},
         DesktopEntry{"kde-okular", "Okular"}},
        {"nested subfolders",
         {{"sys1/applications/a/b/c.desktop", app("Deep")}},
         {.windowClass = "a-b-c"},
         DesktopEntry{"a-b-c", "Deep"}},
        {"a file not ending in .desktop",
         {{"sys1/applications/tool.desktop~", app("Backup")}, {"sys1/applications/tool", app("Bare")}},
         {.windowClass = "tool"},
         std::nullopt},
        {"data home before the data directories",
         {{"home/applications/tool.desktop", app("Home")}, {"sys1/applications/tool.desktop", app("System")}},
         {.windowClass = "tool"},
         DesktopEntry{"tool", "Home"}},
        {"data directories in their order",
         {{"sys2/applications/tool.desktop", app("Second")}, {"sys1/applications/tool.desktop", app("First")}},
         {.windowClass = "tool"},
         DesktopEntry{"tool", "First"}},
        {"a subfolder file and a flat file of one ID, across directories",
         {{"sys1/applications/kde-okular.desktop", app("Flat")}, {"home/applications/kde/okular.desktop", app("Sub")}},
         {.windowClass = "kde-okular"},
         DesktopEntry{"kde-okular", "Sub"}},
        {"a masked ID's StartupWMClass does not count",
         {{"sys1/applications/tool.desktop", app("Upper")},
          {"sys2/applications/tool.desktop", app("Lower", "StartupWMClass=Cls\n")}},
         {.windowClass = "Cls"},
         std::nullopt},
        {"Hidden=true",
         {{"sys1/applications/tool.desktop", app("Hidden", "Hidden=true\n")}},
         {.windowClass = "tool"},
         std::nullopt},
        {"Hidden=true in the data home masks the system entry",
         {{"home/applications/tool.desktop", "[Desktop Entry]\nHidden=true\n"},
          {"sys1/applications/tool.desktop", app("System")}},
         {.windowClass = "tool"},
         std::nullopt},
        {"Hidden=false",
         {{"sys1/applications/tool.desktop", app("Shown", "Hidden=false\nNoDisplay=true\n")}},
         {.windowClass = "tool"},
         DesktopEntry{"tool", "Shown"}},
        {"Type=Link",
         {{"sys1/applications/tool.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org/\n"}},
         {.windowClass = "tool"},
         std::nullopt},
        {"no Type",
         {{"sys1/applications/tool.desktop", "[Desktop Entry]\nName=Untyped\n"}},
         {.windowClass = "tool"},
         std::nullopt},
        {"a non-application masks the entry below it",
         {{"sys1/applications/tool.desktop", "[Desktop Entry]\nType=Directory\nName=Folder\n"},
          {"sys2/applications/tool.desktop", app("Application")}},
         {.windowClass = "tool"},
         std::nullopt},
        {"no Name",
         {{"sys1/applications/tool.desktop", "[Desktop Entry]\nType=Application\n"}},
         {.windowClass = "tool"},
         std::nullopt},
    });
}

TEST(DesktopEntries, BrokenFilesAreSkipped) {
    TempTree tree;
    tree.write("sys1/applications/good.desktop", app("Good", "StartupWMClass=Good\n"));
    tree.write("sys1/applications/binary.desktop", "\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe\n\n[\0\x80"s);
    tree.write("sys1/applications/nogroup.desktop", "Type=Application\nName=No group\nStartupWMClass=NoGroup\n");
    tree.write("sys1/applications/empty.desktop", "");
    tree.write("sys1/applications/unclosed.desktop", "[Desktop Entry\nType=Application\nName=Unclosed\n");
    tree.write("sys1/applications/huge.desktop", app("Huge", std::string(2 << 20, '#') + "\n"));
    fs::create_directories(tree.path("sys1/applications/folder.desktop"));
    ASSERT_EQ(::mkfifo(tree.path("sys1/applications/fifo.desktop").c_str(), 0600), 0);
    fs::create_symlink(tree.path("nowhere"), tree.path("sys1/applications/dangling.desktop"));
    // Broken in the data home: the system's file of that ID stands.
    tree.write("home/applications/shadowed.desktop", "garbage\n");
    tree.write("sys1/applications/shadowed.desktop", app("Shadowed"));

    auto index = desktop::Index::build(tree.dirs(), {});  // returns: the FIFO does not block it
    auto find = [&](WindowIdentity window) { return desktop::match(index, window, nullptr); };
    EXPECT_EQ(find({.windowClass = "Good"}), (DesktopEntry{"good", "Good"}));
    EXPECT_EQ(find({.windowClass = "shadowed"}), (DesktopEntry{"shadowed", "Shadowed"}));
    for (const char* id : {"binary", "nogroup", "NoGroup", "empty", "unclosed", "huge", "folder", "fifo",
                           "dangling"}) {
        EXPECT_EQ(find({.windowClass = id}), std::nullopt) << id;
    }
    EXPECT_EQ(index.size(), 2u);
}

TEST(DesktopEntries, OnlyRegularFilesAreOpenedWhereverALinkLeads) {
    TempTree tree;
    tree.write("elsewhere/real.desktop", app("Linked", "StartupWMClass=Linked\n"));
    fs::create_directories(tree.path("sys1/applications"));
    fs::create_symlink(tree.path("elsewhere/real.desktop"), tree.path("sys1/applications/linked.desktop"));
    ASSERT_EQ(::mkfifo(tree.path("elsewhere/pipe").c_str(), 0600), 0);
    fs::create_symlink(tree.path("elsewhere/pipe"), tree.path("sys1/applications/device.desktop"));
    // Opening a device can do something (a tape rewinds, a modem hangs up):
    // an inotify watch on the link's target tells whether it was opened.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, tree.path("elsewhere/pipe").c_str(), IN_OPEN), 0);

    auto index = desktop::Index::build(tree.dirs(), {});
    EXPECT_EQ(desktop::match(index, {.windowClass = "Linked"}, nullptr), (DesktopEntry{"linked", "Linked"}));
    EXPECT_EQ(desktop::match(index, {.windowClass = "device"}, nullptr), std::nullopt);
    alignas(inotify_event) char events[256];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the link to a pipe was opened";
    ::close(watch);
}

TEST(DesktopEntries, ReadsHostileBytesAsBytes) {
    struct Parsed {
        const char* what;
        std::string contents;
        std::string name;  // "": not an application
    };
    const std::vector<Parsed> cases = {
        {"no final line feed", "[Desktop Entry]\nType=Application\nName=Last", "Last"},
        {"carriage returns", "[Desktop Entry]\r\nType=Application\r\nName=Windows\r\n", "Windows"},
        {"spaces around =, and indentation", "  [Desktop Entry]\n Type = Application \n\tName =  Spaced \n", "Spaced"},
        {"escapes", "[Desktop Entry]\nType=Application\nName=\\sa\\\\b\\tc\\nd\\qe\\\n", " a\\b\tc\nd\\qe\\"},
        {"a NUL in the name", "[Desktop Entry]\nType=Application\nName=a\0b\n"s, "a\0b"s},
        {"invalid UTF-8 in the name", "[Desktop Entry]\nType=Application\nName=ok\xff\xc3(\n", "ok\xff\xc3("},
        {"a long line", "[Desktop Entry]\nComment=" + std::string(500000, 'c') + "\nType=Application\nName=Long\n",
         "Long"},
        {"a long name", "[Desktop Entry]\nType=Application\nName=" + std::string(100000, 'n'),
         std::string(100000, 'n')},
        {"duplicate keys: the last counts", "[Desktop Entry]\nName=First\nType=Application\nName=Second\n", "Second"},
        {"a repeated group adds to the first", "[Desktop Entry]\nName=One\n[Other]\n[Desktop Entry]\nType=Application\n",
         "One"},
        {"keys before any group", "Name=Outside\n[Desktop Entry]\nType=Application\nName=Inside\n", "Inside"},
        {"other groups' keys", "[Desktop Action new]\nName=Action\n[Desktop Entry]\nType=Application\nName=Main\n"
                               "[Desktop Action x]\nName=Later\nType=Link\n",
         "Main"},
        {"the group after comments and junk", "# comment\ngarbage line\n\n[Desktop Entry]\nType=Application\nName=Ok\n",
         "Ok"},
        {"lines without =", "[Desktop Entry]\nType=Application\nName\nName=Real\njunk\n", "Real"},
        {"a type with other case", "[Desktop Entry]\nType=application\nName=Lower\n", ""},
        {"Hidden=1", "[Desktop Entry]\nType=Application\nName=H\nHidden=1\n", ""},
        {"an empty name", "[Desktop Entry]\nType=Application\nName=\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = desktop::parseDesktopFile(c.contents, {});
        EXPECT_TRUE(file.claimsId);
        EXPECT_EQ(file.application, !c.name.empty());
        if (!c.name.empty()) {
            EXPECT_EQ(file.name, c.name);
        }
    }
    EXPECT_EQ(desktop::parseDesktopFile("[Desktop Entry]\nType=Application\nName=N\nStartupWMClass= Cls\\s\n", {})
                  .startupWMClass,
              "Cls ");
}

TEST(DesktopEntries, LocalizedNameFallsBackStepByStep) {
    const std::string all = "[Desktop Entry]\nType=Application\nName=Default\nName[de]=de\nName[de_AT]=de_AT\n"
                            "Name[de@euro]=de@euro\nName[de_AT@euro]=de_AT@euro\nName[sr@latin]=sr@latin\n";
    struct Localized {
        const char* locale;
        std::string contents;
        std::string name;
    };
    auto without = [&](const std::string& line) {
        std::string s = all;
        s.erase(s.find(line), line.size());
        return s;
    };
    const std::vector<Localized> cases = {
        {"de_AT.UTF-8@euro", all, "de_AT@euro"},
        {"de_AT@euro", without("Name[de_AT@euro]=de_AT@euro\n"), "de_AT"},
        {"de_AT@euro", without("Name[de_AT@euro]=de_AT@euro\nName[sr"), "de_AT"},
        {"de_AT@euro", "[Desktop Entry]\nType=Application\nName=D\nName[de]=de\nName[de@euro]=de@euro\n", "de@euro"},
        {"de_AT@euro", "[Desktop Entry]\nType=Application\nName=D\nName[de]=de\n", "de"},
        {"de_AT@euro", "[Desktop Entry]\nType=Application\nName=D\n", "D"},
        {"de_AT.UTF-8", all, "de_AT"},
        {"de_CH.UTF-8", all, "de"},
        {"de@euro", all, "de@euro"},
        {"sr_RS@latin", all, "sr@latin"},
        {"de", all, "de"},
        {"fr_FR.UTF-8", all, "Default"},
        {"C.UTF-8", all, "Default"},
        {"", all, "Default"},
        {"de_AT", "[Desktop Entry]\nType=Application\nName=D\nName[de_AT]=\nName[de]=de\n", "de"},  // empty: next
        {"de_AT", "[Desktop Entry]\nType=Application\nName[de_AT]=only\n", "only"},
        {"de", "[Desktop Entry]\nType=Application\nName[de]=one\nName[de]=two\nName=D\n", "two"},
        {"de", "[Desktop Entry]\nType=Application\nName[ de]=spaced\nName=D\n", "D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " / " + c.contents);
        EXPECT_EQ(desktop::parseDesktopFile(c.contents, desktop::parseLocale(c.locale)).name, c.name);
    }
    // Through the index as well.
    EXPECT_EQ(matchIn({{"sys1/applications/tool.desktop", all}}, {.windowClass = "tool"}, "de_AT.UTF-8"),
              (DesktopEntry{"tool", "de_AT"}));
}

TEST(DesktopEntries, LocaleParts) {
    auto parts = [](const char* value) {
        auto l = desktop::parseLocale(value);
        return l.lang + "|" + l.country + "|" + l.modifier;
    };
    EXPECT_EQ(parts("de_AT.UTF-8@euro"), "de|AT|euro");
    EXPECT_EQ(parts("de_AT@euro"), "de|AT|euro");
    EXPECT_EQ(parts("pt_BR.ISO-8859-1"), "pt|BR|");
    EXPECT_EQ(parts("sr@latin"), "sr||latin");
    EXPECT_EQ(parts("fr"), "fr||");
    EXPECT_EQ(parts(""), "||");
}

// Restores the variables a test sets.
class Environment {
public:
    void set(const char* name, const char* value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~Environment() {
        for (const auto& [name, value] : saved_) set(name.c_str(), value ? value->c_str() : nullptr);
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(DesktopEntries, LocaleFromTheEnvironment) {
    struct Vars {
        const char *all, *messages, *lang;
        const char* lang_expected;
    };
    for (const auto& v : std::vector<Vars>{{"de_DE.UTF-8", "fr_FR", "it_IT", "de"},
                                           {nullptr, "fr_FR", "it_IT", "fr"},
                                           {"", "", "it_IT", "it"},
                                           {nullptr, nullptr, nullptr, ""}}) {
        Environment env;
        env.set("LC_ALL", v.all);
        env.set("LC_MESSAGES", v.messages);
        env.set("LANG", v.lang);
        EXPECT_EQ(desktop::localeFromEnvironment().lang, v.lang_expected);
    }
}

TEST(DesktopEntries, ApplicationFolders) {
    using V = std::vector<std::string>;
    EXPECT_EQ(desktop::applicationDirs(nullptr, "/home/u", nullptr),
              (V{"/home/u/.local/share/applications", "/usr/local/share/applications", "/usr/share/applications"}));
    EXPECT_EQ(desktop::applicationDirs("", "/home/u", ""),
              (V{"/home/u/.local/share/applications", "/usr/local/share/applications", "/usr/share/applications"}));
    EXPECT_EQ(desktop::applicationDirs("/data/", "/home/u", "/a:relative:/b//::/"),
              (V{"/data/applications", "/a/applications", "/b/applications", "/applications"}));
    EXPECT_EQ(desktop::applicationDirs("relative", nullptr, "/a"), (V{"/a/applications"}));
    EXPECT_EQ(desktop::applicationDirs(nullptr, "relative", "/a"), (V{"/a/applications"}));
}

TEST(DesktopEntries, FileIdsAndSandboxInfo) {
    EXPECT_EQ(desktop::desktopFileId("kde/okular.desktop"), "kde-okular");
    EXPECT_EQ(desktop::desktopFileId("org.mozilla.firefox.desktop"), "org.mozilla.firefox");
    EXPECT_EQ(desktop::flatpakApplicationId("[Application]\nname=org.example.App\nruntime=runtime/x\n"
                                            "[Instance]\nname=other\n"),
              "org.example.App");
    EXPECT_EQ(desktop::flatpakApplicationId("[Runtime]\nname=org.example.Platform\n"), std::nullopt);
    EXPECT_EQ(desktop::flatpakApplicationId("[Application]\nname=\n"), std::nullopt);
    EXPECT_EQ(desktop::flatpakApplicationId("\xff\0garbage"s), std::nullopt);
    EXPECT_EQ(desktop::sandboxApplicationId(0), std::nullopt);
}

// ---------------------------------------------------------------------------
// Freshness: inotify events are queued by the time a write returns, so each
// change shows at the very next lookup.

class LiveIndexTest : public ::testing::Test {
protected:
    TempTree tree;
    desktop::LiveIndex live{tree.dirs(), desktop::parseLocale("de")};

    std::optional<DesktopEntry> find(const char* cls) {
        return desktop::match(live.current(), {.windowClass = cls}, nullptr);
    }
};

TEST_F(LiveIndexTest, BuildsOnceAndRebuildsOnlyAfterAChange) {
    tree.write("sys1/applications/tool.desktop", app("Tool"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "Tool"}));
    for (int i = 0; i < 5; ++i) live.current();
    EXPECT_EQ(live.builds(), 1u);

    tree.write("sys1/applications/new.desktop", app("New", "Name[de]=Neu\n"));
    EXPECT_EQ(find("new"), (DesktopEntry{"new", "Neu"}));
    EXPECT_EQ(live.builds(), 2u);
    live.current();
    EXPECT_EQ(live.builds(), 2u);
}

TEST_F(LiveIndexTest, FollowsChangesRemovalsAndSubfolders) {
    tree.write("sys2/applications/tool.desktop", app("System"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "System"}));
    tree.write("sys2/applications/tool.desktop", app("Changed"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "Changed"}));
    tree.write("sys1/applications/tool.desktop", app("Above"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "Above"}));
    fs::remove(tree.path("sys1/applications/tool.desktop"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "Changed"}));

    fs::create_directories(tree.path("sys2/applications/vendor"));
    EXPECT_EQ(find("vendor-app"), std::nullopt);
    tree.write("sys2/applications/vendor/app.desktop", app("In a new subfolder"));
    EXPECT_EQ(find("vendor-app"), (DesktopEntry{"vendor-app", "In a new subfolder"}));

    // Renamed into place, as package managers install.
    tree.write("sys2/staging.tmp", app("Moved in"));
    fs::rename(tree.path("sys2/staging.tmp"), tree.path("sys2/applications/moved.desktop"));
    EXPECT_EQ(find("moved"), (DesktopEntry{"moved", "Moved in"}));
}

TEST_F(LiveIndexTest, FilesThatAreNoDesktopEntriesChangeNothing) {
    tree.write("sys1/applications/tool.desktop", app("Tool"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "Tool"}));
    const auto builds = live.builds();
    // What an application's cache or an editor leaves beside the entries.
    tree.write("sys1/applications/mimeinfo.cache", "[MIME Cache]\n");
    tree.write("sys1/applications/tool.desktop~", app("Backup"));
    fs::remove(tree.path("sys1/applications/mimeinfo.cache"));
    EXPECT_EQ(find("tool"), (DesktopEntry{"tool", "Tool"}));
    EXPECT_EQ(live.builds(), builds);
    tree.write("sys1/applications/other.desktop", app("Other"));
    EXPECT_EQ(find("other"), (DesktopEntry{"other", "Other"}));
    EXPECT_EQ(live.builds(), builds + 1);
}

TEST_F(LiveIndexTest, FindsAFolderThatDidNotExistYet) {
    // Not even the data home's parent folders are there.
    desktop::LiveIndex nested({tree.path("home/.local/share/applications")}, {});
    auto lookup = [&] { return desktop::match(nested.current(), {.windowClass = "late"}, nullptr); };
    EXPECT_EQ(lookup(), std::nullopt);
    fs::create_directories(tree.path("home/.local"));
    EXPECT_EQ(lookup(), std::nullopt);
    auto builds = nested.builds();
    tree.write("home/.local/other", "");  // beside the missing path: no rebuild for it
    EXPECT_EQ(lookup(), std::nullopt);
    EXPECT_EQ(nested.builds(), builds);
    tree.write("home/.local/share/applications/late.desktop", app("Late"));
    EXPECT_EQ(lookup(), (DesktopEntry{"late", "Late"}));

    // Removed and made again.
    fs::remove_all(tree.path("home/.local/share"));
    EXPECT_EQ(lookup(), std::nullopt);
    tree.write("home/.local/share/applications/late.desktop", app("Again"));
    EXPECT_EQ(lookup(), (DesktopEntry{"late", "Again"}));
}

}  // namespace
