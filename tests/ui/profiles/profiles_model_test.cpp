// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles dialog's rules on real profile files in a temporary folder,
// with a running profile that holds accounts and records of every status.
#include "../../support/temp_env.h"
#include "common/status.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "ui/profiles/profiles_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

// Every status a box keeps across a save (MSG_DELETED is dropped).
constexpr int32_t kStatuses[] = {
    MSG_NEW,         MSG_UNREAD,        MSG_OLD,   MSG_TO_DELETE, MSG_UNREAD_PENDING,
    MSG_OLD_PENDING, MSG_QUIET_PENDING, MSG_QUIET, MSG_NOTIFIED,  MSG_NOTIFIED_PENDING};

class ProfilesModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("profiles");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        Settings_SetAsker([](const std::string&, const std::string&) { return SETTINGS_CANCEL; });
        GlobalData_SetManageLogon(true); // the default profile's run
        // Two profiles with their own accounts and records; A runs.
        makeProfile("B", {"Bank", "Club"});
        makeProfile("A", {"Home", "Work"});
        ASSERT_EQ(Settings_Initialize(path("A"), 2), 0u);
        ASSERT_EQ(Settings_LoadMessages(), 0u);
        ASSERT_EQ(running(), boxes({"Home", "Work"}));
    }
    void TearDown() override {
        Settings_Abort();
        Settings_SetAsker(nullptr);
        GlobalData_SetManageLogon(false);
    }

    std::string path(const std::string& name) const { return Profiles_Path(dir_, name); }

    void makeProfile(const std::string& name, std::initializer_list<const char*> accounts) {
        ASSERT_EQ(Settings_Initialize(path(name), 0), 0u);
        for (const char* acc : accounts) {
            ACCOUNT* a = Account_Add(acc, nullptr);
            ASSERT_NE(a, nullptr);
            ASSERT_EQ(Account_Save(a, -1), 0u);
            int n = 0;
            for (int32_t status : kStatuses) {
                MSG_RECORD r = MsgRecord_Empty();
                r.SetText(MSGF_ID, std::string(acc) + "-" + std::to_string(++n));
                r.SetText(MSGF_SUBJECT, "status " + std::to_string(status));
                r.Status = status;
                ASSERT_EQ(MsgBox_AddMsg(&a->hMsgBox, &r, a, 1), 0u);
            }
        }
        ASSERT_EQ(Settings_Shutdown(false), 0u);
    }

    // account -> id -> status, as the running tables hold them.
    using BOXES = std::map<std::string, std::map<std::string, int32_t>>;
    static BOXES running() {
        BOXES out;
        for (int i = 0; i < Account_GetCount(); ++i) {
            const ACCOUNT* a = Account_Get(nullptr, i);
            auto& box = out[a->Name];
            for (int k = 0; a->hMsgBox && k < MsgBox_GetCount(a->hMsgBox); ++k) {
                const MSG_RECORD* r = MsgBox_GetMsg(a->hMsgBox, k);
                box[r->MsgId().c_str()] = r->Status;
            }
        }
        return out;
    }
    // What a profile made by makeProfile holds once loaded again: announced
    // and new mail come back as unread.
    static BOXES boxes(std::initializer_list<const char*> accounts) {
        BOXES out;
        for (const char* acc : accounts) {
            int n = 0;
            for (int32_t s : kStatuses)
                out[acc][std::string(acc) + "-" + std::to_string(++n)] =
                    s == MSG_NEW || s == MSG_NOTIFIED ? MSG_UNREAD : s;
        }
        return out;
    }
    std::string listed(const ProfilesModel& m) const {
        std::string s;
        for (int i = 0; i < m.Count(); ++i)
            s += m.Items()[i].name + "=" + m.StatusText(i) + ";";
        return s;
    }
    int row(const ProfilesModel& m, const std::string& name) const {
        for (int i = 0; i < m.Count(); ++i)
            if (m.Items()[i].name == name) return i;
        return -1;
    }
    static std::string texts(const PROFILES_OUTCOME& out) {
        std::string s;
        for (const NOTICE& n : out.notices)
            s += n.text + "|";
        return s;
    }

    std::string dir_;
};

// Create, copy, rename and delete change one file each and nothing else:
// the other profiles' files stay byte for byte, the running tables stay.
TEST_F(ProfilesModelTest, FileCommandsLoseNothingOfTheOthers) {
    bool answer = false;
    std::vector<std::string> asked;
    PROFILES_HOOKS hooks;
    hooks.confirm = [&](const std::string& q) {
        asked.push_back(q);
        return answer;
    };
    ProfilesModel m(hooks, false);
    EXPECT_EQ(m.Folder(), dir_);
    EXPECT_EQ(listed(m), "A=active;B=;");
    const std::string a = iwtest::ReadFile(path("A")), b = iwtest::ReadFile(path("B"));

    PROFILES_OUTCOME out = m.CreateNew();
    EXPECT_EQ(texts(out), "");
    EXPECT_EQ(out.editRow, row(m, "Inboxwarden"));
    EXPECT_EQ(iwtest::ReadFile(path("Inboxwarden")), "");

    m.Select(row(m, "B"));
    out = m.Copy();
    ASSERT_EQ(out.editRow, row(m, "B1"));
    EXPECT_TRUE(iwtest::ReadFile(path("B1")) == b);

    // Rename: the name typed over the copy, blanks around it dropped.
    out = m.Rename(row(m, "B1"), "  Office ");
    EXPECT_EQ(texts(out), "");
    EXPECT_FALSE(fs::exists(path("B1")));
    EXPECT_TRUE(iwtest::ReadFile(path("Office")) == b);
    EXPECT_EQ(m.Selected(), row(m, "Office"));
    // Onto an existing file, the running one, or a path: refused, said why.
    out = m.Rename(row(m, "Office"), "b"); // names differ by more than case
    EXPECT_EQ(texts(out), "Profile \"" + path("B") + "\" already exist.|");
    out = m.Rename(row(m, "A"), "Renamed");
    EXPECT_EQ(texts(out), "Cannot rename active profile.|");
    out = m.Rename(row(m, "Office"), "../Office");
    EXPECT_EQ(texts(out), "Invalid profile name.|");
    EXPECT_EQ(listed(m), "A=active;B=;Inboxwarden=;Office=;");

    // Delete: the running one never; another after Yes only.
    m.Select(row(m, "A"));
    EXPECT_EQ(texts(m.Delete()), "Cannot delete active profile.|");
    EXPECT_TRUE(asked.empty());
    m.Select(row(m, "Inboxwarden"));
    EXPECT_EQ(texts(m.Delete()), "");
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_TRUE(fs::exists(path("Inboxwarden")));
    answer = true;
    m.Delete();
    EXPECT_FALSE(fs::exists(path("Inboxwarden")));
    EXPECT_EQ(m.Selected(), row(m, "Office")); // the item that moved into its place
    m.Delete();
    EXPECT_EQ(m.Selected(), row(m, "B")); // the last one

    EXPECT_TRUE(iwtest::ReadFile(path("A")) == a);
    EXPECT_TRUE(iwtest::ReadFile(path("B")) == b);
    EXPECT_EQ(running(), boxes({"Home", "Work"}));
}

// A copy of the running profile holds what runs now, not what was saved
// last: records that arrived since, and their statuses.
TEST_F(ProfilesModelTest, CopyOfTheRunningProfileHoldsTheRunningRecords) {
    ACCOUNT* home = Account_Get("Home", -1);
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_ID, "arrived-since");
    r.Status = MSG_OLD;
    ASSERT_EQ(MsgBox_AddMsg(&home->hMsgBox, &r, home, 1), 0u);
    BOXES now = running();

    ProfilesModel m({}, false);
    m.Select(row(m, "A"));
    const PROFILES_OUTCOME out = m.Copy();
    ASSERT_EQ(texts(out), "");
    EXPECT_EQ(iwtest::ReadFile(path("A")).find("arrived-since"), std::string::npos);
    ASSERT_NE(iwtest::ReadFile(path("A1")).find("arrived-since"), std::string::npos);

    ASSERT_EQ(Profiles_Activate(path("A1")), 0u);
    for (auto& [acc, box] : now)
        for (auto& [id, status] : box)
            if (status == MSG_NEW || status == MSG_NOTIFIED) status = MSG_UNREAD;
    EXPECT_EQ(running(), now);
}

// The default is managed only by the default profile's run; the recovery
// choice is stored by Activate, not before.
TEST_F(ProfilesModelTest, DefaultAndRecoveryChoices) {
    Profiles_SetDefault(path("B"), false);
    ProfilesModel explicitRun({}, true);
    EXPECT_FALSE(explicitRun.DefaultOffered());
    explicitRun.Select(row(explicitRun, "A"));
    explicitRun.SetDefault();
    explicitRun.NoDefault();
    EXPECT_EQ(Settings_GetVendorText("InboxwardenDefProfile"), path("B"));

    ProfilesModel m({}, false);
    EXPECT_EQ(m.Recovery(), 1); // none stored yet
    m.SetRecovery(0);
    m.SetRecovery(7); // not a choice
    EXPECT_EQ(Settings_GetVendorByte("Recovery", 1), 1u);
    m.Select(row(m, "A"));
    EXPECT_TRUE(m.Activate().close); // the running one: nothing to switch
    EXPECT_FALSE(m.Switched());
    EXPECT_EQ(ProfilesModel({}, false).Recovery(), 0);
}

// Activation stops what uses the accounts first, replaces the table,
// rebuilds the windows after; the profile it leaves keeps every record in
// its file, and coming back brings them all back.
TEST_F(ProfilesModelTest, ActivateReplacesTheTableAndKeepsTheBoxesItLeaves) {
    std::vector<std::string> calls;
    PROFILES_HOOKS hooks;
    hooks.beforeSwitch = [&] {
        calls.push_back(Account_Get("Home", -1) ? "before:A" : "before:?");
    };
    hooks.afterSwitch = [&] { calls.push_back(Account_Get("Bank", -1) ? "after:B" : "after:A"); };
    ProfilesModel m(hooks, false);
    m.Select(row(m, "B"));
    m.SetDefault();
    PROFILES_OUTCOME out = m.Activate();
    EXPECT_EQ(texts(out), "");
    EXPECT_TRUE(out.close);
    EXPECT_TRUE(m.Switched());
    EXPECT_EQ(calls, (std::vector<std::string>{"before:A", "after:B"}));
    EXPECT_EQ(Settings_ActivePath(), path("B"));
    EXPECT_EQ(running(), boxes({"Bank", "Club"}));
    EXPECT_EQ(listed(m), "A=;B=active (default);");

    // A's file kept its boxes: back on A, every record with its status.
    m.Select(row(m, "A"));
    ASSERT_TRUE(m.Activate().close);
    EXPECT_EQ(running(), boxes({"Home", "Work"}));

    // A profile that cannot start: the previous one runs again, the dialog
    // stays open and says so, the windows are rebuilt all the same.
    calls.clear();
    m.NoDefault();
    m.SetFolder(dir_ + "/no/such");
    ASSERT_EQ(listed(m), "Inboxwarden=new (default);");
    out = m.Activate();
    EXPECT_FALSE(out.close);
    EXPECT_FALSE(out.notices.empty());
    EXPECT_EQ(calls, (std::vector<std::string>{"before:A", "after:A"}));
    EXPECT_EQ(Settings_ActivePath(), path("A"));
    EXPECT_EQ(running(), boxes({"Home", "Work"}));
}

} // namespace
