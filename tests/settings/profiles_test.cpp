// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "settings/account.h"
#include "settings/miscutil.h"
#include "settings/profiles.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class ProfilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("profiles");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        Settings_SetAsker([this](const std::string&, const std::string& text) {
            asked_.push_back(text);
            return SETTINGS_CANCEL;
        });
    }
    void TearDown() override {
        Settings_Abort();
        Settings_SetAsker(nullptr);
    }
    std::string names() {
        std::string s;
        for (const auto& it : Profiles_List(dir_))
            s += it.name + "=" + Profiles_StatusText(it) + ";";
        return s;
    }
    std::string dir_;
    std::vector<std::string> asked_;
};

TEST_F(ProfilesTest, CreateCopyListAndMarks) {
    EXPECT_EQ(names(), "Inboxwarden=new (default);");
    std::string n;
    ASSERT_EQ(Profiles_CreateNew(dir_, &n), 0u);
    EXPECT_EQ(n, "Inboxwarden");
    ASSERT_EQ(Profiles_CreateNew(dir_, &n), 0u);
    EXPECT_EQ(n, "Inboxwarden1");
    ASSERT_EQ(Profiles_CreateNew(dir_, &n), 0u);
    EXPECT_EQ(n, "Inboxwarden2");
    ASSERT_EQ(Profiles_Copy(dir_, "Inboxwarden", &n), 0u);
    EXPECT_EQ(n, "Inboxwarden3"); // Inboxwarden1 and 2 are taken
    EXPECT_EQ(Profiles_Copy(dir_, "nope", &n), ERR_NOT_FOUND);

    ASSERT_EQ(Profiles_SetDefault(Profiles_Path(dir_, "inboxwarden1"), false), 0u);
    EXPECT_EQ(Profiles_SetDefault("x", true), ERR_NOT_READY);
    ASSERT_EQ(Settings_Initialize(Profiles_Path(dir_, "Inboxwarden2"), 0), 0u);
    EXPECT_EQ(names(), "Inboxwarden=;Inboxwarden1=default;Inboxwarden2=active;Inboxwarden3=;");
}

TEST_F(ProfilesTest, RenameAndDeleteRules) {
    std::string a, b;
    Profiles_CreateNew(dir_, &a);
    Profiles_CreateNew(dir_, &b);
    ASSERT_EQ(Settings_Initialize(Profiles_Path(dir_, a), 0), 0u);
    Profiles_SetDefault(Profiles_Path(dir_, b), false);

    EXPECT_EQ(Profiles_Rename(dir_, b, ""), 1u);
    EXPECT_EQ(Profiles_Rename(dir_, b, "INBOXWARDEN1"), 1u);
    std::string why;
    EXPECT_EQ(Profiles_Rename(dir_, b, a, &why), ERR_EXISTS);
    EXPECT_EQ(why, "Profile \"" + Profiles_Path(dir_, a) + "\" already exist.");
    EXPECT_EQ(Profiles_Rename(dir_, b, "../escape"), ERR_BADARG);
    EXPECT_EQ(Profiles_Rename(dir_, a, "Other"), ERR_BADARG); // the running one
    EXPECT_TRUE(fs::exists(Profiles_Path(dir_, a)));
    ASSERT_EQ(Profiles_Rename(dir_, b, "Office"), 0u);
    EXPECT_EQ(Settings_GetVendorText("InboxwardenDefProfile"), Profiles_Path(dir_, "Office"));
    ASSERT_EQ(Profiles_Rename(dir_, "Ghost", "Made"), 0u); // no old file: an empty new one
    EXPECT_TRUE(fs::exists(Profiles_Path(dir_, "Made")));
    EXPECT_EQ(Profiles_Rename(dir_, "Made", "OFFICE", &why), ERR_EXISTS); // names ignore case
    EXPECT_EQ(why, "Profile \"" + Profiles_Path(dir_, "Office") + "\" already exist.");

    bool yes = false;
    auto confirm = [&](const std::string&) { return yes; };
    EXPECT_EQ(Profiles_Delete(dir_, a, confirm), ERR_BADARG);
    EXPECT_EQ(Profiles_Delete(dir_, "Made", confirm), ERR_CANCELLED);
    EXPECT_TRUE(fs::exists(Profiles_Path(dir_, "Made")));
    yes = true;
    EXPECT_EQ(Profiles_Delete(dir_, "Made", confirm), 0u);
    EXPECT_FALSE(fs::exists(Profiles_Path(dir_, "Made")));
}

TEST_F(ProfilesTest, ActivateSwitchesWithoutAQuestion) {
    const std::string a = Profiles_Path(dir_, "A"), b = Profiles_Path(dir_, "B");
    ASSERT_EQ(Settings_Initialize(a, 2), 0u);
    Settings_SetCleanShutdown(0); // running
    uint32_t st;
    ASSERT_EQ(Account_Save(Account_Add("InA", &st), -1), 0u);
    MiscUtil_SaveOptimizeFlag(1); // left on by an earlier run
    NOTICES notices;
    ASSERT_EQ(Profiles_Activate(b, &notices), 0u);
    EXPECT_TRUE(asked_.empty()) << asked_[0];
    EXPECT_TRUE(notices.empty()) << notices[0].text;
    EXPECT_EQ(Settings_ActivePath(), b);
    EXPECT_EQ(Account_Get("InA", -1), nullptr);
    EXPECT_NE(iwtest::ReadFile(a).find("\\InA]"), std::string::npos);

    // A profile that cannot be started: back to the previous one.
    EXPECT_NE(Profiles_Activate(dir_ + "/no/such/dir/C.iwpf"), 0u);
    EXPECT_EQ(Settings_ActivePath(), b);
    EXPECT_TRUE(Settings_IsInitialized());
}

} // namespace
