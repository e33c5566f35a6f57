// SPDX-License-Identifier: GPL-3.0-or-later
// The store, global settings and account table the engine and scheduler tests
// run on, with the recording UI and the fake clock installed.
#pragma once

#include "../support/temp_env.h"
#include "engine_fakes.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace iwtest {

inline void EnsureQtApp() {
    static int argc = 1;
    static char name[] = "engine-test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

class EngineEnv {
  public:
    explicit EngineEnv(DATETIME start) : timers(start) {}

    void Open() {
        EnsureQtApp();
        ASSERT_EQ(RegStore_Open(MakeTempDir("engine") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root);
        ASSERT_EQ(GlobalData_Load(root), 0u);
        ASSERT_EQ(Account_Initialize(root), 0u);
        UserMsg_SetHandler([this](std::string_view cap, std::string_view text, unsigned) {
            ui.Record("box " + std::string(cap) + ": " + std::string(text));
            return UM_IDOK;
        });
        ASSERT_EQ(MailCheck_Init(&ui, &timers), 0u);
    }
    void Close() {
        MailCheck_Stop();
        // Calls the worker gave up on must not reach the next test's UI.
        QCoreApplication::removePostedEvents(QCoreApplication::instance());
        Queue_Clear();
        Account_FreeAll();
        GlobalData_Free(0);
        Reg_SetMsgRootKey(nullptr);
        if (root) Reg_Close(root);
        root = nullptr;
        UserMsg_SetHandler(nullptr);
    }

    // Adds accounts (table order is name order) and returns them.
    std::vector<ACCOUNT*> AddAccounts(const std::vector<std::string>& names) {
        std::vector<ACCOUNT*> out;
        for (const auto& n : names) {
            uint32_t st = 0;
            ACCOUNT* a = Account_Add(n, &st);
            EXPECT_NE(a, nullptr) << n;
            out.push_back(a);
        }
        return out;
    }
    static int IndexOf(ACCOUNT* a) {
        int i = -1;
        Account_IndexOf(a, &i);
        return i;
    }

    RecordingUi ui;
    FakeTimers timers;
    REGKEY* root = nullptr;
};

} // namespace iwtest
