// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped filter plug-in in a real check against Dovecot: its rules
// delete a message on the server, save one to the download folder and keep
// one quiet.
#include "../support/temp_env.h"
#include "check_harness.h"
#include "common/status.h"
#include "message/filter.h"
#include "message/filter_rules.h"
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

size_t countFiles(const std::string& dir) {
    std::error_code ec;
    size_t n = 0;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        ++n;
    return n;
}

std::string message(const char* from, const char* subject) {
    return std::string("From: ") + from +
           "\r\nDate: Thu, 21 Oct 2010 14:05:09 +0000\r\nSubject: " + subject + "\r\n\r\nbody\r\n";
}

class ShippedFilterCheck : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dir_ = iwtest::MakeTempDir("iwfreal");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&reg_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(nullptr);
        ASSERT_EQ(GlobalData_Load(reg_), 0u);
        GlobalData_GetRecord()->DwnRtDir = dir_ + "/down";
        UserMsg_SetHandler([](std::string_view, std::string_view, unsigned) { return UM_IDOK; });
        Pop3Acc_SetHooks({});
        iwtest::UseServer(acc_, "Real", peers().pop3_port(), peers().user().name,
                          peers().user().password);
        Filter_Unload();
        setenv("INBOXWARDEN_PLUGIN_DIR", IW_SHIPPED_FILTER_DIR, 1);
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
    std::string dir_;
    ACCOUNT acc_;
};

TEST_F(ShippedFilterCheck, RulesDeleteSaveAndQuiet) {
    const std::string rules = dir_ + "/rules.iwfl";
    iwtest::WriteFile(rules, std::string(FILTER_FILE_MAGIC) +
                                 "\nFrom\tcontains\tnocase\tdelete\t@spam.example\n"
                                 "Subject\tstarts\tnocase\tsave\t[invoice]\n"
                                 "*\tregex\tnocase\tquiet\t^list-id: <news\\.\n");
    ASSERT_EQ(Filter_Import(acc_.FilterHandle, rules.c_str()), 0u)
        << Filter_LastError(acc_.FilterHandle);
    peers().SeedMessages(acc_.ChkLogin,
                         {message("Bulk <x@SPAM.example>", "buy"),
                          message("a@shop.example", "[Invoice] 42"),
                          "List-Id: <news.lists.example>\r\n" + message("n@lists.example", "news"),
                          message("friend@home.example", "hello")});
    const auto out = RunCheck(acc_);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_),
              (std::vector<std::string>{SeededUidl(2), SeededUidl(3), SeededUidl(4)}));
    EXPECT_EQ(MsgBox_FindMsg(acc_.hMsgBox, SeededUidl(3).c_str(), nullptr)->Status, MSG_QUIET);
    EXPECT_EQ(MsgBox_FindMsg(acc_.hMsgBox, SeededUidl(4).c_str(), nullptr)->Status, MSG_NEW);
    EXPECT_EQ(
        iwtest::ReadFile(dir_ + "/down/Real/101021-140509-[Invoice] 42-" + SeededUidl(2) + ".eml"),
        message("a@shop.example", "[Invoice] 42"));
    // Only the spam is gone from the server.
    const std::string maildir = peers().pop3().Maildir(acc_.ChkLogin);
    EXPECT_EQ(countFiles(maildir + "/cur") + countFiles(maildir + "/new"), 3u);
}

} // namespace
