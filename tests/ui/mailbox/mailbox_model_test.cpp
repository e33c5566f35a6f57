// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's rules on real accounts, boxes and store, without a
// display. A check is played on the box the way the engine brackets it, with
// the account held in the engine's check queue meanwhile.
#include "../../support/temp_env.h"
#include "common/grow_buffer.h"
#include "common/status.h"
#include "engine/mailcheck.h"
#include "engine/mailsend.h"
#include "engine/pop3acc.h"
#include "engine/schedule.h"
#include "message/savedfile.h"
#include "net/fastpop3.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "ui/mailbox/mailbox_model.h"

#include <QLocale>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

struct Msg {
    const char* id;
    int32_t status = MSG_OLD;
    const char* from = "";
    const char* subject = "";
    const char* to = "";
    int32_t size = 1000;
    DATETIME date = DateTime_Missing();
};

class MailBoxModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QLocale::setDefault(QLocale::c());
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("mbmodel") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        UserMsg_SetHandler([this](std::string_view cap, std::string_view text, unsigned) {
            boxes_.push_back(std::string(cap) + ": " + std::string(text));
            return UM_IDOK;
        });
    }
    void TearDown() override {
        Queue_Clear();
        Queue_Pop(); // no account is being checked any more
        Account_FreeAll();
        GlobalData_Free(0); // some tests load it: never left on a closed root
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
        UserMsg_SetHandler(nullptr);
        EXPECT_TRUE(boxes_.empty()) << boxes_.front();
    }

    ACCOUNT* account(const char* name, std::initializer_list<Msg> msgs) {
        ACCOUNT* acc = Account_Add(name, nullptr);
        HREGKEY key;
        EXPECT_EQ(RegStore_CreateKey(root_->key, name, &key), REGSTORE_OK);
        for (const Msg& m : msgs) {
            MSG_RECORD r = MsgRecord_Empty();
            r.SetText(MSGF_ID, m.id);
            r.SetText(MSGF_FROM, m.from);
            r.SetText(MSGF_SUBJECT, m.subject);
            r.SetText(MSGF_TO, m.to);
            r.SetText(MSGF_SIZETEXT, MsgRecord_SizeKB(m.size));
            r.Size = m.size;
            r.Date = m.date;
            r.Status = m.status;
            EXPECT_EQ(MsgBox_AddMsg(&acc->hMsgBox, &r, acc, 1), 0u);
        }
        MsgBox_Recount(acc->hMsgBox, acc);
        return acc;
    }
    // Opens the model on account `name`.
    void open(const char* name) {
        model_.Open("");
        for (size_t n = 0; n < model_.Nodes().size(); ++n)
            if (model_.Nodes()[n].account == name) model_.SelectNode(static_cast<int>(n));
        ASSERT_NE(model_.SelectedAccount(), nullptr);
    }
    // The ids of the rows in list order.
    std::string rows() const {
        std::string out;
        for (int i = 0; i < model_.List().Count(); ++i)
            out += (i ? "," : "") + model_.List().Row(i).id;
        return out;
    }
    void select(std::initializer_list<int> positions) {
        model_.SetSelection(positions, *positions.begin());
    }
    // The status a restart reads for message `id` (-1: not stored).
    int32_t stored(const std::string& acc, const char* id) {
        HREGKEY box;
        uint32_t type;
        std::string value;
        MSG_RECORD r;
        if (RegStore_OpenKey(root_->key, acc + "\\MsgBox", &box) != REGSTORE_OK ||
            RegStore_QueryValue(box, id, &type, &value) != REGSTORE_OK ||
            !MsgRecord_FromValue(value.c_str(), &r))
            return -1;
        return r.Status;
    }
    static int32_t status(ACCOUNT* acc, const char* id) {
        int index;
        const MSG_RECORD* r = MsgBox_FindMsg(acc->hMsgBox, id, &index);
        return r ? r->Status : -1;
    }
    // The account is queued (being checked too when `checking`).
    static void makeBusy(ACCOUNT* acc, bool checking) {
        int index;
        ASSERT_EQ(Account_IndexOf(acc, &index), 0u);
        ASSERT_EQ(Queue_PushAndCheck(index), 1);
        if (checking) {
            ASSERT_EQ(Queue_Pop(), index);
        }
    }
    static void checkDone() {
        Queue_Clear();
        Queue_Pop();
    }
    std::string notice(const MAILBOX_OUTCOME& o) {
        return o.notice ? o.notice->caption + ": " + o.notice->text : "";
    }

    REGKEY* root_ = nullptr;
    std::vector<std::string> boxes_;
    MailBoxModel model_;
};

DATETIME at(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
            uint16_t dow = 0) {
    return DATETIME{y, mo, dow, d, h, mi, s, 0};
}

TEST_F(MailBoxModelTest, TreeTextsImagesAndTheNodeSelectedFirst) {
    account("a-empty", {});
    ACCOUNT* failed = account("b-failed", {{"1", MSG_NEW}});
    failed->CheckResult = CR_FAILED;
    account("c-old", {{"1", MSG_OLD}});
    account("d-unread", {{"1", MSG_UNREAD}, {"2", MSG_OLD}});
    account("e-quiet", {{"1", MSG_QUIET}, {"2", MSG_NOTIFIED}});
    model_.Open("Work");
    std::vector<std::pair<std::string, int>> nodes;
    for (const auto& n : model_.Nodes())
        nodes.emplace_back(n.text, n.image);
    EXPECT_EQ(nodes, (std::vector<std::pair<std::string, int>>{{"Profile: Work", MBIMG_ROOT},
                                                               {"a-empty", MBIMG_NONE},
                                                               {"b-failed (1)", MBIMG_FAILED},
                                                               {"c-old (1)", MBIMG_OLD},
                                                               {"d-unread (2)", MBIMG_UNREAD},
                                                               {"e-quiet (2)", MBIMG_NEW}}));
    // New mail first (failed or not), then unread, then old, else the root.
    EXPECT_EQ(model_.SelectedAccount(), failed);
    EXPECT_EQ(model_.Title(), "MailBox: b-failed");
    Account_Delete(failed);
    model_.FillTree();
    EXPECT_EQ(model_.Nodes()[model_.SelectedNode()].account, "e-quiet");
    model_.SelectNode(0);
    EXPECT_EQ(model_.List().Count(), 0);
    EXPECT_FALSE(model_.IsEnabled(MBC_CHECK_CURRENT));
    model_.OnSettingsChanged("");
    EXPECT_EQ(model_.Nodes()[0].text, "MailBoxes");
    EXPECT_EQ(model_.SelectedNode(), 0); // the root stays selected
}

TEST_F(MailBoxModelTest, EachColumnSortsByItsRuleStablyBothWays) {
    account("acc",
            {{"a", MSG_OLD, "bob", "Zeta", "x", 10 * 1024, at(2024, 5, 1, 10, 0, 2, 3)},
             {"b", MSG_OLD, "Bob", "alpha", "y", 9 * 1024 + 512, at(2024, 5, 1, 10, 0, 1, 6)},
             {"c", MSG_OLD, "\xC3\xA9mile", "Zeta", "x", 100 * 1024, DateTime_Missing()},
             {"d", MSG_OLD, "bob", "zeta", "x", 10 * 1024, at(2023, 12, 31, 23, 59, 59)}});
    open("acc");
    EXPECT_EQ(model_.List().HeaderText(MBCOL_DATE), "Date <"); // the default sort
    EXPECT_EQ(rows(), "c,d,b,a"); // no date is oldest; seconds count, day of week not
    model_.ClickHeader(MBCOL_DATE);
    EXPECT_EQ(model_.List().HeaderText(MBCOL_DATE), "Date >");
    EXPECT_EQ(rows(), "a,b,d,c");
    // Another column keeps the direction; equal rows keep the box order.
    model_.ClickHeader(MBCOL_FROM);
    EXPECT_EQ(model_.List().HeaderText(MBCOL_FROM), "From >");
    EXPECT_EQ(model_.List().HeaderText(MBCOL_DATE), "Date ");
    EXPECT_EQ(rows(), "c,a,d,b"); // bytes: 0xC3 > 'b' > 'B'
    model_.ClickHeader(MBCOL_FROM);
    EXPECT_EQ(rows(), "b,a,d,c");
    model_.ClickHeader(MBCOL_SUBJECT);
    EXPECT_EQ(rows(), "a,c,b,d"); // case-sensitive: 'Z' < 'a' < 'z'
    model_.ClickHeader(MBCOL_SIZE);
    EXPECT_EQ(model_.List().CellText(0, MBCOL_SIZE), "9.5KB");
    EXPECT_EQ(rows(), "b,a,d,c"); // 9.5KB < 10.0KB < 100.0KB
    model_.ClickHeader(MBCOL_TO);
    model_.ClickHeader(MBCOL_TO);
    EXPECT_EQ(rows(), "b,a,c,d");
    EXPECT_EQ(model_.List().CellText(2, MBCOL_DATE), "<invalid date>");
}

TEST_F(MailBoxModelTest, FindGoesOnAfterTheFocusWithoutWrapAndMatchesCaseOnlyWhenAsked) {
    account("acc", {{"1", MSG_OLD, "Alice", "Report"},
                    {"2", MSG_OLD, "Bob", "re: report", "alice@x"},
                    {"3", MSG_OLD, "Carol", "\xC3\x84rger"},
                    {"4", MSG_OLD, "Dave", "REPORT"}});
    model_.Open("");
    model_.ClickHeader(MBCOL_FROM); // list order 1,2,3,4
    select({0});
    EXPECT_EQ(notice(model_.Find("report", false, true)), "");
    EXPECT_EQ(model_.List().Focus(), 1);
    model_.Find("report", false, true);
    EXPECT_EQ(model_.List().Selected(), std::vector<int>{3});
    // The end of the list is the end: no wrap to the first row.
    EXPECT_EQ(notice(model_.Find("report", false, true)), "Inboxwarden: Can't find \"report\".");
    EXPECT_EQ(model_.List().Focus(), 3);
    model_.Find("ALICE", false, false); // To is searched too
    EXPECT_EQ(model_.List().Focus(), 1);
    select({0});
    model_.Find("report", true, true);
    EXPECT_EQ(model_.List().Focus(), 1);
    EXPECT_TRUE(model_.Find("Report", true, true).notice); // only row 1 has it, above
    select({3});
    model_.Find("\xC3\xA4RGER", false, false); // letters beyond ASCII fold too
    EXPECT_EQ(model_.List().Focus(), 2);
    EXPECT_TRUE(model_.Find("", false, true).openFindBox);
}

TEST_F(MailBoxModelTest, MarkingTogglesWritesAndRefusesABusyBox) {
    ACCOUNT* acc = account("acc", {{"n", MSG_NEW}, {"d", MSG_DELETED}, {"u", MSG_UNREAD}});
    open("acc");
    select({0, 1});
    model_.MarkForDeletion(false);
    EXPECT_EQ(status(acc, "n"), MSG_TO_DELETE);
    EXPECT_EQ(status(acc, "d"), MSG_DELETED);
    model_.MarkForDeletion(false);
    EXPECT_EQ(status(acc, "n"), MSG_OLD); // twice: old, whatever it was
    EXPECT_EQ(model_.List().Selected(), (std::vector<int>{0, 1}));
    // The Delete key moves on to the next row.
    select({0});
    EXPECT_TRUE(model_.MarkForDeletion(true).trayRefresh);
    EXPECT_EQ(model_.List().Selected(), std::vector<int>{1});
    select({2});
    model_.MarkRows(MSG_OLD);
    EXPECT_EQ(model_.List().Row(2).status, MSG_OLD);
    EXPECT_EQ(stored("acc", "n"), MSG_TO_DELETE); // written, as a restart reads it
    EXPECT_EQ(stored("acc", "u"), MSG_OLD);

    // Queued or being checked: no command changes the box.
    for (bool checking : {false, true}) {
        makeBusy(acc, checking);
        int runs = 0;
        const auto run = [&](ACCOUNT*, const std::vector<std::string>&, FASTPOP3_RESULT*) {
            return ++runs, 0u;
        };
        for (const MAILBOX_OUTCOME& o :
             {model_.MarkForDeletion(false), model_.MarkRows(MSG_UNREAD),
              model_.MarkBox(MSG_UNREAD), model_.ClearLog(), model_.DeleteNow(run)})
            EXPECT_EQ(notice(o), "Error: MailBox is busy.");
        EXPECT_EQ(runs, 0);
        EXPECT_EQ(status(acc, "u"), MSG_OLD);
        EXPECT_EQ(MsgBox_GetCount(acc->hMsgBox), 3);
        checkDone();
    }
}

TEST_F(MailBoxModelTest, AllCommandsLeaveTheBusyBoxAlone) {
    ACCOUNT* busy = account("busy", {{"1", MSG_NEW}, {"2", MSG_TO_DELETE}});
    ACCOUNT* idle = account("idle", {{"1", MSG_NEW}, {"2", MSG_TO_DELETE}});
    open("idle");
    makeBusy(busy, false);
    EXPECT_FALSE(model_.MarkAll(MSG_OLD).notice);
    EXPECT_EQ(status(idle, "1"), MSG_OLD);
    EXPECT_EQ(status(idle, "2"), MSG_TO_DELETE); // marks stay
    EXPECT_EQ(status(busy, "1"), MSG_NEW);
    model_.ClearAllLogs();
    EXPECT_EQ(MsgBox_GetCount(busy->hMsgBox), 2);
    EXPECT_EQ(MsgBox_GetCount(idle->hMsgBox), 0);
    checkDone();
}

TEST_F(MailBoxModelTest, ClearLogForgetsTheBoxButNotTheServer) {
    ACCOUNT* acc = account("acc", {{"1", MSG_NEW}, {"2", MSG_TO_DELETE}, {"3", MSG_OLD}});
    std::strcpy(acc->LastSTAT, "+OK 3 3000");
    open("acc");
    EXPECT_TRUE(model_.ClearLog().trayRefresh);
    EXPECT_EQ(MsgBox_GetCount(acc->hMsgBox), 0);
    EXPECT_STREQ(acc->LastSTAT, " "); // the next check lists the server again
    EXPECT_EQ(model_.List().Count(), 0);
    EXPECT_EQ(model_.Nodes()[model_.SelectedNode()].text, "acc");
    EXPECT_EQ(stored("acc", "1"), -1); // nor in the store
    EXPECT_EQ(stored("acc", "3"), -1);
}

TEST_F(MailBoxModelTest, RowsFollowTheirMessagesWhenACheckDropsRecords) {
    ACCOUNT* acc = account("acc", {{"a"}, {"b"}, {"c"}, {"d"}});
    open("acc");
    model_.ClickHeader(MBCOL_FROM); // list order a,b,c,d
    makeBusy(acc, true);
    // While the worker checks it, the box is not read: a new fill shows nothing.
    model_.FillTree();
    EXPECT_EQ(model_.List().Count(), 0);
    EXPECT_EQ(model_.ErrorLine(), "MailBox is busy.");
    EXPECT_TRUE(model_.ErrorLineWarns());
    model_.SelectNode(0);
    model_.FillTree();
    ASSERT_EQ(rows(), ""); // the root
    checkDone();
    open("acc");
    model_.ClickHeader(MBCOL_FROM);
    ASSERT_EQ(rows(), "a,b,c,d");

    // A check ends while the rows are shown: only c and d are still on the
    // server, so a and b leave the box and c moves to index 0.
    makeBusy(acc, true);
    MsgBox_BeginCheck(acc->hMsgBox, 0, acc);
    MsgBox_ConfirmMsg(acc->hMsgBox, nullptr, 2);
    MsgBox_ConfirmMsg(acc->hMsgBox, nullptr, 3);
    MsgBox_EndCheck(acc->hMsgBox, 0, acc);
    checkDone(); // and the "account checked" call has not arrived yet
    select({1, 2});
    model_.MarkForDeletion(false); // b is gone: only c, the record it shows, is marked
    EXPECT_EQ(status(acc, "c"), MSG_TO_DELETE);
    EXPECT_EQ(status(acc, "d"), MSG_OLD);
    EXPECT_EQ(rows(), "c,d");
    EXPECT_EQ(model_.List().Selected(), std::vector<int>{0});

    // The engine's call arrives inside Delete Now's event loop, after another
    // check that dropped d; the server confirmed c.
    select({1});
    const auto run = [&](ACCOUNT* a, const std::vector<std::string>& ids, FASTPOP3_RESULT* r) {
        EXPECT_EQ(ids, std::vector<std::string>{"c"}); // the marked one, not the selected d
        makeBusy(acc, true);
        MsgBox_BeginCheck(a->hMsgBox, 0, a);
        MsgBox_KeepMarked(a->hMsgBox, MsgBox_GetMsg(a->hMsgBox, 0)); // its DELE was refused
        MsgBox_EndCheck(a->hMsgBox, 0, a);
        model_.OnAccountChecked(0, a);
        checkDone();
        EXPECT_EQ(rows(), "c");
        r->deleted = ids;
        MsgBox_DropMsgs(a->hMsgBox, ids, a);
        return 0u;
    };
    EXPECT_EQ(notice(model_.DeleteNow(run)), "");
    EXPECT_EQ(rows(), "");
    EXPECT_EQ(MsgBox_GetCount(acc->hMsgBox), 0);
}

TEST_F(MailBoxModelTest, DeleteNowDropsOnlyWhatTheServerConfirmed) {
    account("acc", {{"a"}, {"b"}, {"c"}, {"d"}});
    open("acc");
    model_.ClickHeader(MBCOL_FROM);
    std::vector<std::string> handed;
    // As fast delete does: all marked first, then the confirmed ones dropped.
    const auto run = [&](ACCOUNT* a, const std::vector<std::string>& ids, FASTPOP3_RESULT* r) {
        handed = ids;
        for (const std::string& id : ids)
            MsgBox_SetStatus(a->hMsgBox, MsgBox_FindMsg(a->hMsgBox, id.c_str(), nullptr), -1,
                             MSG_TO_DELETE, a);
        r->deleted = {ids.front()};
        MsgBox_DropMsgs(a->hMsgBox, r->deleted, a);
        return 0u;
    };
    select({1, 2});
    EXPECT_EQ(notice(model_.DeleteNow(run)), "");
    EXPECT_EQ(handed, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(rows(), "a,c,d"); // c was not confirmed: it stays, marked
    EXPECT_EQ(model_.List().Row(1).status, MSG_TO_DELETE);
    EXPECT_EQ(model_.List().Selected(), std::vector<int>{2}); // the row below the last one handed
    EXPECT_TRUE(model_.PendingDeletesQuestion(MAILBOX_SCOPE::Selected));
    EXPECT_TRUE(model_.PendingDeletesQuestion(MAILBOX_SCOPE::All));

    // Marked messages go first, whatever is selected.
    select({2});
    EXPECT_EQ(notice(model_.DeleteNow(run)), "");
    EXPECT_EQ(handed, std::vector<std::string>{"c"});
    EXPECT_EQ(rows(), "a,d");
    EXPECT_EQ(model_.List().Selected(), std::vector<int>{1});
    // The last row leaves no row below it.
    EXPECT_EQ(notice(model_.DeleteNow(run)), "DELETE_NOW:: Defaulting to last msg");
    EXPECT_EQ(rows(), "a");
    EXPECT_EQ(model_.List().Selected(), std::vector<int>{0});
    EXPECT_FALSE(model_.PendingDeletesQuestion(MAILBOX_SCOPE::All));
    model_.SetSelection({}, -1);
    EXPECT_FALSE(model_.IsEnabled(MBC_DELETE_NOW));
}

// A message comes from its saved copy when there is one, else from the
// server; only a message that came is marked read, and each way of not
// getting one says so in its own words (a cancel says nothing).
TEST_F(MailBoxModelTest, DownloadPrefersTheSavedCopyAndMarksOnlyWhatCame) {
    const DATETIME d = at(2026, 3, 4, 5, 6, 7);
    ACCOUNT* acc = account("acc", {{"saved", MSG_NEW, "", "  Saved  ", "", 10, d},
                                   {"part", MSG_UNREAD, "", "Part", "", 10, d},
                                   {"marked", MSG_TO_DELETE},
                                   {"plain", MSG_NEW}});
    ACCOUNT* other = account("other", {{"saved", MSG_NEW}, {"x", MSG_UNREAD}});
    const std::string root = iwtest::MakeTempDir("dl");
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    GlobalData_GetRecord()->DwnRtDir = root;
    std::filesystem::create_directory(root + "/acc");
    std::ofstream(root + "/acc/" + SavedFile_Name(d, "  Saved  ", "saved", false))
        << "Subject: whole\r\n\r\nbody\r\n";
    std::ofstream(root + "/acc/" + SavedFile_Name(d, "Part", "part", true))
        << "Subject: first lines\r\n\r\n";
    open("acc");
    model_.ClickHeader(MBCOL_FROM); // rows in box order
    std::vector<std::string> fetched;
    uint32_t fetchRc = 0;
    std::string answer = "+OK 99 octets\r\nSubject: fetched\r\n\r\n..dot\r\n.\r\n";
    const auto fetch = [&](CheckRequest* req) {
        fetched.push_back(req->targetId + (req->flags & CHECK_FETCH_TOP
                                               ? " top " + std::to_string(req->lines)
                                               : ""));
        req->result->Reserve(answer.size() + 1);
        std::memcpy(req->result->Data(), answer.c_str(), answer.size() + 1);
        req->failure = "locked";
        return fetchRc;
    };
    std::optional<MAILBOX_MESSAGE> m;

    select({0});
    EXPECT_EQ(notice(model_.Download(0, std::nullopt, fetch, &m)), "");
    ASSERT_TRUE(m && m->savedCopy);
    EXPECT_EQ(m->text, "Subject: whole\r\n\r\nbody\r\n");
    EXPECT_TRUE(fetched.empty());
    EXPECT_EQ(stored("acc", "saved"), MSG_OLD);
    EXPECT_EQ(status(other, "saved"), MSG_NEW);

    // A partial copy stands for the message only when the whole is not wanted.
    select({1});
    model_.Download(0, MAILBOX_LINES{false, 5}, fetch, &m);
    ASSERT_TRUE(m && m->savedCopy);
    EXPECT_EQ(m->text, "Subject: first lines\r\n\r\n");
    model_.Download(0, MAILBOX_LINES{true, 5}, fetch, &m);
    ASSERT_TRUE(m && !m->savedCopy);
    EXPECT_EQ(m->text, "Subject: fetched\r\n\r\n.dot\r\n"); // unstuffed, no status line
    EXPECT_EQ(fetched, std::vector<std::string>{"part"});

    // A message marked for deletion stays marked; headers alone mark nothing.
    select({2});
    model_.Download(0, std::nullopt, fetch, &m);
    EXPECT_EQ(stored("acc", "marked"), MSG_TO_DELETE);
    select({3});
    model_.Download(MBDL_HEADERS, std::nullopt, fetch, &m);
    EXPECT_EQ(fetched.back(), "plain top 0");
    EXPECT_EQ(status(acc, "plain"), MSG_NEW);

    const std::string failed = "Inboxwarden: Failed to download message.";
    const struct {
        uint32_t rc;
        const char* answer;
        std::string said;
    } outcomes[] = {
        {ERR_CANCELLED, "", ""},
        {ERR_REFUSED, "-ERR locked\r\n", failed + "\r\n\r\nThe server refused to send it: locked"},
        {ERR_NOT_FOUND, "",
         failed + "\r\n\r\nThe message is no longer on the server. Check "
                  "the account to bring the list up to date."},
        {0, "-ERR said with success\r\n", failed + "\r\n\r\nlocked"},
    };
    for (const auto& o : outcomes) {
        SCOPED_TRACE(o.said);
        fetchRc = o.rc;
        answer = o.answer;
        EXPECT_EQ(notice(model_.Download(0, std::nullopt, fetch, &m)), o.said);
        EXPECT_FALSE(m);
        EXPECT_EQ(stored("acc", "plain"), MSG_NEW);
    }

    // Only a saved copy is looked for; none is no download.
    fetched.clear();
    model_.Download(MBDL_NO_DOWNLOAD, std::nullopt, fetch, &m);
    EXPECT_FALSE(m);
    EXPECT_TRUE(fetched.empty());
}

TEST_F(MailBoxModelTest, AnUnchangedServerTurnsNewIntoAnnounced) {
    ACCOUNT* acc = account("acc", {{"n", MSG_NEW}, {"u", MSG_UNREAD}});
    acc->CheckResult = CR_OK;
    acc->LastCheck = at(2024, 1, 2, 9, 5, 7);
    open("acc");
    makeBusy(acc, true);
    acc->TimerState = TS_CHECKED;                  // as the worker leaves it
    model_.OnAccountChecked(CHECK_UNCHANGED, acc); // the worker waits in this call
    checkDone();
    EXPECT_EQ(status(acc, "n"), MSG_NOTIFIED);
    EXPECT_EQ(model_.List().Row(0).status, MSG_NOTIFIED);
    EXPECT_EQ(model_.Nodes()[model_.SelectedNode()].image, MBIMG_NOTIFIED);
    EXPECT_EQ(model_.StatusLine(), "Checked at 09:05:07. Next check: N/A");
    EXPECT_EQ(model_.SizeLine(), "Size : 2.0KB");
    EXPECT_FALSE(model_.ErrorLineWarns()) << "a success is not shown as a problem";
}

TEST_F(MailBoxModelTest, LayoutAndSortDirectionSurviveReopening) {
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    account("acc", {{"1"}});
    model_.Open("");
    EXPECT_EQ(model_.ColumnWidth(MBCOL_SUBJECT), 129); // nothing kept yet: the defaults
    EXPECT_FALSE(model_.SavedRect());
    model_.ClickHeader(MBCOL_DATE);
    model_.SetColumnWidth(MBCOL_SUBJECT, 300);
    model_.SaveLayout(210, {10, 20, 800, 600});
    MailBoxModel again;
    again.Open("");
    EXPECT_EQ(again.List().HeaderText(MBCOL_DATE), "Date >");
    EXPECT_EQ(again.ColumnWidth(MBCOL_SUBJECT), 300);
    EXPECT_EQ(again.SavedSplitter(), 210);
    ASSERT_TRUE(again.SavedRect());
    EXPECT_EQ(again.SavedRect()->height, 600);
    GlobalData_Free(0);
}

// A loopback port nobody listens on: a connection there is refused at once.
uint16_t closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0);
    EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ::close(fd);
    return ntohs(a.sin_port);
}

TEST_F(MailBoxModelTest, AReturnThatFailedLeavesTheRowUnmarkedAndSaysWhy) {
    ACCOUNT* acc = account("acc", {{"spam", MSG_NEW}, {"other", MSG_OLD}});
    acc->Email = "me@home.example";
    acc->SendServer = "127.0.0.1";
    acc->SendPort = closedPort();
    acc->SendTmout = 5;
    open("acc");
    model_.ClickHeader(MBCOL_FROM); // rows in box order
    select({0});
    uint32_t fetchRc = 0;
    std::string answer = "+OK\r\nFrom: Spammer <spam@bad.example>\r\nSubject: buy\r\n\r\n.\r\n";
    std::vector<std::string> fetched;
    const auto fetch = [&](CheckRequest* req) {
        fetched.push_back(req->targetId + (req->flags & CHECK_FETCH_TOP
                                               ? " top " + std::to_string(req->lines)
                                               : ""));
        req->result->Reserve(answer.size() + 1);
        std::memcpy(req->result->Data(), answer.c_str(), answer.size() + 1);
        req->failure = "locked";
        return fetchRc;
    };
    int bounced = 0;
    std::string reason;
    const auto bounce = [&](ACCOUNT* a, std::string_view text, std::string* why) {
        ++bounced;
        const uint32_t rc = MailSend_Bounce(nullptr, a, text, 0, why);
        reason = *why;
        return rc;
    };
    const std::string lead = "Error: The message was not returned to its sender, and stays "
                             "unmarked.\r\n\r\n";

    // The headers did not come: nothing is sent.
    fetchRc = ERR_REFUSED;
    EXPECT_EQ(notice(model_.ReturnError(fetch, bounce)),
              "Inboxwarden: Failed to download message.\r\n\r\nThe server refused to send it: "
              "locked");
    EXPECT_EQ(bounced, 0);
    fetchRc = 0;

    // The server cannot be reached: the client's own reason is shown.
    const std::string said = notice(model_.ReturnError(fetch, bounce));
    EXPECT_EQ(reason, "Connection refused");
    EXPECT_EQ(said, lead + reason);
    EXPECT_EQ(fetched.back(), "spam top 0");
    EXPECT_EQ(stored("acc", "spam"), MSG_NEW);
    EXPECT_EQ(model_.List().Row(0).status, MSG_NEW);

    // Nobody to return it to.
    answer = "+OK\r\nSubject: from nobody\r\n\r\n.\r\n";
    EXPECT_EQ(notice(model_.ReturnError(fetch, bounce)),
              lead + "The message has no Return-Path, Reply-To or From field: there is nobody "
                     "to return it to.");
    EXPECT_EQ(bounced, 2);
    EXPECT_EQ(stored("acc", "spam"), MSG_NEW);
    EXPECT_EQ(status(acc, "other"), MSG_OLD);
}

} // namespace
