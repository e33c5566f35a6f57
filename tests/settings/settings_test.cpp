// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/miscutil.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/profile.h"
#include "settings/profiles.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A record of account `acc` with every text, size, date and status filled in.
MSG_RECORD roundTripRecord(int acc, int i) {
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_ID, "uid-" + std::to_string(acc) + "-" + std::to_string(i));
    r.SetText(MSGF_FROM, "\"Zo\u00eb \\ Co\" <z" + std::to_string(i) + "@example.org>");
    r.SetText(MSGF_REPLYTO, i % 3 ? "" : "r@example.org");
    r.SetText(MSGF_TO, "a@b, \u65e5\u672c <c@d>");
    r.SetText(MSGF_SUBJECT, "Re: \"quoted\" back\\slash\r\nline ;Sz=; #" + std::to_string(i));
    r.Size = i * 37;
    r.SetText(MSGF_SIZETEXT, r.Size ? MsgRecord_SizeKB(r.Size) : "0");
    r.HasAttach = i % 2;
    r.Date = i % 7 ? DateTime_FromTime(946684800 + i * 86461L) : DateTime_Missing();
    r.Status = i % 10; // every status a box stores (MSG_DELETED is never stored)
    return r;
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("life");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        Settings_SetAsker([this](const std::string&, const std::string& text) {
            asked_.push_back(text);
            if (answers_.empty()) return SETTINGS_CANCEL;
            const SETTINGS_ANSWER a = answers_.front();
            answers_.pop_front();
            return a;
        });
        profile_ = dir_ + "/A.iwpf";
    }
    void TearDown() override {
        Settings_Abort();
        Settings_SetExportPicker(nullptr);
        Settings_SetAsker(nullptr);
    }
    bool treeExists() { return Reg_Exists(0, 0, REG_ROOT_PATH) == 1; }
    static bool has(const NOTICES& notices, std::string_view part) {
        for (const NOTICE& n : notices)
            if (n.text.find(part) != std::string::npos) return true;
        return false;
    }
    // Saved accounts, each with `records` stored records of its own.
    void addAccountsWithRecords(std::initializer_list<const char*> names, int records) {
        for (const char* name : names) {
            uint32_t st;
            ACCOUNT* a = Account_Add(name, &st);
            ASSERT_NE(a, nullptr);
            ASSERT_EQ(Account_Save(a, -1), 0u);
            for (int i = 0; i < records; ++i) {
                const MSG_RECORD r = roundTripRecord(name[0], i);
                ASSERT_EQ(MsgBox_AddMsg(&a->hMsgBox, &r, a, 1), 0u);
            }
        }
    }
    // A run that adds one account and ends normally.
    void runOnce(const std::string& path, const std::string& account, int optimize = 0) {
        ASSERT_EQ(Settings_Start(path, -1, nullptr), 0u);
        Settings_SetCleanShutdown(0);
        uint32_t st;
        if (!account.empty()) {
            ACCOUNT* a = Account_Add(account, &st);
            ASSERT_NE(a, nullptr);
            ASSERT_EQ(Account_Save(a, -1), 0u);
        }
        MiscUtil_SaveOptimizeFlag(optimize);
        ASSERT_EQ(Settings_Shutdown(), 0u);
        Settings_SetCleanShutdown(1);
    }
    std::vector<std::string> files(const std::string& part) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_))
            if (e.path().filename().string().find(part) != std::string::npos)
                out.push_back(e.path().string());
        return out;
    }
    // A process that starts on `path`, adds an account and dies without
    // shutting down: CleanShutdown stays 0 and the tree stays behind.
    void crashAfterAdding(const std::string& path, const std::string& account) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (Settings_Start(path, 0, nullptr) != 0) _exit(1);
            Settings_SetCleanShutdown(0);
            uint32_t st;
            ACCOUNT* a = Account_Add(account, &st);
            if (!a || Account_Save(a, -1) != 0) _exit(2);
            raise(SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        ASSERT_TRUE(treeExists());
    }

    std::string dir_, profile_;
    std::vector<std::string> asked_;
    std::deque<SETTINGS_ANSWER> answers_;
};

TEST_F(SettingsTest, MissingProfileIsCreatedEmpty) {
    SETTINGS_START s;
    ASSERT_EQ(Settings_Start(profile_, -1, &s), 0u);
    EXPECT_FALSE(s.fast);
    EXPECT_TRUE(s.explicitProfile);
    EXPECT_EQ(iwtest::ReadFile(profile_), "<INBOXWARDEN6>\r\n\r\n"); // no "empty file" next time
    EXPECT_EQ(Account_GetCount(), 0);
    EXPECT_EQ(Settings_ActivePath(), profile_);
    NOTICES notices;
    EXPECT_EQ(Settings_Initialize(profile_, 0, &notices), ERR_EMPTY_NAME); // already running
    EXPECT_TRUE(has(notices, "is active"));
    ASSERT_EQ(Settings_Shutdown(), 0u);
    EXPECT_FALSE(treeExists());
    EXPECT_EQ(iwtest::ReadFile(profile_).rfind("<INBOXWARDEN6>\r\n", 0), 0u);
    EXPECT_EQ(Settings_Initialize("", 0), ERR_EMPTY_NAME);
    EXPECT_EQ(Settings_Initialize(std::string(5000, 'p'), 0), ERR_BADARG);

    // Without any profile the default one is made and remembered.
    ASSERT_EQ(Settings_Start("", -1, &s), 0u);
    EXPECT_EQ(s.path, Settings_DefaultProfilePath());
    EXPECT_EQ(Settings_GetVendorText("InboxwardenDefProfile"), s.path);
}

TEST_F(SettingsTest, FastPathOnlyWhenItMayBeTaken) {
    runOnce(profile_, "Home", 1);
    EXPECT_TRUE(treeExists()); // kept for the next start
    SETTINGS_START s;
    ASSERT_EQ(Settings_Start(profile_, -1, &s), 0u);
    EXPECT_TRUE(s.fast);
    EXPECT_NE(Account_Get("Home", -1), nullptr);
    Settings_SetCleanShutdown(0);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    Settings_SetCleanShutdown(1);

    // A profile touched since: full load.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, profile_.c_str(), times, 0), 0);
    ASSERT_EQ(Settings_Start(profile_, -1, &s), 0u);
    EXPECT_FALSE(s.fast);
    EXPECT_NE(Account_Get("Home", -1), nullptr);
    ASSERT_EQ(Settings_Shutdown(), 0u);

    // Another profile given on the command line: its own contents, never
    // the kept tree of the first one, go into it.
    const std::string other = dir_ + "/B.iwpf";
    runOnce(other, "Office", 0);
    runOnce(profile_, "", 1);
    ASSERT_TRUE(treeExists());
    ASSERT_EQ(Settings_Start(other, -1, &s), 0u);
    EXPECT_FALSE(s.fast);
    EXPECT_EQ(Account_Get("Home", -1), nullptr);
    EXPECT_NE(Account_Get("Office", -1), nullptr);
    ASSERT_EQ(Settings_Shutdown(false), 0u);
    EXPECT_EQ(iwtest::ReadFile(other).find("Home"), std::string::npos);

    // A clean flag of 0 (a crash) also forces the full path.
    runOnce(profile_, "", 1);
    Settings_SetCleanShutdown(0);
    ASSERT_EQ(Settings_Start(profile_, 0, &s), 0u);
    EXPECT_FALSE(s.fast);
}

TEST_F(SettingsTest, CrashWithRecoveryModes) {
    runOnce(profile_, "Home");
    crashAfterAdding(profile_, "Unsaved");

    // Mode 0: nothing saved, the leftover tree is replaced by the profile.
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    EXPECT_TRUE(files("-RECOVERY-").empty());
    EXPECT_EQ(Account_Get("Unsaved", -1), nullptr);
    Settings_Abort();

    // Mode 1: the tree goes silently into a recovery file first.
    crashAfterAdding(profile_, "Unsaved");
    SETTINGS_START s;
    ASSERT_EQ(Settings_Start(profile_, 1, &s), 0u);
    auto rec = files("-RECOVERY-");
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(rec[0].rfind(profile_ + "-RECOVERY-", 0), 0u);
    EXPECT_NE(iwtest::ReadFile(rec[0]).find("\\Unsaved]"), std::string::npos);
    EXPECT_TRUE(asked_.empty());
    EXPECT_TRUE(s.notices.empty());
    Settings_Abort();
    fs::remove(rec[0]);

    // Mode 2: asked; Cancel stops the start and keeps the tree, No drops it.
    crashAfterAdding(profile_, "Unsaved");
    answers_ = {SETTINGS_CANCEL};
    EXPECT_EQ(Settings_Start(profile_, 2, nullptr), ERR_NOT_READY);
    EXPECT_TRUE(treeExists());
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_NE(asked_[0].find("Would you like to save a copy"), std::string::npos);
    answers_ = {SETTINGS_YES};
    ASSERT_EQ(Settings_Start(profile_, 2, nullptr), 0u);
    EXPECT_EQ(files("-RECOVERY-").size(), 1u);
    EXPECT_NE(Account_Get("Home", -1), nullptr);
}

// The leftover tree is the only copy of the crashed run's changes: when its
// recovery copy cannot be written, the start stops instead of deleting it.
TEST_F(SettingsTest, FailedRecoveryCopyKeepsTheTree) {
    const std::string gone = dir_ + "/gone/C.iwpf";
    fs::create_directory(dir_ + "/gone");
    runOnce(gone, "Home");
    crashAfterAdding(gone, "Unsaved");
    fs::remove_all(dir_ + "/gone");
    SETTINGS_START s;
    EXPECT_EQ(Settings_Start(gone, 1, &s), ERR_NOT_READY);
    ASSERT_EQ(s.notices.size(), 1u); // told, not only logged
    EXPECT_NE(s.notices[0].text.find("could not be saved"), std::string::npos);
    EXPECT_TRUE(treeExists());
    HREGKEY k;
    EXPECT_EQ(RegStore_OpenKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Unsaved", &k),
              REGSTORE_OK);
}

TEST_F(SettingsTest, UnreadableProfileIsNeverOverwritten) {
    const std::string bad =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden]\r\n";
    { std::ofstream(profile_, std::ios::binary) << bad; }
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    EXPECT_TRUE(Settings_ImportFailed());
    uint32_t st;
    ASSERT_NE(Account_Add("New", &st), nullptr);
    ASSERT_EQ(Account_Save(Account_Get("New", -1), -1), 0u);
    NOTICES notices;
    EXPECT_EQ(Settings_ExportToFile(0, &notices), 0);
    EXPECT_TRUE(has(notices, "is not overwritten"));
    ASSERT_EQ(Settings_Shutdown(true, &notices), 0u);
    EXPECT_EQ(iwtest::ReadFile(profile_), bad);
    const auto rec = files("-RECOVERY-");
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_NE(iwtest::ReadFile(rec[0]).find("\\New]"), std::string::npos);
    EXPECT_TRUE(has(notices, "could not be read at start"));
    EXPECT_FALSE(fs::exists(profile_ + ".BAK")); // an unreadable file is no backup
}

TEST_F(SettingsTest, FailedShutdownExportKeepsTheTree) {
    const std::string sub = dir_ + "/sub";
    fs::create_directory(sub);
    const std::string path = sub + "/D.iwpf";
    ASSERT_EQ(Settings_Start(path, 0, nullptr), 0u);
    uint32_t st;
    ASSERT_EQ(Account_Save(Account_Add("Keep", &st), -1), 0u);
    fs::remove_all(sub);
    EXPECT_EQ(Settings_Shutdown(), ERR_CREATE); // no picker: the user cannot be asked
    EXPECT_TRUE(treeExists());
    EXPECT_EQ(Settings_GetVendorText("TimeStamp"), "NOTHING");

    // With a file picked interactively the tree is saved there.
    fs::create_directory(sub);
    ASSERT_EQ(Settings_Start(path, 0, nullptr), 0u);
    fs::remove_all(sub);
    const std::string picked = dir_ + "/picked.iwpf";
    Settings_SetExportPicker([&](std::string* p) {
        *p = picked;
        return true;
    });
    EXPECT_EQ(Settings_Shutdown(), 0u);
    EXPECT_TRUE(fs::exists(picked));
}

TEST_F(SettingsTest, AbortDeletesTheTreeAndForcesAFullLoad) {
    runOnce(profile_, "Home", 1);
    ASSERT_EQ(Settings_Start(profile_, -1, nullptr), 0u);
    uint32_t st;
    ASSERT_EQ(Account_Save(Account_Add("Dropped", &st), -1), 0u);
    ASSERT_EQ(Settings_Abort(), 0u);
    EXPECT_FALSE(treeExists());
    EXPECT_EQ(Settings_GetVendorText("TimeStamp"), "NOTHING");
    EXPECT_EQ(iwtest::ReadFile(profile_).find("Dropped"), std::string::npos);
}

// A process killed while it exports leaves the complete old file or the
// complete new one, never a mix or a truncated file.
TEST_F(SettingsTest, KillDuringExportLeavesOldOrNewFile) {
    HREGKEY box, root;
    ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Big\\MsgBox", &box),
              REGSTORE_OK);
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, REG_ROOT_PATH, &root), REGSTORE_OK);
    {
        RegStoreBatch batch;
        for (int i = 0; i < 20000; ++i)
            RegStore_SetValue(box, "id" + std::to_string(i), REGTYPE_SZ,
                              ";Fm=;sender" + std::to_string(i) +
                                  ";Rt=;;To=;;Sj=;s;Sz=;1;DS=; 2010 1 5 1 0 0 0 2 ;A=;0;En=;");
    }
    const auto exportTo = [](const std::string& file) {
        return Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, file);
    };
    const std::string file = dir_ + "/K.iwpf";
    ASSERT_EQ(exportTo(file), 0u);
    const std::string oldText = iwtest::ReadFile(file);
    RegStore_SetValue(root, "Changed", REGTYPE_SZ, "yes");
    ASSERT_EQ(exportTo(dir_ + "/K2.iwpf"), 0u);
    const std::string newText = iwtest::ReadFile(dir_ + "/K2.iwpf");
    ASSERT_NE(oldText, newText);

    for (int delayUs : {0, 2000, 10000, 30000, 60000}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            for (;;)
                if (exportTo(file)) _exit(1);
        usleep(static_cast<useconds_t>(delayUs));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        const std::string now = iwtest::ReadFile(file);
        EXPECT_TRUE(now == oldText || now == newText) << "after " << delayUs << " us";
    }
}

// A whole configuration survives export and import, and the export of the
// import is the same file byte for byte.
TEST_F(SettingsTest, FullConfigurationRoundTrip) {
    constexpr int kRecords = 10000;
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    GLOBAL_DATA& g = *GlobalData_GetRecord();
    g.ProxySocksParam = 0x04000439;
    g.NewMailVisual = 3;
    g.Signature = "Regards,\r\n\"Zo\u00eb\" \\ C:\\notes";
    g.DwnRtDir = "/home/z/mail \\ saved";
    g.RFont = "-13 400 0 0 >DejaVu Sans";
    g.Geometry[6] = 0;
    ASSERT_EQ(GlobalData_Save(), 0u);
    DialUp_GetRecord()->UseAutoDial = 1;
    DialUp_GetRecord()->Entry = "VPN";
    ASSERT_EQ(DialUp_Save(), 0u);
    const char* names[] = {"Home", "Work \u00e9t\u00e9", "zeta"};
    RegStore_BeginBatch();
    for (int n = 0; n < 3; ++n) {
        uint32_t st;
        ACCOUNT* a = Account_Add(names[n], &st);
        ASSERT_NE(a, nullptr);
        a->FullUserName = std::string("User \"") + names[n] + "\"";
        a->Signature = "--\r\n\\o/";
        a->ChkPswd = "p\u00e4ss\"\\" + std::to_string(n);
        a->SendAuthType = n;
        a->UseSchedule = 1;
        a->Schedule[n] = 0x0F0F;
        std::snprintf(a->LastSTAT, sizeof a->LastSTAT, "+OK %d 100", n);
        ASSERT_EQ(Account_Save(a, -1), 0u);
        for (int i = 0; i < kRecords; ++i) {
            const MSG_RECORD r = roundTripRecord(n, i);
            ASSERT_EQ(MsgBox_AddMsg(&a->hMsgBox, &r, a, 1), 0u);
        }
    }
    RegStore_EndBatch();
    const GLOBAL_DATA saved = g;
    ASSERT_EQ(Settings_Shutdown(), 0u);
    const std::string first = iwtest::ReadFile(profile_);

    // Into an empty store, and out again.
    ASSERT_EQ(RegStore_Open(dir_ + "/second.db"), REGSTORE_OK);
    ASSERT_EQ(
        Profile_ImportSettings(profile_, PROFILE_MAGIC, PROFILE_ROOT_NAME, REG_ROOT_PATH, nullptr),
        0u);
    ASSERT_EQ(Profile_ImportMessages(profile_), 0u);
    const std::string again = dir_ + "/again.iwpf";
    ASSERT_EQ(Reg_ExportKey(PROFILE_ROOT_NAME, REG_ROOT_PATH, true, PROFILE_MAGIC, again), 0u);
    EXPECT_TRUE(iwtest::ReadFile(again) == first);

    // And what the program reads back from it.
    ASSERT_EQ(RegStore_Open(dir_ + "/third.db"), REGSTORE_OK);
    ASSERT_EQ(Settings_Start(again, 0, nullptr), 0u);
    ASSERT_EQ(Settings_LoadMessages(), 0u);
    const GLOBAL_DATA& h = *GlobalData_GetRecord();
    EXPECT_EQ(h.Signature, saved.Signature);
    EXPECT_EQ(h.DwnRtDir, saved.DwnRtDir);
    EXPECT_EQ(h.RFont, saved.RFont);
    EXPECT_EQ(h.ProxySocksParam, saved.ProxySocksParam);
    EXPECT_EQ(h.NewMailVisual, 3);
    EXPECT_EQ(h.Geometry[6], 0);
    EXPECT_EQ(DialUp_GetRecord()->Entry, "VPN");
    ASSERT_EQ(Account_GetCount(), 3);
    for (int n = 0; n < 3; ++n) {
        const ACCOUNT* a = Account_Get(names[n], -1);
        ASSERT_NE(a, nullptr) << names[n];
        EXPECT_EQ(a->ChkPswd, "p\u00e4ss\"\\" + std::to_string(n));
        EXPECT_EQ(a->FullUserName, std::string("User \"") + names[n] + "\"");
        EXPECT_EQ(a->Signature, "--\r\n\\o/");
        EXPECT_EQ(a->Schedule[n], 0x0F0F);
        EXPECT_EQ(a->SendAuthType, n);
        ASSERT_EQ(MsgBox_GetCount(a->hMsgBox), kRecords);
        for (int i = 0; i < kRecords; i += 97) {
            MSG_RECORD want = roundTripRecord(n, i);
            if (want.Status == MSG_NEW || want.Status == MSG_NOTIFIED) want.Status = MSG_UNREAD;
            const MSG_RECORD* got = MsgBox_GetMsg(a->hMsgBox, i);
            EXPECT_STREQ(got->MsgId(), want.MsgId());
            // Every other field, with the subject's ";Sz=;" guarded as when stored.
            EXPECT_EQ(MsgRecord_ToValue(*got), MsgRecord_ToValue(want));
        }
    }
}

// The tray program's saves before the boxes were loaded (an export from the
// menu, a profile switch, a quit right after the start) keep every record.
TEST_F(SettingsTest, SavesBeforeTheBoxesAreLoadedKeepEveryRecord) {
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    addAccountsWithRecords({"Home", "Work", "Gone"}, 10);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    const std::string first = iwtest::ReadFile(profile_);
    ASSERT_NE(first.find("Work\\MsgBox]"), std::string::npos);

    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(profile_, stamp);
    ASSERT_EQ(Settings_ExportToFile(0), 1); // a save of the running settings, as OK does
    EXPECT_NE(fs::last_write_time(profile_), stamp);
    EXPECT_TRUE(iwtest::ReadFile(profile_) == first);
    Settings_SetExportPath(dir_ + "/menu-export.iwpf");
    ASSERT_EQ(Settings_ExportToFile(0), 1);
    EXPECT_TRUE(iwtest::ReadFile(dir_ + "/menu-export.iwpf") == first);
    ASSERT_EQ(Profiles_Activate(dir_ + "/other.iwpf"), 0u);
    EXPECT_TRUE(iwtest::ReadFile(profile_) == first);
    ASSERT_EQ(Settings_Shutdown(), 0u);

    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    EXPECT_TRUE(iwtest::ReadFile(profile_) == first);

    // A deleted account's records do not bring it back; a renamed one keeps them.
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    ASSERT_EQ(Account_Delete(Account_Get("Gone", -1)), 0u);
    ASSERT_EQ(Settings_ImportMessages(), 0u);
    ASSERT_EQ(Account_Rename(Account_Get("Home", -1), "House"), 0u);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    ASSERT_EQ(Settings_LoadMessages(), 0u);
    EXPECT_EQ(Account_GetCount(), 2);
    EXPECT_EQ(MsgBox_GetCount(Account_Get("House", -1)->hMsgBox), 10);
    EXPECT_EQ(MsgBox_GetCount(Account_Get("Work", -1)->hMsgBox), 10);
}

// A run that changes neither settings nor records (the steady check) leaves
// the profile as it is, with the tree kept or dropped as the option says; a
// run that changes records and dies leaves them in the recovery copy.
TEST_F(SettingsTest, OnlyARunWithChangesRewritesTheProfile) {
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    addAccountsWithRecords({"Home", "Work", "Club"}, 30);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    // A run as the check's: load (new mail of the last run becomes unread),
    // every record seen again on the server, the boxes recounted.
    const auto checkRun = [&](int optimize, bool* fast) {
        SETTINGS_START s;
        ASSERT_EQ(Settings_Start(profile_, 1, &s), 0u);
        *fast = s.fast;
        Settings_SetCleanShutdown(0);
        ASSERT_EQ(Settings_LoadMessages(), 0u);
        for (int i = 0; i < Account_GetCount(); ++i) {
            ACCOUNT* a = Account_Get(nullptr, i);
            MsgBox_BeginCheck(a->hMsgBox, 0, a);
            for (int k = 0; k < MsgBox_GetCount(a->hMsgBox); ++k)
                if (MsgBox_GetMsg(a->hMsgBox, k)->Status != MSG_TO_DELETE)
                    MsgBox_ConfirmMsg(a->hMsgBox, nullptr, k);
            MsgBox_EndCheck(a->hMsgBox, 0, a); // the marked ones were deleted
        }
        MiscUtil_SaveOptimizeFlag(optimize);
        ASSERT_EQ(Settings_Shutdown(), 0u);
        Settings_SetCleanShutdown(1);
    };
    bool fast = false;
    for (int optimize : {0, 1}) {
        const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(1);
        fs::last_write_time(profile_, stamp);
        const std::string before = iwtest::ReadFile(profile_);
        checkRun(optimize, &fast);
        EXPECT_NE(iwtest::ReadFile(profile_), before) << "new became unread, marked ones went";
        const std::string changed = iwtest::ReadFile(profile_);
        const auto written = fs::last_write_time(profile_);
        for (int run = 0; run < 2; ++run) {
            checkRun(optimize, &fast);
            EXPECT_EQ(fs::last_write_time(profile_), written) << optimize << run;
            EXPECT_TRUE(iwtest::ReadFile(profile_) == changed);
            EXPECT_EQ(treeExists(), optimize == 1);
            EXPECT_EQ(fast, optimize == 1) << "the kept tree is taken";
        }
        // Back to every status for the next round.
        ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
        ASSERT_EQ(Settings_LoadMessages(false), 0u);
        for (int i = 0; i < Account_GetCount(); ++i) {
            ACCOUNT* a = Account_Get(nullptr, i);
            MsgBox_Destroy(&a->hMsgBox);
            for (int k = 0; k < 30; ++k) {
                const MSG_RECORD r = roundTripRecord(a->Name[0], k);
                ASSERT_EQ(MsgBox_AddMsg(&a->hMsgBox, &r, a, 1), 0u);
            }
        }
        ASSERT_EQ(Settings_Shutdown(), 0u);
    }

    // A changed record whose run dies before its save is in the recovery copy.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (Settings_Start(profile_, 0, nullptr) != 0 || Settings_LoadMessages() != 0) _exit(1);
        Settings_SetCleanShutdown(0);
        ACCOUNT* a = Account_Get("Work", -1);
        MsgBox_SetStatus(a->hMsgBox, MsgBox_FindMsg(a->hMsgBox, "uid-87-2", nullptr), -1,
                         MSG_TO_DELETE, a);
        raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(Settings_Start(profile_, 1, nullptr), 0u);
    const auto rec = files("-RECOVERY-");
    ASSERT_EQ(rec.size(), 1u);
    const std::string saved = iwtest::ReadFile(rec[0]);
    const size_t at = saved.find("\"uid-87-2\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(saved.substr(at, saved.find('\n', at) - at).find(" 3 ;A=;"), std::string::npos);
}

// Every record of the boxes, in order, as stored.
std::vector<std::string> boxesNow() {
    std::vector<std::string> out;
    for (int i = 0; i < Account_GetCount(); ++i) {
        const ACCOUNT* a = Account_Get(nullptr, i);
        for (int k = 0; k < MsgBox_GetCount(a->hMsgBox); ++k) {
            const MSG_RECORD* r = MsgBox_GetMsg(a->hMsgBox, k);
            out.push_back(a->Name + "|" + r->MsgId().c_str() + "|" + MsgRecord_ToValue(*r));
        }
    }
    return out;
}

uint32_t storedRecords(const char* account) {
    HREGKEY box = HREGKEY_NONE;
    uint32_t n = 0;
    if (RegStore_OpenKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\" + account + "\\MsgBox",
                         &box) == REGSTORE_OK)
        RegStore_QueryInfoKey(box, nullptr, nullptr, &n, nullptr, nullptr);
    return n;
}

// The command line's boxes come from the profile without the tree: the same
// records as through the tree, whatever the file holds, and the tree gets
// them only when a record changes, then all of them.
TEST_F(SettingsTest, BoxesReadWithoutTheTreeHoldWhatTheTreeWouldAndReachItBeforeAChange) {
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    addAccountsWithRecords({"Home", "Work"}, 12);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    // What a hand or an old program may leave: a second section of a box in
    // another case, whose value of a known id replaces that record in its
    // place; ids that differ only in case; a value that is no record; a box
    // of an account that is gone.
    std::string text = iwtest::ReadFile(profile_);
    const size_t at = text.find("\"uid-72-3\"=");
    ASSERT_NE(at, std::string::npos);
    std::string line = text.substr(at, text.find("\r\n", at) - at);
    const std::string changed = std::regex_replace(line, std::regex("Sj=;Re"), "Sj=;Again");
    ASSERT_NE(changed, line);
    std::string upper = line;
    upper.replace(1, 3, "UID");
    text += "[HKEY_CURRENT_USER\\" + std::string(REG_ROOT_PATH) + "\\HOME\\msgbox]\r\n" + changed +
            "\r\n" + upper + "\r\n\"odd\"=dword:00000001\r\n\r\n[HKEY_CURRENT_USER\\" +
            REG_ROOT_PATH + "\\Nobody\\MsgBox]\r\n" + line + "\r\n\r\n";
    iwtest::WriteFile(profile_, text);
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(profile_, stamp);

    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    ASSERT_EQ(Settings_LoadMessages(false), 0u);
    const std::vector<std::string> viaTree = boxesNow();
    ASSERT_EQ(viaTree.size(), 25u);
    EXPECT_NE(viaTree[3].find("Again"), std::string::npos) << viaTree[3];
    ASSERT_EQ(Settings_Abort(), 0u);

    for (int optimize : {0, 1}) {
        SCOPED_TRACE(optimize);
        ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
        MiscUtil_SaveOptimizeFlag(optimize);
        ASSERT_EQ(Settings_LoadMessages(false, nullptr, true), 0u);
        EXPECT_EQ(boxesNow(), viaTree);
        EXPECT_EQ(storedRecords("Home") + storedRecords("Work"), 0u);
        ASSERT_EQ(Settings_Shutdown(), 0u);
        EXPECT_EQ(fs::last_write_time(profile_), stamp) << "nothing changed";
        // A tree kept for the next start is whole.
        EXPECT_EQ(storedRecords("Home") + storedRecords("Work"), optimize ? 26u : 0u);
    }

    // A change on another thread, inside a batch that is then undone: the
    // records went into the tree on their own, and the save keeps them all.
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    MiscUtil_SaveOptimizeFlag(0);
    ASSERT_EQ(Settings_LoadMessages(false, nullptr, true), 0u);
    ACCOUNT* work = Account_Get("Work", -1);
    std::thread([&] {
        RegStoreBatch batch;
        MsgBox_SetStatus(work->hMsgBox, MsgBox_GetMsg(work->hMsgBox, 5), -1, MSG_OLD, work);
        batch.Cancel();
    }).join();
    EXPECT_EQ(storedRecords("Home"), 14u);
    EXPECT_EQ(storedRecords("Work"), 12u);
    MsgBox_SetStatus(work->hMsgBox, MsgBox_GetMsg(work->hMsgBox, 6), -1, MSG_TO_DELETE, work);
    std::vector<std::string> want = viaTree;
    want[13 + 6] = boxesNow()[13 + 6];
    ASSERT_NE(want, viaTree);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    EXPECT_EQ(iwtest::ReadFile(profile_).find("Nobody"), std::string::npos);
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    ASSERT_EQ(Settings_LoadMessages(false), 0u);
    EXPECT_EQ(boxesNow(), want);
}

// Records that could not be committed into the tree are not taken for in
// it: the save brings them in again rather than writing a profile without.
TEST_F(SettingsTest, AnImportTheStoreCouldNotCommitIsMadeAgainBeforeTheSave) {
    ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
    addAccountsWithRecords({"Home", "Work", "Club"}, 400);
    ASSERT_EQ(Settings_Shutdown(), 0u);
    for (const bool withoutTree : {false, true}) {
        SCOPED_TRACE(withoutTree);
        ASSERT_EQ(Settings_Start(profile_, 0, nullptr), 0u);
        MiscUtil_SaveOptimizeFlag(0);
        if (withoutTree) {
            ASSERT_EQ(Settings_LoadMessages(false, nullptr, true), 0u);
        }
        ACCOUNT* home = Account_Get("Home", -1);
        uint32_t imported = 0;
        iwtest::WithFileSizeLimit(64 * 1024, [&] {
            if (!withoutTree) {
                imported = Settings_ImportMessages();
                return;
            }
            MSG_RECORD* r = MsgBox_GetMsg(home->hMsgBox, 1);
            MsgBox_SetStatus(home->hMsgBox, r, -1, r->Status == MSG_OLD ? MSG_UNREAD : MSG_OLD,
                             home);
        });
        EXPECT_TRUE(withoutTree || imported != 0);
        home->ChkPort += withoutTree ? 1 : 2; // a change, so that the tree is saved
        ASSERT_EQ(Account_Save(home, -1), 0u);
        ASSERT_EQ(Settings_Shutdown(), 0u);
        const std::string saved = iwtest::ReadFile(profile_);
        size_t records = 0;
        for (size_t at = 0; (at = saved.find("\r\n\"uid-", at)) != std::string::npos; ++at)
            ++records;
        EXPECT_EQ(records, 1200u);
    }
}

} // namespace
