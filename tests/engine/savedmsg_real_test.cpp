// SPDX-License-Identifier: GPL-3.0-or-later
// The filter save actions of a real account check write real files, and a
// save that cannot be written never costs the message on the server.
#include "../support/temp_env.h"
#include "check_harness.h"
#include "common/status.h"
#include "engine/savedmsg.h"
#include "message/filter.h"
#include "message/savedfile.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/globaldata.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

using iwtest::BoxIds;
using iwtest::RunCheck;
using iwtest::SeededUidl;

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path().filename().native());
    std::sort(out.begin(), out.end());
    return out;
}

std::string message(const char* action, const char* subject) {
    return std::string("X-Test-Action: ") + action +
           "\r\nFrom: a@remote.example\r\nDate: Thu, 21 Oct 2010 14:05:09 +0000\r\nSubject: " +
           subject + "\r\n\r\nbody of " + subject + "\r\n.starts with a dot\r\n";
}

class RealSave : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("reg") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&reg_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(nullptr);
        ASSERT_EQ(GlobalData_Load(reg_), 0u);
        const std::string dir = iwtest::MakeTempDir("saved");
        down_ = dir + "/down";
        spam_ = dir + "/spam";
        GlobalData_GetRecord()->DwnRtDir = down_;
        GlobalData_GetRecord()->SpamRtDir = spam_;
        UserMsg_SetHandler([this](std::string_view, std::string_view text, unsigned) {
            boxes_.emplace_back(text);
            return UM_IDOK;
        });
        Pop3Acc_SetHooks({}); // the program's own save
        iwtest::UseServer(acc_, "Real", peers().pop3_port(), peers().user().name,
                          peers().user().password);
        Filter_Unload();
        setenv("INBOXWARDEN_PLUGIN_DIR", IW_TEST_FILTER_DIR, 1);
        ASSERT_EQ(Filter_Open(acc_.Name, nullptr, &acc_.FilterHandle), 0u);
    }
    void TearDown() override {
        Filter_Close(&acc_.FilterHandle);
        Filter_Unload();
        MsgBox_Destroy(&acc_.hMsgBox);
        UserMsg_SetHandler(nullptr);
        GlobalData_Free(0);
        if (reg_) Reg_Close(reg_);
    }
    iwtest::ScopedTz utc_{"UTC"};
    REGKEY* reg_ = nullptr;
    std::string down_, spam_;
    std::vector<std::string> boxes_;
    ACCOUNT acc_;
};

TEST_F(RealSave, FilterSaveActionsWriteFiles) {
    peers().SeedMessages(acc_.ChkLogin,
                         {message("0x03", "saved and deleted"), message("0x81", "quarantined"),
                          message("0x11", "saved strictly"), message("0x00", "left alone")});
    const auto out = RunCheck(acc_);
    ASSERT_EQ(out.rc, 0u) << out.error;
    // Saved and deleted messages are listed, except the quarantined one.
    EXPECT_EQ(BoxIds(acc_),
              (std::vector<std::string>{SeededUidl(1), SeededUidl(3), SeededUidl(4)}));
    EXPECT_EQ(filesIn(down_ + "/Real"),
              (std::vector<std::string>{"101021-140509-saved and deleted-" + SeededUidl(1) + ".eml",
                                        "101021-140509-saved strictly-" + SeededUidl(3) + ".eml"}));
    EXPECT_EQ(filesIn(spam_ + "/Real"),
              (std::vector<std::string>{"101021-140509-quarantined-" + SeededUidl(2) + ".eml"}));
    // The file holds the message itself, as it was delivered.
    const std::string saved =
        iwtest::ReadFile(down_ + "/Real/101021-140509-saved strictly-" + SeededUidl(3) + ".eml");
    EXPECT_EQ(saved, message("0x11", "saved strictly"));
    EXPECT_TRUE(boxes_.empty());

    // Three messages are gone from the server; the listed one that stays can
    // be fetched, and that fetch saves it where the look-up finds it.
    MsgBox_Destroy(&acc_.hMsgBox);
    ASSERT_EQ(RunCheck(acc_).rc, 0u);
    ASSERT_EQ(BoxIds(acc_), std::vector<std::string>{SeededUidl(4)});
    std::string path;
    const MSG_RECORD* r = MsgBox_GetMsg(acc_.hMsgBox, 0);
    EXPECT_EQ(SavedMsg_FindCopy(acc_, *r, true, &path), ERR_NOT_FOUND);
    GrowBuffer result;
    // Its first lines only: a partial copy, never taken for the whole message.
    ASSERT_EQ(iwtest::FetchOne(acc_, SeededUidl(4), &result, CHECK_FETCH_ONE | CHECK_FETCH_TOP),
              0u);
    EXPECT_EQ(SavedMsg_FindCopy(acc_, *r, true, &path), ERR_NOT_FOUND);
    ASSERT_EQ(SavedMsg_FindCopy(acc_, *r, false, &path), 0u);
    EXPECT_EQ(iwtest::ReadFile(path).find("body of"), std::string::npos);

    ASSERT_EQ(iwtest::FetchOne(acc_, SeededUidl(4), &result, CHECK_FETCH_ONE), 0u);
    ASSERT_EQ(SavedMsg_FindCopy(acc_, *r, true, &path), 0u);
    EXPECT_EQ(iwtest::ReadFile(path), message("0x00", "left alone"));
}

// The file cannot be written (a folder stands where it goes; for a user
// other than root, the account folder is also read-only): the check reports
// the failed save, deletes nothing and leaves nothing behind.
TEST_F(RealSave, FailedSaveKeepsTheMessageOnTheServer) {
    peers().SeedMessages(acc_.ChkLogin, {message("0x11", "strict"), message("0x03", "loose")});
    const std::string folder = down_ + "/Real";
    fs::create_directories(folder + "/101021-140509-strict-" + SeededUidl(1) + ".eml/blocker");
    fs::create_directories(folder + "/101021-140509-loose-" + SeededUidl(2) + ".eml/blocker");
    const auto before = filesIn(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const auto out = RunCheck(acc_);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_STREQ(acc_.StatusText, "Filter: message save operation failed.");
    EXPECT_EQ(filesIn(folder), before) << "no file and no temporary file";
    EXPECT_EQ(boxes_.size(), 2u) << "each failed write is shown";
    // Both stay listed, and both are still on the server.
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{SeededUidl(1), SeededUidl(2)}));
    MsgBox_Destroy(&acc_.hMsgBox);
    Filter_Close(&acc_.FilterHandle);
    ASSERT_EQ(RunCheck(acc_).rc, 0u);
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{SeededUidl(1), SeededUidl(2)}));
}

} // namespace
