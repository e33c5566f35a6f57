// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a profile for the start-up benchmark: `accounts` accounts with
// `records` stored messages each (none new, so loading rewrites nothing),
// global settings that keep the tree across runs (OptimizeStartup) and never
// check on their own. The store it passes through is the one of
// $INBOXWARDEN_REGISTRY; its tree is deleted again afterwards, so the first
// start from the profile takes the full path.
// usage: iw_bench_startup_fixture PROFILE ACCOUNTS RECORDS
#include "platform/registry.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/profile.h"
#include "settings/reg.h"
#include "stored_records.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PROFILE ACCOUNTS RECORDS\n", argv[0]);
        return 2;
    }
    const std::string profile = argv[1];
    const int accounts = std::atoi(argv[2]);
    const int records = std::atoi(argv[3]);
    if (RegStore_Open() != REGSTORE_OK) return 1;
    RegStore_DeleteTree(HREGKEY_USER, "Software");
    REGKEY* root = nullptr;
    if (Reg_OpenRoot(&root, REG_ROOT_PATH) != 0) return 1;
    GlobalData_Load(root);
    GlobalData_GetRecord()->OptimizeStartup = 1;
    GlobalData_SetParam(GD_ENABLED, 0);
    GlobalData_Save();
    Account_Initialize(root);
    RegStore_BeginBatch();
    for (int a = 0; a < accounts; ++a) {
        uint32_t status = 0;
        ACCOUNT* acc = Account_Add("Account " + std::to_string(a), &status);
        if (!acc) return 1;
        acc->ChkServer = "pop.example.invalid";
        acc->ChkLogin = "user" + std::to_string(a);
        if (Account_Save(acc, -1) != 0) return 1;
        HREGKEY box = HREGKEY_NONE;
        RegStore_CreateKey(root->key, acc->Name + "\\MsgBox", &box);
        Bench_StoreRecords(box, "uidl-" + std::to_string(a) + "-", records);
    }
    RegStore_EndBatch();
    const uint32_t rc =
        Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, profile);
    Account_FreeAll();
    GlobalData_Free(0);
    Reg_Close(root);
    RegStore_DeleteTree(HREGKEY_USER, "Software");
    return rc == 0 ? 0 : 1;
}
