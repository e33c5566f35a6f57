// SPDX-License-Identifier: GPL-3.0-or-later
// The saved-folder table (folders rebuilt into message boxes from their file
// names) and the save and look-up that read the root folders from the
// global settings.
#include "engine/savedmsg.h"

#include "../support/temp_env.h"
#include "common/status.h"
#include "message/msg_header.h"
#include "message/savedfile.h"
#include "platform/registry.h"
#include "settings/globaldata.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The record the account check adds for a message.
MSG_RECORD record(const std::string& id, const std::string& subject,
                  DATETIME date = DateTime_Missing()) {
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_ID, id);
    r.SetText(MSGF_SUBJECT, subject);
    r.Date = date;
    return r;
}

class SavedMsgTest : public ::testing::Test {
  protected:
    void SetUp() override { root_ = iwtest::MakeTempDir("saved"); }
    void TearDown() override { SavedMsg_Close(); }
    iwtest::ScopedTz utc_{"UTC"};
    std::string root_;
};

// The names themselves are savedfile_test's; here the table and the boxes.
TEST_F(SavedMsgTest, FoldersRebuiltIntoMessageBoxes) {
    const std::string full = root_ + "/Home/101021-140509-Re_ Hello_ world-_1234567890abcde.eml";
    fs::create_directories(root_ + "/Work");
    fs::create_directories(root_ + "/Home/991231-235959-a folder-x.eml");
    iwtest::WriteFile(root_ + "/loose-file.eml", "x");
    iwtest::WriteFile(full, std::string(2048, 'a'));
    iwtest::WriteFile(root_ + "/Home/p101021-140509-Re_ Hello_ world-_1234567890abcde.eml", "part");
    iwtest::WriteFile(root_ + "/Home/000000-000000-no date-id.eml", "");
    iwtest::WriteFile(root_ + "/Home/notes.txt", "x");

    ASSERT_EQ(SavedMsg_Open(root_), 0u);
    EXPECT_EQ(SavedMsg_Open(root_), ERR_NOT_READY) << "already open";
    ASSERT_EQ(SavedMsg_GetCount(), 2);
    EXPECT_EQ(SavedMsg_GetFileCount("home", -1), 2) << "full saves only, any letter case";
    EXPECT_EQ(SavedMsg_LoadFolder("Work", -1), nullptr) << "no saved file";

    MSGBOX* box = SavedMsg_LoadFolder(nullptr, 0);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(MsgBox_GetCount(box), 3);
    // Full saves first, then partial ones.
    MSG_RECORD* part = MsgBox_GetMsg(box, 2);
    EXPECT_TRUE(DateTime_IsMissing(MsgBox_GetMsg(box, 0)->Date));
    EXPECT_STREQ(MsgBox_GetMsg(box, 1)->MsgId(), "_1234567890abcde");
    EXPECT_EQ(part->Status, 5);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(fs::is_regular_file(SavedMsg_FileName("Home", *MsgBox_GetMsg(box, i)))) << i;
    std::string text;
    EXPECT_EQ(SavedMsg_LoadMsg("Home", -1, part, &text), 0u);
    EXPECT_EQ(text, "part");

    // Deleting the partial save leaves the full one and its count.
    EXPECT_EQ(SavedMsg_DeleteMsg("Home", -1, part), 0u);
    EXPECT_EQ(SavedMsg_GetFileCount("Home", -1), 2);
    EXPECT_TRUE(fs::exists(full));

    // A folder that still holds other files stays on disk; its entry goes.
    EXPECT_EQ(SavedMsg_DeleteFolder("Home", -1), 0u);
    EXPECT_EQ(SavedMsg_GetCount(), 1);
    EXPECT_TRUE(fs::exists(root_ + "/Home/notes.txt"));
    EXPECT_FALSE(fs::exists(full));
    EXPECT_EQ(SavedMsg_DeleteFolder("Work", -1), 0u);
    EXPECT_FALSE(fs::exists(root_ + "/Work")) << "an empty folder goes";
}

// The save reads its root from the global settings, and the look-up of a
// saved copy finds it under the record the account check makes of the same
// message: leading blanks, long subjects, a dateless message.
class SavedMsgSettings : public SavedMsgTest {
  protected:
    void SetUp() override {
        SavedMsgTest::SetUp();
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("reg") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&reg_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(GlobalData_Load(reg_), 0u);
        acc_.Name = "Home";
    }
    void TearDown() override {
        GlobalData_Free(0);
        if (reg_) Reg_Close(reg_);
        SavedMsgTest::TearDown();
    }
    REGKEY* reg_ = nullptr;
    ACCOUNT acc_;
};

TEST_F(SavedMsgSettings, WriterAndLookupAgree) {
    const std::string down = root_ + "/down";
    GlobalData_GetRecord()->DwnRtDir = down;

    const char* messages[] = {
        "+OK\r\nDate: Thu, 21 Oct 2010 14:05:09 +0000\r\nSubject:    "
        "abcdefghijklmnopqrstuvwxyz\r\n\r\nb\r\n.\r\n",
        "+OK\r\nDate: Thu, 21 Oct 2010 14:05:09 +0000\r\nSubject: "
        "=?UTF-8?B?w6nDqcOpw6nDqcOpw6nDqcOpw6nDqQ==?=\r\n\r\nb\r\n.\r\n",
        "+OK\r\nSubject: no date: a/b\r\n\r\nb\r\n.\r\n",
    };
    for (const char* m : messages) {
        const std::string id = "<uid/with:odd*chars-and-more-than-16>";
        ASSERT_EQ(SavedMsg_SaveIfNeeded(m, &acc_, id.c_str(), GD_DWNRTDIR, false, true), 0u) << m;
        MSG_FIELDS f;
        Msg_GetRecordFields(m, nullptr, &f);
        std::string path;
        ASSERT_EQ(SavedMsg_FindCopy(acc_, record(id, f.Subject, f.Date), true, &path), 0u) << m;
        EXPECT_EQ(fs::path(path).parent_path(), down + "/Home");
    }

    // Partial saves and the quarantine folder are the real-server test's;
    // an account name that cannot be a folder is never looked up.
    acc_.Name = "..";
    std::string path;
    EXPECT_EQ(SavedMsg_FindCopy(acc_, record("p1", "part"), false, &path), ERR_NOT_FOUND);
}

} // namespace
