// Samples the frontmost application N times back to back, as the refresh
// trigger does, then asks its tab URL alone N times, and writes the figures
// into the file named second (the desktop sends standard error to /dev/null):
// the CPU time per sample, the median wall time of a sample and of the URL
// lookup, and the D-Bus calls per lookup. Records go to standard output.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/collector.h"
#include "platform/linux/tab_url.h"
#include "platform/linux/window_system.h"
#include "platform/platform.h"

static double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

static double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

template <typename F>
static double elapsedUs(F f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 500;
    std::FILE* figures = std::fopen(argc > 2 ? argv[2] : "url_loop.txt", "w");
    if (!figures) return 1;
    emitSample("start");  // connects, and fills the process cache
    ws::dropSnapshot();

    // CPU time of samples alone, as the refresh trigger makes them.
    const double cpuStart = cpuMs();
    for (int i = 0; i < count; ++i) {
        emitSample("refresh");
        ws::dropSnapshot();
    }
    const double cpuPerSample = (cpuMs() - cpuStart) / count;

    // Wall times of a sample and of a lookup alone, taken in turns so that
    // both see the same load.
    std::vector<double> samples;
    std::vector<double> lookups;
    std::string url;
    std::uint64_t calls = 0;
    for (int i = 0; i < count; ++i) {
        samples.push_back(elapsedUs([] { emitSample("refresh"); }));
        ws::dropSnapshot();
        auto app = platform::frontmostApplication();
        const std::string bundleId = app && app->bundleIdentifier ? *app->bundleIdentifier : "";
        const std::string name = app && app->localizedName ? *app->localizedName : "Unknown";
        const std::uint64_t before = linux_desktop::accessibilityBusCalls();
        lookups.push_back(elapsedUs([&] { url = platform::frontmostTabUrl(bundleId, name).value_or(""); }));
        calls += linux_desktop::accessibilityBusCalls() - before;
        ws::dropSnapshot();
    }
    const double callsPerLookup = static_cast<double>(calls) / count;

    std::fprintf(figures, "url %s\ncpu_ms_per_sample %.4f\nsample_us_median %.1f\nurl_us_median %.1f\n"
                 "dbus_calls_per_url %.2f\n",
                 url.c_str(), cpuPerSample, median(samples), median(lookups), callsPerLookup);
    return std::fclose(figures) == 0 ? 0 : 1;
}
