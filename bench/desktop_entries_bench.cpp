// The desktop entry index over a generated tree of 1,000 entries: building
// it, and matching one window against it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/desktop_entries.h"

namespace {

namespace fs = std::filesystem;

constexpr int entryCount = 1000;

// 1,000 entries of a typical desktop's size (a dozen translations of Name and
// Comment, keywords, an action group), a tenth of them in vendor subfolders,
// split over a data home and two system directories.
class Tree {
public:
    Tree() {
        std::string pattern = (fs::temp_directory_path() / "palvern-entries-bench-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        for (int i = 0; i < entryCount; ++i) {
            std::string dir = dirs()[i % 3];
            std::string file = "org.example.App" + std::to_string(i) + ".desktop";
            if (i % 10 == 0) file = "vendor" + std::to_string(i % 7) + "/app" + std::to_string(i) + ".desktop";
            fs::path path = dir + "/" + file;
            fs::create_directories(path.parent_path());
            std::ofstream(path) << contents(i);
        }
    }
    ~Tree() { fs::remove_all(root_); }

    std::vector<std::string> dirs() const {
        return {root_ + "/home/applications", root_ + "/local/applications", root_ + "/usr/applications"};
    }

private:
    static std::string contents(int i) {
        const std::string n = std::to_string(i);
        std::string s = "[Desktop Entry]\nType=Application\nName=Example Application " + n + "\n";
        for (const char* lang : {"de", "fr", "es", "it", "pt_BR", "ru", "ja", "zh_CN", "pl", "nl", "sv", "cs"}) {
            s += "Name[" + std::string(lang) + "]=Beispielanwendung " + n + "\n";
            s += "Comment[" + std::string(lang) + "]=Does something useful with the files you have\n";
        }
        s += "Comment=Does something useful with the files you have\nExec=app" + n + " %U\nIcon=app" + n +
             "\nTerminal=false\nCategories=Utility;Office;\nKeywords=example;tool;files;\n"
             "MimeType=text/plain;application/x-example;\nStartupWMClass=AppClass" +
             n + "\nActions=new-window;\n\n[Desktop Action new-window]\nName=New Window\nExec=app" + n + " --new\n";
        return s;
    }

    std::string root_;
};

Tree& tree() {
    static Tree t;
    return t;
}

void BM_buildIndex1000(benchmark::State& state) {
    const auto dirs = tree().dirs();
    const auto locale = desktop::parseLocale("de_DE.UTF-8");
    for (auto _ : state) {
        auto index = desktop::Index::build(dirs, locale);
        benchmark::DoNotOptimize(index.size());
    }
}
BENCHMARK(BM_buildIndex1000)->Unit(benchmark::kMillisecond);

// The entries installed on this machine, for this environment.
void BM_buildIndexThisMachine(benchmark::State& state) {
    const auto dirs = desktop::applicationDirsFromEnvironment();
    const auto locale = desktop::localeFromEnvironment();
    std::size_t entries = 0;
    for (auto _ : state) {
        auto index = desktop::Index::build(dirs, locale);
        entries = index.size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_buildIndexThisMachine)->Unit(benchmark::kMillisecond);

void lookup(benchmark::State& state, const desktop::WindowIdentity& window) {
    static const auto index = desktop::Index::build(tree().dirs(), desktop::parseLocale("de_DE.UTF-8"));
    if (!desktop::match(index, window, nullptr) && window.windowClass != "NoSuchApp") {
        state.SkipWithError("no match");
        return;
    }
    for (auto _ : state) {
        auto entry = desktop::match(index, window, nullptr);
        benchmark::DoNotOptimize(entry);
    }
}

// Step 1: the class is an entry's StartupWMClass (the usual case).
void BM_lookupStartupWMClass(benchmark::State& state) {
    lookup(state, {.instance = "appclass500", .windowClass = "AppClass500"});
}
BENCHMARK(BM_lookupStartupWMClass);

// Step 2: the instance is a desktop file ID behind a vendor-style prefix's miss.
void BM_lookupDesktopFileId(benchmark::State& state) {
    lookup(state, {.instance = "org.example.App501", .windowClass = "Org.example.App501"});
}
BENCHMARK(BM_lookupDesktopFileId);

// Every step tried and missed (no process: no sandbox to read).
void BM_lookupMiss(benchmark::State& state) {
    lookup(state, {.instance = "nosuchapp", .windowClass = "NoSuchApp", .applicationId = "org.example.None"});
}
BENCHMARK(BM_lookupMiss);

// What a sample pays with the index built: the change check and the match.
void BM_liveIndexLookup(benchmark::State& state) {
    desktop::LiveIndex live(tree().dirs(), desktop::parseLocale("de_DE.UTF-8"));
    const desktop::WindowIdentity window{.instance = "appclass500", .windowClass = "AppClass500"};
    live.current();
    for (auto _ : state) {
        auto entry = desktop::match(live.current(), window, nullptr);
        benchmark::DoNotOptimize(entry);
    }
    if (live.builds() != 1) state.SkipWithError("rebuilt without a change");
}
BENCHMARK(BM_liveIndexLookup);

}  // namespace

BENCHMARK_MAIN();
