// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped filter plug-in through the program's loader and the real store.
#include "../support/temp_env.h"
#include "common/status.h"
#include "message/filter.h"
#include "message/filter_rules.h"
#include "platform/registry.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

const std::string kRoot = REG_ROOT_PATH;

class ShippedFilter : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("iwf");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        Filter_Unload();
        setenv("INBOXWARDEN_PLUGIN_DIR", IW_SHIPPED_FILTER_DIR, 1);
        ASSERT_EQ(Filter_Load(), 0u);
    }
    void TearDown() override {
        Filter_Close(&work_);
        Filter_Close(&global_);
        Filter_Unload();
    }
    std::string file(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        iwtest::WriteFile(path, text);
        return path;
    }
    static std::string stored(const std::string& key) {
        HREGKEY k;
        std::string data;
        if (RegStore_OpenKey(HREGKEY_USER, key, &k) ||
            RegStore_QueryValue(k, "FilterRules", nullptr, &data))
            return "<absent>";
        return data.substr(0, data.find('\0'));
    }
    std::string dir_;
    FILTER_HANDLE work_ = nullptr, global_ = nullptr;
};

const std::string kRules = std::string(FILTER_FILE_MAGIC) +
                           "\nFrom\tcontains\tnocase\tdelete\tspam@ads.example\n"
                           "Subject\tregex\tnocase\tsave,quiet\t^\\[list\\]\n";

TEST_F(ShippedFilter, RulesLiveInTheStoreAndFollowTheAccount) {
    ASSERT_EQ(Filter_Open("Work", nullptr, &work_), 0u);
    EXPECT_EQ(Filter_IsEmpty(work_), 1);
    ASSERT_EQ(Filter_Import(work_, file("r.iwfl", kRules).c_str()), 0u);
    EXPECT_EQ(Filter_GetCount(work_), 2);
    EXPECT_EQ(stored(kRoot + "\\Work"), kRules);
    EXPECT_EQ(Filter_GetMsgAction(work_, "From: SPAM@ads.example\r\n\r\n"), IWF_ACT_DELETE);
    EXPECT_EQ(Filter_GetMsgAction(work_, "Subject: [List] x\r\n\r\nbody"),
              IWF_ACT_SAVE | IWF_ACT_QUIET);
    EXPECT_EQ(Filter_GetMsgAction(work_, "From: friend@home.example\r\n\r\n"), 0u);

    // A rename moves the account's key with its rules; the handle follows.
    HREGKEY from, to;
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, kRoot + "\\Work", &from), REGSTORE_OK);
    ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, kRoot + "\\Office", &to), REGSTORE_OK);
    ASSERT_EQ(RegStore_CopyTree(from, to), REGSTORE_OK);
    ASSERT_EQ(RegStore_DeleteTree(HREGKEY_USER, kRoot + "\\Work"), REGSTORE_OK);
    ASSERT_EQ(Filter_ChangePath(work_, "Office", "Office", nullptr), 0u);
    ASSERT_EQ(Filter_DeleteAll(work_), 0u);
    EXPECT_EQ(stored(kRoot + "\\Office"), "<absent>");
    EXPECT_EQ(stored(kRoot + "\\Work"), "<absent>");

    // Reopening reads what the store holds.
    ASSERT_EQ(Filter_Import(work_, file("r.iwfl", kRules).c_str()), 0u);
    Filter_Close(&work_);
    ASSERT_EQ(Filter_Open("Office", nullptr, &work_), 0u);
    EXPECT_EQ(Filter_GetCount(work_), 2);
}

TEST_F(ShippedFilter, AccountRulesComeFirstThenGlobalThenTheGlobalFile) {
    const std::string globalFile =
        file("g.iwfl", std::string(FILTER_FILE_MAGIC) + "\nTo\tcontains\tnocase\tbounce\tx@\n");
    ASSERT_EQ(Filter_Open("Work", nullptr, &work_), 0u);
    ASSERT_EQ(Filter_Open(FILTER_GLOBAL_NAME, globalFile.c_str(), &global_), 0u);
    ASSERT_EQ(Filter_Import(work_, file("a.iwfl", std::string(FILTER_FILE_MAGIC) +
                                                      "\nFrom\tequals\tnocase\tnone\tboss@x\n")
                                       .c_str()),
              0u);
    ASSERT_EQ(Filter_Import(global_, file("b.iwfl", std::string(FILTER_FILE_MAGIC) +
                                                        "\nFrom\tcontains\tnocase\tspam\t@x\n")
                                         .c_str()),
              0u);
    EXPECT_EQ(Filter_GetMsgAction(work_, "From: boss@x\r\n\r\n"), 0u); // exempted by the account
    EXPECT_EQ(Filter_GetMsgAction(work_, "From: other@x\r\n\r\n"), IWF_ACT_SPAM);
    EXPECT_EQ(Filter_GetMsgAction(work_, "To: x@y\r\n\r\n"), IWF_ACT_BOUNCE);
    // The file's rules are read, never stored, and re-read at each reload.
    EXPECT_EQ(Filter_GetCount(global_), 1);
    iwtest::WriteFile(globalFile, std::string(FILTER_FILE_MAGIC) + "\n");
    EXPECT_EQ(Filter_Reload(global_, 1), 0u);
    EXPECT_EQ(Filter_GetMsgAction(work_, "To: x@y\r\n\r\n"), 0u);
    // Without the global filter open, only the account's own rules.
    Filter_Close(&global_);
    EXPECT_EQ(Filter_GetMsgAction(work_, "From: other@x\r\n\r\n"), 0u);
}

TEST_F(ShippedFilter, AFaultyImportSaysWhyAndChangesNothing) {
    ASSERT_EQ(Filter_Open("Work", nullptr, &work_), 0u);
    ASSERT_EQ(Filter_Import(work_, file("good.iwfl", kRules).c_str()), 0u);
    const std::string bigFile = file("big.iwfl", std::string(FILTER_MAX_FILE + 1, '#'));
    const std::string bad =
        file("bad.iwfl", std::string(FILTER_FILE_MAGIC) + "\nFrom\tcontains\tnocase\tdelete\tok\n"
                                                          "From\tlike\tnocase\tdelete\tx\n");
    struct Case {
        std::string path;
        std::string error;
    } cases[] = {
        {bad, bad + ": line 3: unknown match \"like\""},
        {dir_ + "/none.iwfl", "cannot open \"" + dir_ + "/none.iwfl\": No such file or directory"},
        {dir_, "\"" + dir_ + "\" is not a file"},
        {bigFile, "\"" + bigFile + "\" is larger than 1024 KiB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Filter_Import(work_, c.path.c_str()), ERR_OPERATION) << c.path;
        EXPECT_EQ(Filter_LastError(work_), c.error);
        EXPECT_EQ(Filter_GetCount(work_), 2);
        EXPECT_EQ(stored(kRoot + "\\Work"), kRules);
    }
    // The next success clears the error.
    ASSERT_EQ(Filter_Export(work_, (dir_ + "/out.iwfl").c_str()), 0u);
    EXPECT_EQ(Filter_LastError(work_), "");
}

TEST_F(ShippedFilter, ExportCopyAndTheEditEntryPoints) {
    ASSERT_EQ(Filter_Open("Work", nullptr, &work_), 0u);
    ASSERT_EQ(Filter_Open(FILTER_GLOBAL_NAME, "", &global_), 0u);
    ASSERT_EQ(Filter_Import(work_, file("r.iwfl", kRules).c_str()), 0u);
    const std::string out = dir_ + "/export.iwfl";
    ASSERT_EQ(Filter_Export(work_, out.c_str()), 0u);
    EXPECT_EQ(iwtest::ReadFile(out), kRules);
    EXPECT_EQ(Filter_Export(work_, (dir_ + "/no/such/dir/x.iwfl").c_str()), ERR_CREATE);

    ASSERT_EQ(Filter_Copy(global_, work_, 0), 0u);
    ASSERT_EQ(Filter_Copy(global_, work_, 1), 0u);
    EXPECT_EQ(Filter_GetCount(global_), 4);
    ASSERT_EQ(Filter_Copy(global_, work_, 0), 0u);
    EXPECT_EQ(Filter_GetCount(global_), 2);
    EXPECT_EQ(stored(kRoot + "\\_GLB_SETTINGS_"), kRules);

    // No editor of its own: the program opens its built-in one.
    EXPECT_EQ(Filter_Modify(work_, 0), IWF_NO_EDITOR);
    EXPECT_EQ(Filter_BlockMsgDlg(work_, 0, 0, "a@b", "c@d", "s"), IWF_NO_EDITOR);
}

} // namespace
