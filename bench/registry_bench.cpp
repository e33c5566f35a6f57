// SPDX-License-Identifier: GPL-3.0-or-later
// Settings store throughput: committed writes of message-sized values (what a
// check does for every new or changed message), one pass over a key of
// 100,000 values (what loading a large message box does) and the first open
// of a store of an older schema (what an update does once).
#include "platform/registry.h"
#include "settings/reg.h"
#include "stored_records.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string storeFile(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/iw-bench-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + name;
    std::filesystem::remove(path);
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    return path;
}

// A message record as the message box stores it: about 250 bytes of text.
std::string messageValue(int i) {
    return "1|2024-01-01 10:00:00|Sender " + std::to_string(i) +
           " <sender@example.invalid>|reply@example.invalid|test@example.invalid|"
           "Subject of message number " +
           std::to_string(i) + " with some words in it|12 KB|12345|0|" + std::string(60, 'x');
}

void BM_CommittedMessageWrites(benchmark::State& state) {
    RegStore_Open(storeFile("writes.db"));
    REGKEY* root = nullptr;
    Reg_OpenRoot(&root, REG_ROOT_PATH);
    HREGKEY box = HREGKEY_NONE;
    Reg_OpenSubKey(root, "Account\\MsgBox", &box);
    int i = 0;
    for (auto _ : state) {
        const std::string name = "UIDL-" + std::to_string(i);
        const std::string value = messageValue(i);
        if (Reg_SetValue(root, box, name.c_str(), value.c_str(), 0, REG_T_STR) != 0)
            state.SkipWithError("write failed");
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
    Reg_Close(root);
}
BENCHMARK(BM_CommittedMessageWrites)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_EnumerateValues(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    RegStore_Open(storeFile("enum.db"));
    HREGKEY box = HREGKEY_NONE;
    RegStore_CreateKey(HREGKEY_USER, "Software\\Corvale\\Inboxwarden\\Big\\MsgBox", &box);
    RegStore_BeginBatch();
    for (int i = 0; i < n; ++i) {
        const std::string v = messageValue(i);
        RegStore_SetValue(box, "UIDL-" + std::to_string(i), REGTYPE_SZ,
                          std::string_view(v.c_str(), v.size() + 1));
    }
    RegStore_EndBatch();
    for (auto _ : state) {
        size_t count = 0, bytes = 0;
        RegStore_ForEachValue(box, [&](std::string_view name, uint32_t, std::string_view data) {
            ++count;
            bytes += name.size() + data.size();
            return true;
        });
        if (count != static_cast<size_t>(n)) state.SkipWithError("values missing");
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_EnumerateValues)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening a store written by the version whose value names all ignored case:
// 10 accounts of 10,000 records each, migrated on the first open.
void BM_MigrateOlderStore(benchmark::State& state) {
    const std::string older = storeFile("older.db");
    RegStore_Open(older);
    RegStore_BeginBatch();
    for (int a = 0; a < 10; ++a) {
        HREGKEY box = HREGKEY_NONE;
        RegStore_CreateKey(
            HREGKEY_USER,
            "Software\\Corvale\\Inboxwarden\\Account" + std::to_string(a) + "\\MsgBox", &box);
        Bench_StoreRecords(box, "UIDL-" + std::to_string(a) + "-", 10000);
    }
    RegStore_EndBatch();
    const std::string work = storeFile("migrated.db");
    RegStore_Open(work); // lets go of the older file
    sqlite3* db = nullptr;
    sqlite3_open(older.c_str(), &db);
    sqlite3_exec(db,
                 "DROP INDEX vals_by_name; CREATE UNIQUE INDEX vals_by_name ON vals(key, name);"
                 "PRAGMA user_version = 1; PRAGMA wal_checkpoint(TRUNCATE);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    for (auto _ : state) {
        state.PauseTiming();
        RegStore_Open(storeFile("empty.db"));
        storeFile("migrated.db");
        std::filesystem::copy_file(older, work);
        state.ResumeTiming();
        if (RegStore_Open(work) != REGSTORE_OK) state.SkipWithError("open failed");
    }
    uint32_t values = 0;
    HREGKEY box = HREGKEY_NONE;
    RegStore_OpenKey(HREGKEY_USER, "Software\\Corvale\\Inboxwarden\\Account9\\MsgBox", &box);
    RegStore_QueryInfoKey(box, nullptr, nullptr, &values, nullptr, nullptr);
    if (values != 10000) state.SkipWithError("records missing after the migration");
}
BENCHMARK(BM_MigrateOlderStore)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
