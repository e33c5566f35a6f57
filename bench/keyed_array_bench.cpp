// SPDX-License-Identifier: GPL-3.0-or-later
// KeyedArray at the size of a large message box: 100,000 items.
#include "common/keyed_array.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

constexpr int kItems = 100000;

struct Record {
    int value;
};

std::vector<std::string> makeKeys() {
    std::vector<std::string> keys;
    keys.reserve(kItems);
    // A permutation of 0..kItems-1 (7919 is prime to kItems), so the keys are
    // distinct but out of order and the sort has real work to do.
    for (int i = 0; i < kItems; ++i)
        keys.push_back("Folder" + std::to_string(static_cast<long long>(i) * 7919 % kItems));
    return keys;
}

void fill(KeyedArray<Record>& a, const std::vector<std::string>& keys) {
    for (int i = 0; i < kItems; ++i)
        (void)a.Add(keys[static_cast<size_t>(i)], std::make_unique<Record>(Record{i}));
}

void BM_Add(benchmark::State& state) {
    const auto keys = makeKeys();
    for (auto _ : state) {
        KeyedArray<Record> a(state.range(0) != 0, 10);
        fill(a, keys);
        benchmark::DoNotOptimize(a.Count());
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_Add)->Arg(0)->Arg(1)->ArgName("unique")->Unit(benchmark::kMillisecond);

void BM_FindKeyAll(benchmark::State& state) {
    const auto keys = makeKeys();
    KeyedArray<Record> a(true, 10);
    fill(a, keys);
    for (auto _ : state) {
        for (const auto& k : keys)
            benchmark::DoNotOptimize(a.FindKey(k));
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_FindKeyAll)->Unit(benchmark::kMillisecond);

void BM_FindObjectAll(benchmark::State& state) {
    KeyedArray<Record> a(false);
    fill(a, makeKeys());
    std::vector<const Record*> objects;
    for (int i = 0; i < a.Count(); ++i)
        objects.push_back(a.At(i));
    for (auto _ : state) {
        for (const Record* o : objects)
            benchmark::DoNotOptimize(a.FindObject(o));
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_FindObjectAll)->Unit(benchmark::kMillisecond);

void BM_SortByKey(benchmark::State& state) {
    const auto keys = makeKeys();
    for (auto _ : state) {
        state.PauseTiming();
        KeyedArray<Record> a(true, 10);
        fill(a, keys);
        state.ResumeTiming();
        benchmark::DoNotOptimize(a.SortByKey());
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SortByKey)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Collate as the program does: by the locale of the environment.
    std::setlocale(LC_ALL, "");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
