// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Each test gets a store file of its own.
class RegistryStore : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("reg");
        path_ = dir_ + "/store/registry.db";
        ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK);
    }
    HREGKEY key(const char* path) {
        HREGKEY k = HREGKEY_NONE;
        EXPECT_EQ(RegStore_CreateKey(HREGKEY_USER, path, &k), REGSTORE_OK);
        return k;
    }
    static std::string get(HREGKEY k, std::string_view name) {
        std::string data;
        EXPECT_EQ(RegStore_QueryValue(k, name, nullptr, &data), REGSTORE_OK) << name;
        return data;
    }
    static std::vector<std::string> valueNames(HREGKEY k) {
        std::vector<std::string> names;
        RegStore_ForEachValue(k, [&](std::string_view n, uint32_t, std::string_view) {
            names.emplace_back(n);
            return true;
        });
        return names;
    }
    std::string dir_, path_;
};

// Value text that tells from its name what it must be, so a reader can see
// a torn or mixed-up write.
std::string payload(int i) {
    std::string s = "msg-" + std::to_string(i) + ":";
    while (s.size() < 300)
        s += static_cast<char>('a' + (i + s.size()) % 26);
    return s;
}

TEST_F(RegistryStore, NamesIgnoreCaseAndKeepTheirOwn) {
    const HREGKEY k = key("Software\\Corvale\\Inboxwarden");
    HREGKEY again = HREGKEY_NONE;
    EXPECT_EQ(RegStore_OpenKey(HREGKEY_USER, "SOFTWARE\\corvale\\\\INBOXWARDEN\\", &again),
              REGSTORE_OK);
    EXPECT_EQ(again, k);

    ASSERT_EQ(RegStore_SetValue(k, "CheckCmd", REGTYPE_SZ, "one"), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(k, "CHECKCMD", REGTYPE_SZ, "two"), REGSTORE_OK);
    EXPECT_EQ(get(k, "checkcmd"), "two");
    EXPECT_EQ(valueNames(k), std::vector<std::string>{"CheckCmd"});

    std::string name;
    HREGKEY parent = HREGKEY_NONE;
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, "software\\CORVALE", &parent), REGSTORE_OK);
    ASSERT_EQ(RegStore_EnumKey(parent, 0, &name), REGSTORE_OK);
    EXPECT_EQ(name, "Inboxwarden");

    HREGKEY missing = HREGKEY_NONE;
    EXPECT_EQ(RegStore_OpenKey(HREGKEY_USER, "Software\\Nobody", &missing), REGSTORE_E_NOT_FOUND);
}

// Message ids are told apart by case: the values of a MsgBox key compare
// their names exactly, wherever they are written, copied or deleted.
TEST_F(RegistryStore, MessageIdsCompareExactly) {
    const HREGKEY box = key("Root\\Acc\\msgbox");
    ASSERT_EQ(RegStore_SetValue(box, "CaseId", REGTYPE_SZ, "upper"), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(box, "caseid", REGTYPE_SZ, "lower"), REGSTORE_OK);
    EXPECT_EQ(get(box, "CaseId"), "upper");
    EXPECT_EQ(get(box, "caseid"), "lower");
    EXPECT_EQ(RegStore_QueryValue(box, "CASEID", nullptr, nullptr), REGSTORE_E_NOT_FOUND);
    EXPECT_EQ(RegStore_DeleteValue(box, "CASEID"), REGSTORE_E_NOT_FOUND);

    const HREGKEY copy = key("Root\\Copy");
    ASSERT_EQ(RegStore_CopyTree(key("Root\\Acc"), copy), REGSTORE_OK);
    HREGKEY copied = HREGKEY_NONE;
    ASSERT_EQ(RegStore_OpenKey(copy, "MsgBox", &copied), REGSTORE_OK);
    EXPECT_EQ(valueNames(copied), (std::vector<std::string>{"CaseId", "caseid"}));
    ASSERT_EQ(RegStore_DeleteValue(box, "caseid"), REGSTORE_OK);
    EXPECT_EQ(valueNames(box), std::vector<std::string>{"CaseId"});

    // Copied into a key of settings, names that differ in case are one value.
    const HREGKEY plain = key("Root\\Plain");
    ASSERT_EQ(RegStore_SetValue(plain, "CASEID", REGTYPE_SZ, "old"), REGSTORE_OK);
    ASSERT_EQ(RegStore_CopyTree(copied, plain), REGSTORE_OK);
    EXPECT_EQ(valueNames(plain), std::vector<std::string>{"CASEID"});
    EXPECT_EQ(get(plain, "caseid"), "lower");
}

// A store written by the version that compared every value name ignoring
// case opens with its records, whose names then compare exactly.
TEST_F(RegistryStore, AnOlderStoreKeepsItsRecords) {
    const std::string old = dir_ + "/v1.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(old.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, R"SQL(
        CREATE TABLE keys(id INTEGER PRIMARY KEY,
          parent INTEGER REFERENCES keys(id) ON DELETE CASCADE, name TEXT NOT NULL COLLATE NOCASE);
        CREATE UNIQUE INDEX keys_by_name ON keys(parent, name);
        CREATE TABLE vals(id INTEGER PRIMARY KEY,
          key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
          name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL);
        CREATE UNIQUE INDEX vals_by_name ON vals(key, name);
        INSERT INTO keys VALUES(1, NULL, ''), (2, 1, 'Acc'), (3, 2, 'MsgBox');
        INSERT INTO vals(key, name, type, data) VALUES(2, 'ChkServer', 1, 'pop'),
          (3, 'CaseId', 1, 'one'), (3, 'u2', 1, 'two');
        PRAGMA user_version = 1;)SQL",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    ASSERT_EQ(RegStore_Open(old), REGSTORE_OK);
    HREGKEY acc = HREGKEY_NONE, box = HREGKEY_NONE;
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, "acc", &acc), REGSTORE_OK);
    ASSERT_EQ(RegStore_OpenKey(acc, "MsgBox", &box), REGSTORE_OK);
    EXPECT_EQ(valueNames(box), (std::vector<std::string>{"CaseId", "u2"}));
    ASSERT_EQ(RegStore_SetValue(box, "caseid", REGTYPE_SZ, "three"), REGSTORE_OK);
    EXPECT_EQ(get(box, "CaseId"), "one");
    EXPECT_EQ(get(box, "caseid"), "three");
    ASSERT_EQ(RegStore_SetValue(acc, "CHKSERVER", REGTYPE_SZ, "pop2"), REGSTORE_OK);
    EXPECT_EQ(valueNames(acc), std::vector<std::string>{"ChkServer"});
    EXPECT_EQ(get(acc, "chkserver"), "pop2");
}

TEST_F(RegistryStore, EnumerationOrders) {
    const HREGKEY k = key("Order");
    for (const char* sub : {"beta", "Alpha", "gamma", "ALPHA2", "Delta"}) {
        HREGKEY s;
        ASSERT_EQ(RegStore_CreateKey(k, sub, &s), REGSTORE_OK);
    }
    std::vector<std::string> keys;
    std::string name;
    for (uint32_t i = 0; RegStore_EnumKey(k, i, &name) == REGSTORE_OK; ++i)
        keys.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "Delta", "gamma"}));
    EXPECT_EQ(RegStore_EnumKey(k, 5, &name), REGSTORE_E_NO_MORE_ITEMS);

    // Values keep the order of their first write; rewriting keeps the place,
    // deleting and writing again moves to the end.
    for (const char* v : {"z", "b", "m", "a"})
        RegStore_SetValue(k, v, REGTYPE_SZ, v);
    RegStore_SetValue(k, "b", REGTYPE_DWORD, std::string(4, '\1'));
    ASSERT_EQ(RegStore_DeleteValue(k, "Z"), REGSTORE_OK);
    RegStore_SetValue(k, "z", REGTYPE_SZ, "again");
    EXPECT_EQ(valueNames(k), (std::vector<std::string>{"b", "m", "a", "z"}));
    EXPECT_EQ(RegStore_DeleteValue(k, "nothing"), REGSTORE_E_NOT_FOUND);
}

TEST_F(RegistryStore, BinaryDataRoundTripsExactly) {
    const HREGKEY k = key("Bytes");
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    ASSERT_EQ(RegStore_SetValue(k, "all", REGTYPE_BINARY, all), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(k, "", REGTYPE_SZ, std::string_view("default\0", 8)), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(k, "empty", REGTYPE_BINARY, ""), REGSTORE_OK);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(RegStore_QueryValue(k, "all", &type, &data), REGSTORE_OK);
    EXPECT_EQ(type, REGTYPE_BINARY);
    EXPECT_EQ(data, all);
    EXPECT_EQ(get(k, ""), std::string("default\0", 8));
    EXPECT_EQ(get(k, "empty"), "");
    EXPECT_EQ(RegStore_SetValue(k, std::string_view("nul\0name", 8), REGTYPE_SZ, "x"),
              REGSTORE_E_INVALID);
    HREGKEY sub = HREGKEY_NONE;
    EXPECT_EQ(RegStore_CreateKey(k, std::string(256, 'k'), &sub), REGSTORE_E_INVALID);
}

TEST_F(RegistryStore, DeleteAndCopyWholeBranches) {
    const HREGKEY acc = key("Root\\Account");
    const HREGKEY box = key("Root\\Account\\MsgBox");
    RegStore_SetValue(acc, "ChkServer", REGTYPE_SZ, "pop.example.invalid");
    RegStore_SetValue(box, "m1", REGTYPE_SZ, "one");
    RegStore_SetValue(box, "m2", REGTYPE_SZ, "two");

    // Copy merges into an existing key: values present in both take the source's.
    const HREGKEY copy = key("Root\\Renamed");
    RegStore_SetValue(copy, "ChkServer", REGTYPE_SZ, "old");
    RegStore_SetValue(copy, "Kept", REGTYPE_SZ, "kept");
    ASSERT_EQ(RegStore_CopyTree(acc, copy), REGSTORE_OK);
    EXPECT_EQ(get(copy, "ChkServer"), "pop.example.invalid");
    EXPECT_EQ(get(copy, "Kept"), "kept");
    HREGKEY copiedBox = HREGKEY_NONE;
    ASSERT_EQ(RegStore_OpenKey(copy, "msgbox", &copiedBox), REGSTORE_OK);
    EXPECT_EQ(valueNames(copiedBox), (std::vector<std::string>{"m1", "m2"}));

    // Into itself or its own subtree would never end.
    EXPECT_EQ(RegStore_CopyTree(acc, box), REGSTORE_E_INVALID);
    EXPECT_EQ(RegStore_CopyTree(acc, acc), REGSTORE_E_INVALID);

    HREGKEY root = HREGKEY_NONE;
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, "Root", &root), REGSTORE_OK);
    ASSERT_EQ(RegStore_DeleteTree(root, "ACCOUNT"), REGSTORE_OK);
    HREGKEY gone = HREGKEY_NONE;
    EXPECT_EQ(RegStore_OpenKey(root, "Account\\MsgBox", &gone), REGSTORE_E_NOT_FOUND);
    EXPECT_EQ(RegStore_QueryValue(box, "m1", nullptr, nullptr), REGSTORE_E_NOT_FOUND);
    EXPECT_EQ(RegStore_DeleteTree(root, "Account"), REGSTORE_E_NOT_FOUND);
    EXPECT_EQ(RegStore_DeleteTree(HREGKEY_USER, ""), REGSTORE_E_INVALID);

    // A key deleted behind a holder's back refuses writes instead of
    // pretending they happened.
    EXPECT_EQ(RegStore_SetValue(acc, "Late", REGTYPE_SZ, "x"), REGSTORE_E_KEY_DELETED);
    HREGKEY child = HREGKEY_NONE;
    EXPECT_EQ(RegStore_CreateKey(acc, "Child", &child), REGSTORE_E_KEY_DELETED);
    EXPECT_EQ(RegStore_QueryInfoKey(acc, nullptr, nullptr, nullptr, nullptr, nullptr),
              REGSTORE_E_KEY_DELETED);
    // The copy is untouched by the delete.
    EXPECT_EQ(valueNames(copiedBox).size(), 2u);
}

// A guard inside another batch cannot undo it: its cancel only ends the
// inner level, and no guard leaves a batch open that would hold the store.
TEST_F(RegistryStore, BatchGuardsCancelOnlyTheOutermost) {
    const HREGKEY k = key("Guard");
    {
        RegStoreBatch outer;
        ASSERT_EQ(RegStore_SetValue(k, "kept", REGTYPE_SZ, "x"), REGSTORE_OK);
        RegStoreBatch inner;
        ASSERT_EQ(RegStore_SetValue(k, "inner", REGTYPE_SZ, "x"), REGSTORE_OK);
        EXPECT_EQ(inner.Cancel(), REGSTORE_E_INVALID);
        EXPECT_FALSE(inner.IsOpen());
    }
    EXPECT_EQ(valueNames(k).size(), 2u);
    {
        RegStoreBatch batch;
        ASSERT_EQ(RegStore_SetValue(k, "undone", REGTYPE_SZ, "x"), REGSTORE_OK);
        EXPECT_EQ(batch.Cancel(), REGSTORE_OK);
    }
    EXPECT_EQ(valueNames(k).size(), 2u);
    EXPECT_EQ(RegStore_EndBatch(), REGSTORE_E_INVALID);
}

TEST_F(RegistryStore, FilesArePrivateToTheUser) {
    const HREGKEY k = key("Private");
    ASSERT_EQ(RegStore_SetValue(k, "v", REGTYPE_SZ, "x"), REGSTORE_OK);
    for (const std::string& f : {path_, path_ + "-wal", path_ + "-shm"}) {
        struct stat st {};
        ASSERT_EQ(stat(f.c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    struct stat st {};
    ASSERT_EQ(stat((dir_ + "/store").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Two processes writing the same key at once: every write of both lands.
// (Threads, each on its connection, write at once in the memory-copy test.)
TEST_F(RegistryStore, TwoProcessesLoseNothing) {
    const HREGKEY k = key("Shared");
    constexpr int kPerProcess = 1500;
    std::vector<pid_t> kids;
    for (int p = 0; p < 2; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = 0;
            for (int i = 0; i < kPerProcess; ++i) {
                const int n = p * 100000 + i;
                if (RegStore_SetValue(k, std::to_string(n), REGTYPE_SZ, payload(n)) != REGSTORE_OK)
                    ++bad;
            }
            _exit(bad == 0 ? 0 : 1);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int seen = 0;
    RegStore_ForEachValue(k, [&](std::string_view name, uint32_t, std::string_view data) {
        EXPECT_EQ(data, payload(std::stoi(std::string(name))));
        ++seen;
        return true;
    });
    EXPECT_EQ(seen, 2 * kPerProcess);
}

// A writer killed in the middle of a burst: everything it reported as
// written is there, whole, after a restart, and nothing is half-written.
TEST_F(RegistryStore, KillDuringBurstLeavesNoTornValue) {
    const HREGKEY k = key("Burst");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        for (int i = 0;; ++i) {
            if (RegStore_SetValue(k, std::to_string(i), REGTYPE_SZ, payload(i)) != REGSTORE_OK)
                _exit(1);
            if (write(fds[1], &i, sizeof i) != sizeof i) _exit(1);
        }
    }
    close(fds[1]);
    int last = -1, n = 0;
    while (n < 400 && read(fds[0], &last, sizeof last) == sizeof last)
        ++n;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(last, 399);

    ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK); // a fresh connection, as after a restart
    HREGKEY reopened = HREGKEY_NONE;
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, "Burst", &reopened), REGSTORE_OK);
    int count = 0;
    RegStore_ForEachValue(reopened, [&](std::string_view name, uint32_t, std::string_view data) {
        EXPECT_EQ(data, payload(std::stoi(std::string(name))));
        ++count;
        return true;
    });
    EXPECT_GE(count, last + 1);
}

// A short command leaves its writes in the log for the next opener; a close
// with a checkpoint copies them into the file and empties the log.
TEST_F(RegistryStore, WritesLeftInTheLogAtCloseReachTheNextOpener) {
    RegStore_SetCheckpointOnClose(false);
    ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(key("Short"), "v", REGTYPE_SZ, "logged"), REGSTORE_OK);
    RegStore_SetCheckpointOnClose(true);
    ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK); // closes the first without a checkpoint
    EXPECT_FALSE(iwtest::ReadFile(path_ + "-wal").empty());
    EXPECT_EQ(get(key("Short"), "v"), "logged");

    ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK);
    EXPECT_TRUE(iwtest::ReadFile(path_ + "-wal").empty()) << "the file holds it all again";
    EXPECT_EQ(get(key("Short"), "v"), "logged");
}

// A damaged file is found, set aside and rebuilt in the command-line and
// program tests.

// The copy in memory for a full disk: it holds what the file and its log
// hold, takes writes from several threads at once, and never writes the file.
TEST_F(RegistryStore, AMemoryCopyReadsTheFileAndNeverWritesIt) {
    const HREGKEY k = key("Kept");
    ASSERT_EQ(RegStore_SetValue(k, "v", REGTYPE_SZ, "in the log"), REGSTORE_OK);
    const std::string file = iwtest::ReadFile(path_), log = iwtest::ReadFile(path_ + "-wal");
    ASSERT_FALSE(log.empty());

    ASSERT_EQ(RegStore_UseMemoryCopy(), REGSTORE_OK);
    EXPECT_TRUE(RegStore_IsMemoryCopy());
    EXPECT_EQ(get(k, "v"), "in the log");
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([k, t] {
            for (int i = 0; i < 100; ++i)
                ASSERT_EQ(RegStore_SetValue(k, std::to_string(t * 1000 + i), REGTYPE_SZ, "x"),
                          REGSTORE_OK);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(valueNames(k).size(), 301u);
    EXPECT_TRUE(iwtest::ReadFile(path_) == file);
    EXPECT_TRUE(iwtest::ReadFile(path_ + "-wal") == log);

    ASSERT_EQ(RegStore_Open(path_), REGSTORE_OK);
    EXPECT_FALSE(RegStore_IsMemoryCopy());
    EXPECT_EQ(valueNames(k).size(), 1u);
}

// Damage reported by a statement is only a reason to look: the quick check
// decides, and a store that passes it stays where it is.
TEST_F(RegistryStore, AStoreThatPassesTheQuickCheckIsNotSetAside) {
    const HREGKEY k = key("Kept");
    ASSERT_EQ(RegStore_SetValue(k, "v", REGTYPE_SZ, "x"), REGSTORE_OK);
    std::string aside = "?";
    EXPECT_EQ(RegStore_SetAsideIfDamaged(&aside), REGSTORE_OK);
    EXPECT_EQ(aside, "");
    EXPECT_EQ(get(k, "v"), "x");
}

} // namespace
