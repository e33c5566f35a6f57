// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "message/filter.h"
#include "platform/registry.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

class FilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("flt") + "/registry.db"), REGSTORE_OK);
    }
    void TearDown() override { Filter_Unload(); }
    static void usePlugin(const char* sub) {
        Filter_Unload();
        setenv("INBOXWARDEN_PLUGIN_DIR", (std::string(IW_PLUGIN_DIR) + "/" + sub).c_str(), 1);
    }
    static std::string storedText(const std::string& key, const char* name) {
        HREGKEY k;
        std::string data;
        if (RegStore_OpenKey(HREGKEY_USER, key, &k) || RegStore_QueryValue(k, name, nullptr, &data))
            return "<absent>";
        return data.substr(0, data.find('\0'));
    }
};

TEST_F(FilterTest, ActionsComeFromThePluginAndItsStore) {
    usePlugin("plugin-good");
    ASSERT_EQ(Filter_Load(), 0u);
    // The plug-in reads its rules below the account's key through the store callbacks.
    HREGKEY k;
    ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Work", &k),
              REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(k, "TestAction", REGTYPE_DWORD, std::string("\x40\0\0\0", 4)),
              REGSTORE_OK);
    FILTER_HANDLE work = nullptr, global = nullptr;
    ASSERT_EQ(Filter_Open("Work", "ignored for accounts", &work), 0u);
    ASSERT_EQ(Filter_Open(FILTER_GLOBAL_NAME, "/path/rules.txt", &global), 0u);
    EXPECT_EQ(Filter_GetMsgAction(work, "Subject: hi\r\n"), 0x40u);
    EXPECT_EQ(Filter_GetMsgAction(work, "X-Test-Action: 0x96\r\n"), 0x96u);
    EXPECT_EQ(Filter_GetMsgAction(global, "Subject: hi\r\n"), 0u);
    EXPECT_EQ(Filter_IsEmpty(global), 1);
    EXPECT_EQ(Filter_Reload(global, 1), 1u); // not exported: the default
    const std::string root = REG_ROOT_PATH;
    EXPECT_EQ(storedText(root + "\\Work", "TestDisplayName"), "Work");
    EXPECT_EQ(storedText(root + "\\Work", "TestFilterFile"), "<absent>");
    EXPECT_EQ(storedText(root + "\\_GLB_SETTINGS_", "TestDisplayName"), "Global Filter");
    EXPECT_EQ(storedText(root + "\\_GLB_SETTINGS_", "TestFilterFile"), "/path/rules.txt");
    EXPECT_EQ(Filter_Close(&work), 0u);
    EXPECT_EQ(work, nullptr);
    EXPECT_EQ(Filter_Close(&global), 0u);
}

TEST_F(FilterTest, CallsIntoThePluginAreSerialised) {
    usePlugin("plugin-good");
    FILTER_HANDLE h = nullptr;
    ASSERT_EQ(Filter_Open("Busy", nullptr, &h), 0u);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([h] {
            for (int i = 0; i < 500; ++i)
                Filter_GetMsgAction(h, "Subject: x\r\n");
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(Filter_GetCount(h), 2000);
    Filter_Close(&h);
}

} // namespace
