// SPDX-License-Identifier: GPL-3.0-or-later
// The filter rules' worst cases: a hostile regular expression and a header at
// the cap. The matcher's work is text x program size, so these stay bounded
// where a backtracking matcher would not finish.
#include "message/filter_rules.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string hugeHeader() {
    std::string h = "From: someone@example.org\r\nSubject: ";
    h.append(FILTER_MAX_HEADER, 'a');
    return h + "\r\n\r\n";
}

void run(benchmark::State& state, FILTER_RULE rule) {
    FILTER_RULESET set;
    set.Assign({rule});
    const std::string text = hugeHeader();
    uint32_t actions = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(set.Match(text, &actions));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FILTER_MAX_HEADER);
}

void BM_NestedQuantifiers(benchmark::State& state) {
    run(state, {"Subject", FILTER_MATCH::Regex, false, 1, "(a+)+b"});
}
void BM_LargestProgram(benchmark::State& state) {
    // Near the program cap: (a?){n}a{n} over a run of a's.
    run(state, {"", FILTER_MATCH::Regex, false, 1, "(a?){200}a{200}b"});
}
void BM_Contains(benchmark::State& state) {
    run(state, {"Subject", FILTER_MATCH::Contains, false, 1, "aaab"});
}

} // namespace

BENCHMARK(BM_NestedQuantifiers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargestProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contains)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
