// SPDX-License-Identifier: GPL-3.0-or-later
// Settings at the size of a large mailbox: reading 100,000 message values
// into a box at start-up (Account_GetMessages), and writing and reading a
// profile that holds them.
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/msgbox.h"
#include "settings/profile.h"
#include "settings/reg.h"
#include "stored_records.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRecords = 100000;

std::string benchDir() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/iw-bench-settings-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    return dir;
}

// A store holding one account with kRecords stored messages (none new, so
// loading rewrites nothing).
void fillStore(const std::string& dir) {
    RegStore_Open(dir + "/registry.db");
    RegStore_DeleteTree(HREGKEY_USER, "Software");
    HREGKEY box = HREGKEY_NONE;
    RegStore_CreateKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Big\\MsgBox", &box);
    RegStore_BeginBatch();
    Bench_StoreRecords(box, "uidl-", kRecords);
    RegStore_EndBatch();
}

void BM_GetMessages(benchmark::State& state) {
    const std::string dir = benchDir();
    fillStore(dir);
    REGKEY* root = nullptr;
    Reg_OpenRoot(&root, REG_ROOT_PATH);
    for (auto _ : state) {
        state.PauseTiming();
        Account_Initialize(root);
        state.ResumeTiming();
        Account_GetMessages(root);
        if (MsgBox_GetCount(Account_Get("Big", -1)->hMsgBox) != kRecords)
            state.SkipWithError("records missing");
    }
    Account_FreeAll();
    Reg_Close(root);
    state.SetItemsProcessed(state.iterations() * kRecords);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_GetMessages)->Unit(benchmark::kMillisecond);

void BM_ProfileExport(benchmark::State& state) {
    const std::string dir = benchDir();
    fillStore(dir);
    const std::string file = dir + "/big.iwpf";
    for (auto _ : state)
        if (Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, file) != 0)
            state.SkipWithError("export failed");
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ProfileExport)->Unit(benchmark::kMillisecond);

// Both imports of the start-up: the settings pass and the message pass.
void BM_ProfileImport(benchmark::State& state) {
    const std::string dir = benchDir();
    fillStore(dir);
    const std::string file = dir + "/big.iwpf";
    Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, file);
    for (auto _ : state) {
        state.PauseTiming();
        RegStore_DeleteTree(HREGKEY_USER, "Software");
        state.ResumeTiming();
        Profile_ImportSettings(file, PROFILE_MAGIC, PROFILE_ROOT_NAME, REG_ROOT_PATH, nullptr);
        Profile_ImportMessages(file);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ProfileImport)->Unit(benchmark::kMillisecond);

} // namespace
BENCHMARK_MAIN();
