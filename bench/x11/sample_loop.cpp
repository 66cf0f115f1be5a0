// Makes N samples back to back, each in a callout of its own as the refresh
// trigger makes them, and reports the process's CPU time and resident size
// in the file REPORT (sample_loop N REPORT): the desktop points standard
// error at /dev/null. Records go to standard output.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/collector.h"
#include "platform/linux/window_system.h"

static long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

static double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::FILE* report = argc > 2 ? std::fopen(argv[2], "w") : nullptr;
    if (!report) return 2;
    emitSample("start");  // connects
    ws::dropSnapshot();
    const double start = cpuMs();
    for (int i = 1; i <= count; ++i) {
        emitSample("refresh");
        ws::dropSnapshot();
        if (i == 1000) std::fprintf(report, "cpu_ms_1000 %.3f\nrss_kb_1000 %ld\n", cpuMs() - start, residentKb());
    }
    std::fprintf(report, "cpu_ms_all %.3f\nrss_kb_end %ld\n", cpuMs() - start, residentKb());
    std::fclose(report);
    return 0;
}
