// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "settings/account.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace {

MSG_RECORD rec(const std::string& id, int32_t status = MSG_NEW, int32_t size = 100) {
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_ID, id);
    r.Status = status;
    r.Size = size;
    return r;
}

class MsgBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("box") + "/registry.db"), REGSTORE_OK);
        Reg_SetMsgRootKey(nullptr); // re-opened in the fresh store on first write
        acc_.Name = "Work";
        HREGKEY account;
        ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Work", &account),
                  REGSTORE_OK);
    }
    void TearDown() override { MsgBox_Destroy(&acc_.hMsgBox); }

    // The stored values of the account's box: id -> value text.
    std::map<std::string, std::string> stored() {
        std::map<std::string, std::string> out;
        HREGKEY box;
        if (RegStore_OpenKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Work\\MsgBox", &box))
            return out;
        RegStore_ForEachValue(box, [&](std::string_view n, uint32_t, std::string_view d) {
            out.emplace(n, std::string(d.substr(0, d.find('\0'))));
            return true;
        });
        return out;
    }
    void add(const MSG_RECORD& r, int persist = 0) {
        ASSERT_EQ(MsgBox_AddMsg(&acc_.hMsgBox, &r, &acc_, persist), 0u);
    }
    std::vector<int32_t> statuses() {
        std::vector<int32_t> s;
        for (int i = 0; i < MsgBox_GetCount(acc_.hMsgBox); ++i)
            s.push_back(MsgBox_GetMsg(acc_.hMsgBox, i)->Status);
        return s;
    }
    ACCOUNT acc_;
};

TEST_F(MsgBoxTest, AddFindAndDelete) {
    add(rec("a"));
    add(rec("dup", MSG_OLD));
    add(rec("dup", MSG_UNREAD));
    add(rec("b", 11), 1); // an unknown status is stored as new
    ASSERT_NE(acc_.hMsgBox, nullptr);
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 4);
    EXPECT_EQ(MsgBox_GetMsg(acc_.hMsgBox, 3)->Status, MSG_NEW);
    EXPECT_EQ(stored().count("b"), 1u);
    EXPECT_EQ(stored().count("a"), 0u); // not persisted

    int index = 99;
    MSG_RECORD* r = MsgBox_FindMsg(acc_.hMsgBox, "dup", &index);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(index, 1); // the first of two with the same id
    EXPECT_EQ(r->Status, MSG_OLD);
    EXPECT_EQ(MsgBox_FindMsg(acc_.hMsgBox, "DUP", &index), nullptr); // case-sensitive
    EXPECT_EQ(index, -1);

    // Deleting moves the later records down and the lookups follow.
    EXPECT_EQ(MsgBox_DeleteMsg(acc_.hMsgBox, r, -1), 0u);
    r = MsgBox_FindMsg(acc_.hMsgBox, "dup", &index);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(r->Status, MSG_UNREAD);
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 3);
    EXPECT_EQ(MsgBox_FindMsg(acc_.hMsgBox, "b", &index)->Status, MSG_NEW);
    EXPECT_EQ(index, 2);
}

TEST_F(MsgBoxTest, CheckCycleTransitions) {
    // id : status before the check
    const std::pair<const char*, int32_t> before[] = {
        {"new", MSG_NEW},      {"notified", MSG_NOTIFIED},  {"unread", MSG_UNREAD},
        {"old", MSG_OLD},      {"quiet", MSG_QUIET},        {"marked", MSG_TO_DELETE},
        {"gone-old", MSG_OLD}, {"gone-unread", MSG_UNREAD}, {"gone-marked", MSG_TO_DELETE},
    };
    for (const auto& [id, st] : before)
        add(rec(id, st), 1);
    EXPECT_EQ(MsgBox_BeginCheck(acc_.hMsgBox, 0, &acc_), 2);
    EXPECT_EQ(statuses(),
              (std::vector<int32_t>{MSG_NOTIFIED_PENDING, MSG_NOTIFIED_PENDING, MSG_UNREAD_PENDING,
                                    MSG_OLD_PENDING, MSG_QUIET_PENDING, MSG_TO_DELETE,
                                    MSG_OLD_PENDING, MSG_UNREAD_PENDING, MSG_TO_DELETE}));
    // The server lists all but the "gone" ones.
    for (const char* id : {"new", "notified", "unread", "old", "quiet", "marked"}) {
        int i;
        MsgBox_ConfirmMsg(acc_.hMsgBox, MsgBox_FindMsg(acc_.hMsgBox, id, &i), -1);
    }
    MsgBox_EndCheck(acc_.hMsgBox, 0, &acc_);
    // A record still marked after a complete check was deleted on the
    // server during it (the check leaves it marked until QUIT is answered):
    // it is dropped with the ones that were gone.
    EXPECT_EQ(statuses(),
              (std::vector<int32_t>{MSG_NOTIFIED, MSG_NOTIFIED, MSG_UNREAD, MSG_OLD, MSG_QUIET}));
    const auto s = stored();
    EXPECT_EQ(s.size(), 5u);
    EXPECT_EQ(s.count("marked") + s.count("gone-old") + s.count("gone-unread"), 0u);
}

TEST_F(MsgBoxTest, EndCheckDropsOnlyAfterACompleteCheck) {
    for (int i = 0; i < 6; ++i)
        add(rec("m" + std::to_string(i), MSG_OLD, 1000), 1);
    MsgBox_BeginCheck(acc_.hMsgBox, 0, &acc_);
    // A failed check keeps every record; they count as old.
    MsgBox_EndCheck(acc_.hMsgBox, 3, &acc_);
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 6);
    EXPECT_EQ(MsgBox_GetCounts(acc_.hMsgBox)->Old, 6);
    EXPECT_EQ(MsgBox_GetCounts(acc_.hMsgBox)->Size, 6000);
    // Consecutive records to drop are all dropped.
    int i;
    MsgBox_ConfirmMsg(acc_.hMsgBox, MsgBox_FindMsg(acc_.hMsgBox, "m0", &i), -1);
    MsgBox_ConfirmMsg(acc_.hMsgBox, MsgBox_FindMsg(acc_.hMsgBox, "m5", &i), -1);
    MsgBox_EndCheck(acc_.hMsgBox, 0, &acc_);
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 2);
    EXPECT_NE(MsgBox_FindMsg(acc_.hMsgBox, "m5", &i), nullptr);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(MsgBox_FindMsg(acc_.hMsgBox, "m3", &i), nullptr);
    EXPECT_EQ(stored().size(), 2u);
    EXPECT_EQ(MsgBox_GetCounts(acc_.hMsgBox)->Size, 2000);

    // Keep-old: nothing becomes pending, new messages become notified at once.
    add(rec("fresh"), 1);
    MsgBox_BeginCheck(acc_.hMsgBox, 1, &acc_);
    MsgBox_EndCheck(acc_.hMsgBox, 0, &acc_);
    EXPECT_EQ(statuses(), (std::vector<int32_t>{MSG_OLD, MSG_OLD, MSG_NOTIFIED}));
    EXPECT_NE(stored()["fresh"].find(" 8 ;A=;"), std::string::npos);

    // An unchanged server: the pending forms go back.
    MsgBox_BeginCheck(acc_.hMsgBox, 0, &acc_);
    MsgBox_RollbackCheck(acc_.hMsgBox);
    MsgBox_EndCheck(acc_.hMsgBox, 2, &acc_);
    EXPECT_EQ(statuses(), (std::vector<int32_t>{MSG_OLD, MSG_OLD, MSG_NOTIFIED}));
}

TEST_F(MsgBoxTest, LookingAtTheBoxMakesNewMailUnreadAndKeepsTheMarks) {
    for (const int32_t st : {MSG_NEW, MSG_QUIET, MSG_OLD, MSG_TO_DELETE})
        add(rec("s" + std::to_string(st), st));
    MsgBox_SetAllStatus(acc_.hMsgBox, MSG_LOOKED_AT, 1, &acc_);
    EXPECT_EQ(statuses(), (std::vector<int32_t>{MSG_UNREAD, MSG_UNREAD, MSG_OLD, MSG_TO_DELETE}));
    EXPECT_EQ(MsgBox_GetCounts(acc_.hMsgBox)->Unread, 2);
    EXPECT_EQ(MsgBox_GetCounts(acc_.hMsgBox)->Old, 2);
}

TEST_F(MsgBoxTest, StoredValueFormat) {
    MSG_RECORD r = rec("uidl-1", MSG_OLD, 2048);
    r.SetText(MSGF_SUBJECT, "a;b");
    r.HasAttach = 1;
    r.Date = DATETIME{2010, 10, 4, 21, 14, 5, 9, 0};
    EXPECT_EQ(MsgRecord_ToValue(r),
              ";Fm=;;Rt=;;To=;;Sj=;a;b;Sz=;2048;DS=; 2010 10 4 21 14 5 9 2 ;A=;1;En=;");
    // Every field's round trip is the full-configuration test's.
    MSG_RECORD back = MsgRecord_Empty();
    EXPECT_FALSE(MsgRecord_FromValue(";Fm=;a;Rt=;b", &back));
    ASSERT_TRUE(MsgRecord_FromValue(";Fm=;;Rt=;;To=;;Sj=;;Sz=;0;DS=; 2010 1 1 1 1 1 1 7 ;A=;0;En=;",
                                    &back));
    EXPECT_STREQ(back.SizeText(), "0");
    EXPECT_EQ(back.Status, MSG_QUIET);
    // Sizes over 2 GB read as unsigned.
    EXPECT_EQ(MsgRecord_SizeKB(static_cast<int32_t>(3000000000u)), "2929687.5KB");
    // Rounded as printf rounds the exact quotient, halves to even.
    for (uint32_t size : {0u, 51u, 52u, 153u, 154u, 256u, 768u, 1023u, 1024u, 1075u, 10188u,
                          1048575u, 4294967295u}) {
        char want[48];
        std::snprintf(want, sizeof want, "%.1fKB", size / 1024.0);
        EXPECT_EQ(MsgRecord_SizeKB(static_cast<int32_t>(size)), want) << size;
    }
}

// Texts keep the limits of the fixed fields they replaced (cut on a
// character boundary and at a NUL), and a copy owns its own texts.
TEST_F(MsgBoxTest, RecordTextsKeepTheOldLimits) {
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_FROM, std::string(127, 'a') + "\u00e9"); // 129 bytes
    EXPECT_EQ(std::strlen(r.From()), 127u);
    r.SetText(MSGF_TO, std::string(300, 'b'));
    EXPECT_EQ(std::strlen(r.To()), 256u);
    r.SetText(MSGF_SIZETEXT, std::string(40, '9'));
    EXPECT_EQ(std::strlen(r.SizeText()), 26u);
    r.SetText(MSGF_SUBJECT, std::string_view("ab\0cd", 5));
    EXPECT_STREQ(r.Subject(), "ab");
    const MSG_RECORD copy = r;
    r.SetText(MSGF_SUBJECT, "");
    EXPECT_STREQ(copy.Subject(), "ab");
    EXPECT_STREQ(r.Subject(), "");
    // The texts share one block: a change to one keeps the others, also
    // when the new text comes from the record itself.
    r.SetText(MSGF_REPLYTO, r.To());
    EXPECT_EQ(r.ReplyTo().view(), std::string(128, 'b'));
    EXPECT_EQ(r.From().view().size(), 127u);
    EXPECT_EQ(r.To().view(), std::string(256, 'b'));
    EXPECT_EQ(r.SizeText().view(), std::string(26, '9'));
    MSG_RECORD moved = std::move(r);
    EXPECT_EQ(moved.To().view().size(), 256u);
    r = copy;
    EXPECT_STREQ(r.Subject(), "ab");
    // The reader keeps its own limits, one byte short of the fields'.
    r.SetText(MSGF_FROM, std::string(128, 'f'));
    MSG_RECORD back = MsgRecord_Empty();
    ASSERT_TRUE(MsgRecord_FromValue(MsgRecord_ToValue(r), &back));
    EXPECT_EQ(std::strlen(back.From()), 127u);
    EXPECT_EQ(std::strlen(back.To()), 255u);
    EXPECT_STREQ(back.SizeText(), "0") << "a size of 0 keeps the digits stored";
}

// Header texts must not be able to move a field boundary or supply the
// numbers: whatever a sender puts in From, Reply-To, To or Subject reads back
// as text, and the size and status stay the record's own.
TEST_F(MsgBoxTest, HeaderTextCannotForgeFields) {
    const char* texts[] = {
        "Hi;Sz=;1;DS=; 2010 1 5 1 0 0 0 3 ;A=;0;En=;", // a status set through the subject
        "x;Sz=;y",
        "Rt=;abc",
        "a;Rt=",
        ";",
        "=;",
        ";Sj=;;To=;",
        "Sz=;DS=;",
        "plain"};
    for (const char* t : texts) {
        for (int field = 0; field < 4; ++field) {
            MSG_RECORD r = rec("id", MSG_OLD, 4096);
            r.Date = DATETIME{2011, 2, 2, 3, 4, 5, 6, 0};
            const MSG_FIELD f[] = {MSGF_FROM, MSGF_REPLYTO, MSGF_TO, MSGF_SUBJECT};
            r.SetText(f[field], t);
            MSG_RECORD back = MsgRecord_Empty();
            ASSERT_TRUE(MsgRecord_FromValue(MsgRecord_ToValue(r), &back)) << t;
            const char* b[] = {back.From(), back.ReplyTo(), back.To(), back.Subject()};
            for (int other = 0; other < 4; ++other)
                if (other != field) {
                    EXPECT_STREQ(b[other], "") << t << " in field " << field;
                }
            EXPECT_EQ(std::strlen(b[field]), std::strlen(t)) << t;
            EXPECT_EQ(back.Status, MSG_OLD) << t;
            EXPECT_EQ(back.Size, 4096) << t;
            EXPECT_EQ(back.Date.wYear, 2011) << t;
        }
    }
    MSG_RECORD r = rec("id");
    r.SetText(MSGF_SUBJECT, "plain;text=ok");
    EXPECT_NE(MsgRecord_ToValue(r).find(";Sj=;plain;text=ok;Sz=;"), std::string::npos);
    r.SetText(MSGF_SUBJECT, "x;Sz=;y");
    EXPECT_NE(MsgRecord_ToValue(r).find(";Sj=;x,Sz=;y;Sz=;"), std::string::npos);

    // A value stored by an older writer with the forged subject: the
    // numbers come from the real tail.
    MSG_RECORD back = MsgRecord_Empty();
    ASSERT_TRUE(MsgRecord_FromValue(";Fm=;;Rt=;;To=;;Sj=;Hi;Sz=;1;DS=; 2010 1 5 1 0 0 0 3 ;A=;0;"
                                    "En=;;Sz=;100;DS=; 2012 3 1 4 5 6 7 2 ;A=;1;En=;",
                                    &back));
    EXPECT_EQ(back.Size, 100);
    EXPECT_EQ(back.Status, MSG_OLD);
    EXPECT_EQ(back.HasAttach, 1);
    EXPECT_EQ(back.Date.wYear, 2012);
}

TEST_F(MsgBoxTest, GetMessagesRestoresTheBoxes) {
    REGKEY* root = nullptr;
    ASSERT_EQ(Reg_OpenRoot(&root, REG_ROOT_PATH), 0u);
    HREGKEY box;
    ASSERT_EQ(RegStore_CreateKey(root->key, "Work\\MsgBox", &box), REGSTORE_OK);
    const auto put = [&](const std::string& name, const std::string& value) {
        ASSERT_EQ(RegStore_SetValue(box, name, REGTYPE_SZ,
                                    std::string_view(value.c_str(), value.size() + 1)),
                  REGSTORE_OK);
    };
    const auto v = [](int status) {
        return ";Fm=;f;Rt=;;To=;;Sj=;s;Sz=;10;DS=; 2010 1 5 1 0 0 0 " + std::to_string(status) +
               " ;A=;0;En=;";
    };
    put("1", v(MSG_NEW)); // a short numeric UIDL
    put("ab", v(MSG_TO_DELETE));
    put(" ", v(MSG_OLD));                                       // no Message-ID: not a message
    put("nods", ";Fm=;;Rt=;;To=;;Sj=;;Sz=;1;A=;0;En=;");        // no ;DS=;
    put("huge", ";Fm=;" + std::string(3000, 'x') + v(MSG_OLD)); // over the reader's buffer
    put("after", v(MSG_NOTIFIED));                              // still read after the skip
    put("gone", v(MSG_OLD));
    ASSERT_EQ(Account_Initialize(root), 0u);
    ACCOUNT* work = Account_Get("Work", -1);
    ASSERT_NE(work, nullptr);
    MSG_RECORD gone = MsgRecord_Empty();
    gone.SetText(MSGF_ID, "gone");
    gone.Status = MSG_DELETED;
    Reg_SetMsgRootKey(root);
    Reg_UpdateMsgStatus(work, &gone);

    ASSERT_EQ(Account_GetMessages(root), 0u);
    MSGBOX* b = work->hMsgBox;
    ASSERT_EQ(MsgBox_GetCount(b), 3);
    int idx;
    ASSERT_NE(MsgBox_FindMsg(b, "1", &idx), nullptr);
    EXPECT_EQ(MsgBox_FindMsg(b, "1", &idx)->Status, MSG_UNREAD);
    EXPECT_EQ(MsgBox_FindMsg(b, "ab", &idx)->Status, MSG_TO_DELETE);
    EXPECT_EQ(MsgBox_FindMsg(b, "after", &idx)->Status, MSG_UNREAD);
    EXPECT_EQ(MsgBox_GetCounts(b)->Unread, 2);
    EXPECT_EQ(MsgBox_GetCounts(b)->Old, 1); // kept marked, counted as old
    std::string stored;
    ASSERT_EQ(RegStore_QueryValue(box, "1", nullptr, &stored), REGSTORE_OK);
    EXPECT_NE(stored.find(" 0 0 0 1 ;A=;"), std::string::npos); // rewritten as unread
    Account_FreeAll();
    Reg_SetMsgRootKey(nullptr);
    Reg_Close(root);
}

TEST_F(MsgBoxTest, ALateWriteForAGoneAccountDoesNotBringItBack) {
    add(rec("x1", MSG_NEW), 1);
    ASSERT_EQ(stored().size(), 1u);
    // The account was renamed (or deleted) while the worker still held it.
    HREGKEY root;
    ASSERT_EQ(RegStore_OpenKey(HREGKEY_USER, REG_ROOT_PATH, &root), REGSTORE_OK);
    ASSERT_EQ(RegStore_DeleteTree(root, "Work"), REGSTORE_OK);
    Reg_TakeWriteFailure();
    MsgBox_SetStatus(acc_.hMsgBox, nullptr, 0, MSG_OLD, &acc_);
    HREGKEY ghost;
    EXPECT_EQ(RegStore_OpenKey(root, "Work", &ghost), REGSTORE_E_NOT_FOUND);
    EXPECT_EQ(Reg_TakeWriteFailure(), ""); // not a failure to tell the user
}

TEST_F(MsgBoxTest, AFailingStoreGivesOneReportPerPass) {
    for (int i = 0; i < 50; ++i)
        add(rec("k" + std::to_string(i), MSG_OLD));
    Reg_TakeWriteFailure();
    // The account's key cannot be made: a name level longer than the store allows.
    acc_.Name = std::string(300, 'n');
    MsgBox_SetAllStatus(acc_.hMsgBox, MSG_UNREAD, 0, &acc_);
    int more = 0;
    EXPECT_NE(Reg_TakeWriteFailure(&more).find("Failed to open registry key"), std::string::npos);
    EXPECT_EQ(more, 49);
    EXPECT_EQ(Reg_TakeWriteFailure(&more), "");
    EXPECT_EQ(more, 0);
}

} // namespace
