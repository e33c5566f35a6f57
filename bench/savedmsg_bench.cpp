// SPDX-License-Identifier: GPL-3.0-or-later
// A saved-message folder of 50,000 files: opening the root (counting the
// full saves) and rebuilding the folder's message box from the file names.
#include "engine/savedmsg.h"
#include "message/savedfile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int kFiles = 50000;

const std::string& benchRoot() {
    static const std::string root = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string dir =
            std::string(tmp && *tmp ? tmp : "/tmp") + "/iw-bench-saved-" + std::to_string(getpid());
        std::filesystem::create_directories(dir + "/Big");
        for (int i = 0; i < kFiles; ++i) {
            DATETIME d{static_cast<uint16_t>(2000 + i % 25),
                       static_cast<uint16_t>(1 + i % 12),
                       0,
                       static_cast<uint16_t>(1 + i % 28),
                       static_cast<uint16_t>(i % 24),
                       static_cast<uint16_t>(i % 60),
                       static_cast<uint16_t>(i / 60 % 60),
                       0};
            const std::string name = SavedFile_Name(d, "Subject number " + std::to_string(i),
                                                    "uidl-" + std::to_string(i), i % 10 == 0);
            std::ofstream(dir + "/Big/" + name) << "Subject: x\r\n\r\nbody\r\n";
        }
        return dir;
    }();
    return root;
}

void BM_OpenRoot(benchmark::State& state) {
    const std::string& root = benchRoot();
    for (auto _ : state) {
        SavedMsg_Open(root);
        benchmark::DoNotOptimize(SavedMsg_GetFileCount("Big", -1));
        SavedMsg_Close();
    }
}
BENCHMARK(BM_OpenRoot)->Unit(benchmark::kMillisecond);

void BM_ListFolder(benchmark::State& state) {
    std::vector<SAVEDFILE_ENTRY> entries;
    for (auto _ : state)
        SavedFile_List(benchRoot() + "/Big", &entries);
    state.counters["files"] = static_cast<double>(entries.size());
}
BENCHMARK(BM_ListFolder)->Unit(benchmark::kMillisecond);

void BM_LoadFolder(benchmark::State& state) {
    SavedMsg_Open(benchRoot());
    for (auto _ : state)
        benchmark::DoNotOptimize(SavedMsg_LoadFolder("Big", -1));
    state.counters["records"] = MsgBox_GetCount(SavedMsg_GetBox("Big", -1));
    SavedMsg_Close();
}
BENCHMARK(BM_LoadFolder)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(benchRoot());
    return 0;
}
