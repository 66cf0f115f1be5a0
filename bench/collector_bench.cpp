#include <benchmark/benchmark.h>

#include <string>

#include "core/collector.h"
#include "output/json_line.h"
#include "probes/probes.h"

namespace {

std::string repeatTo(std::string_view unit, std::size_t size) {
    std::string s;
    while (s.size() < size) s += unit;
    s.resize(size);
    return s;
}

void escape(benchmark::State& state, const std::string& title) {
    for (auto _ : state) {
        std::string out = jsonEscape(title);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * title.size()));
}

void BM_jsonEscapeAscii100(benchmark::State& state) {
    escape(state, repeatTo("Quarterly report - Draft (v3) - LibreOffice Writer ", 100));
}
BENCHMARK(BM_jsonEscapeAscii100);

void BM_jsonEscapeMixed100(benchmark::State& state) {
    // Quotation marks, a tab, a backslash and two- to four-byte UTF-8, 100 bytes.
    escape(state, repeatTo("\"R\xc3\xa9sum\xc3\xa9\"\t\\ \xe2\x80\x94 \xe6\x97\xa5\xe6\x9c\xac "
                           "\xf0\x9f\x98\x80 notes ",
                           100));
}
BENCHMARK(BM_jsonEscapeMixed100);

void BM_jsonEscapeAscii64KiB(benchmark::State& state) {
    escape(state, repeatTo("a window title that goes on and on ", 64 * 1024));
}
BENCHMARK(BM_jsonEscapeAscii64KiB);

void BM_emitSample(benchmark::State& state) {
    browserBundleIds = {browserTable.begin(), browserTable.end()};
    for (auto _ : state) emitSample("refresh");
}
BENCHMARK(BM_emitSample);

}  // namespace

BENCHMARK_MAIN();
