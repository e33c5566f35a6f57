// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window as a user drives it, on real accounts, boxes and store:
// keys, menus and the Find box reach the rules, the list follows the
// engine's and the tray's messages, and "Delete now" runs behind its box.
// The rules themselves are the view model's tests.
#include "../../support/fake_peer.h"
#include "message/filter.h"
#include "settings/settings.h"
#include "ui/filter/filter_editor_dialog.h"
#include "ui/progress.h"
#include "ui/windows.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

namespace {

class MailBoxWindowTest : public ::testing::Test, protected iwtest::WindowHarness {
  protected:
    void SetUp() override { Start(); }
    void TearDown() override { Stop(); }
};

TEST_F(MailBoxWindowTest, KeysMenusAndHeaderReachTheBoxAndTheListFollows) {
    ACCOUNT* acc = account(
        "acc",
        {{"c", MSG_NEW, "Carol", 3}, {"a", MSG_UNREAD, "Bob", 1}, {"b", MSG_NOTIFIED, "Alice", 2}});
    open();
    EXPECT_EQ(w_->windowTitle().toStdString(), "MailBox: acc");
    EXPECT_EQ(shown(), "About a,About b,About c"); // by date
    EXPECT_EQ(w_->Tree()->currentItem()->text(0).toStdString(), "acc (3)");

    // Delete marks the focus row and walks on; again on a marked row unmarks it.
    QTest::keyClick(w_->List(), Qt::Key_Delete);
    EXPECT_EQ(status(acc, "a"), MSG_TO_DELETE);
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
    EXPECT_EQ(w_->List()->model()->data(w_->List()->model()->index(0, MBCOL_FROM),
                                        Qt::AccessibleDescriptionRole),
              "Marked for deletion");
    click(0, Qt::ControlModifier);
    w_->Action(MBC_MARK_DELETE)->trigger(); // the menu's command does not walk
    EXPECT_EQ(status(acc, "a"), MSG_OLD);
    EXPECT_EQ(status(acc, "b"), MSG_TO_DELETE);
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 1}));

    QTest::keyClick(w_->List(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(), (std::vector<int>{0, 1, 2}));
    w_->Action(MBC_MARK_UNREAD)->trigger();
    EXPECT_EQ(status(acc, "c"), MSG_UNREAD);

    // A click on a header sorts by it; the marker moves there.
    QHeaderView* header = w_->List()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(MBCOL_FROM) + 5, 5));
    EXPECT_EQ(shown(), "About b,About a,About c");
    EXPECT_EQ(w_->List()->model()->headerData(MBCOL_FROM, Qt::Horizontal).toString().toStdString(),
              "From <");

    // What other windows provide goes to the window interface.
    click(0);
    w_->Action(MBC_COMPOSE)->trigger();
    ASSERT_EQ(later_.composed.size(), 1u);
    EXPECT_EQ(later_.composed[0].account, "acc");
    EXPECT_TRUE(later_.composed[0].messageText.empty());
    // Enter opens the message, after the number of lines is asked; Cancel
    // there ends it.
    bool asked = false;
    QTimer::singleShot(0, [&] {
        asked = w_->LinesBox() && w_->LinesBox()->isVisible();
        if (w_->LinesBox()) w_->LinesBox()->reject();
    });
    QTest::keyClick(w_->List(), Qt::Key_Return);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MailBoxWindowTest, ChecksAskAboutMarkedMessagesFirstAndClearLogEmptiesTheList) {
    ACCOUNT* acc = account("acc", {{"a", MSG_TO_DELETE}, {"b"}});
    acc->CheckIt = 0; // no timer of its own
    int index = -1;
    ASSERT_EQ(Account_IndexOf(acc, &index), 0u);
    open();
    EXPECT_EQ(w_->StatusLabel(0)->text().toStdString(), "Checked at N/A. Next check: N/A");
    answer_ = UM_IDNO;
    QPushButton* check = w_->findChild<QPushButton*>("checkButton");
    QTest::mouseClick(check, Qt::LeftButton);
    ASSERT_EQ(boxes_, std::vector<std::string>{
                          "Inboxwarden: Some messages will be deleted.\n Are you sure?"});
    EXPECT_FALSE(Queue_Contains(index));
    answer_ = UM_IDYES;
    QTest::mouseClick(check, Qt::LeftButton);
    EXPECT_TRUE(Queue_Contains(index));
    EXPECT_EQ(w_->StatusLabel(0)->text().toStdString(), "Checked at N/A. Next check: pending...");
    Queue_Clear();

    w_->Action(MBC_CLEAR_LOG)->trigger();
    EXPECT_EQ(shown(), "");
    EXPECT_EQ(w_->Tree()->currentItem()->text(0).toStdString(), "acc");
    EXPECT_EQ(w_->StatusLabel(2)->text().toStdString(), "Size : 0.0KB");
    EXPECT_FALSE(w_->Action(MBC_DELETE_NOW)->isEnabled());
    // The tray's own commands go to the tray.
    w_->Action(MBC_AUTO_CHECK)->trigger();
    w_->Action(MBC_PROFILES)->trigger();
    EXPECT_EQ(trayCommands_, (std::vector<int>{MBC_AUTO_CHECK, MBC_PROFILES}));
}

TEST_F(MailBoxWindowTest, TheProgramsMessagesReachTheOneOpenWindow) {
    ACCOUNT* acc = account("acc", {});
    ACCOUNT* other = account("other", {{"x", MSG_OLD}});
    UiWindows windows;
    windows.MailBoxAccountChecked(0, acc); // closed: nothing happens
    EXPECT_FALSE(windows.IsOpen(APP_WINDOW::MailBox));
    windows.Open(APP_WINDOW::MailBox);
    w_ = MailBox_Window();
    ASSERT_NE(w_, nullptr);
    EXPECT_TRUE(windows.IsOpen(APP_WINDOW::MailBox));
    EXPECT_EQ(w_->windowTitle().toStdString(), "MailBox: other");
    w_->Tree()->setCurrentItem(w_->Tree()->topLevelItem(0)->child(0)); // acc
    EXPECT_EQ(shown(), "");

    // A check brought two messages: the engine says so, the window shows them.
    add(acc, {{"n1", MSG_NEW}, {"n2", MSG_NEW}});
    acc->CheckResult = CR_OK;
    acc->LastCheck = DATETIME{2025, 3, 0, 4, 9, 8, 7, 0};
    windows.MailBoxAccountChecked(0, acc);
    EXPECT_EQ(shown(), "About n1,About n2");
    EXPECT_EQ(w_->Tree()->currentItem()->text(0).toStdString(), "acc (2)");
    EXPECT_TRUE(w_->StatusLabel(0)->text().startsWith("Checked at 09:08:07."));

    GlobalData_SetParam(GD_ENABLED, 0);
    windows.MailBoxCommand(MAILBOX_AUTO_SWITCHED);
    EXPECT_EQ(w_->StatusLabel(0)->text().toStdString(), "Checked at 09:08:07. Next check: N/A");
    EXPECT_FALSE(w_->Action(MBC_AUTO_CHECK)->isChecked());

    // A second "Show MailBoxes" brings this one forward; there is no other.
    windows.Open(APP_WINDOW::MailBox);
    EXPECT_EQ(MailBox_Window(), w_);
    int windowsShown = 0;
    for (QWidget* t : QApplication::topLevelWidgets())
        windowsShown += t->isVisible() && dynamic_cast<MailBoxWindow*>(t) != nullptr;
    EXPECT_EQ(windowsShown, 1);

    // Shutdown closes it without a question, marks or not.
    MsgBox_SetStatus(other->hMsgBox, nullptr, 0, MSG_TO_DELETE, other);
    windows.CloseAll();
    EXPECT_FALSE(windows.IsOpen(APP_WINDOW::MailBox));
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

TEST_F(MailBoxWindowTest, FindBoxGoesOnFromTheFocusRowAndSaysWhenNothingIsLeft) {
    account("acc", {{"1", MSG_OLD, "alice", 1},
                    {"2", MSG_OLD, "Bob", 2},
                    {"3", MSG_OLD, "ALICE", 3},
                    {"4", MSG_OLD, "Carol", 4}});
    open();
    w_->Action(MBC_FIND_NEXT)->trigger(); // nothing to look for yet: the box opens
    QDialog* box = w_->FindBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    QLineEdit* text = box->findChild<QLineEdit*>("findText");
    QTest::keyClicks(text, "Alice");
    QTest::keyClick(text, Qt::Key_Return); // Find Next is the default button
    EXPECT_EQ(selectedRows(), std::vector<int>{2});
    QTest::mouseClick(box->findChild<QPushButton*>("findPrev"), Qt::LeftButton);
    EXPECT_EQ(selectedRows(), std::vector<int>{0});
    box->findChild<QAbstractButton*>("matchCase")->click();
    QTest::mouseClick(box->findChild<QPushButton*>("findNext"), Qt::LeftButton);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Inboxwarden: Can't find \"Alice\"."});
    // F3 with the box closed keeps to the last text and its case.
    box->close();
    activate();
    click(1);
    QTest::keyClick(w_->List(), Qt::Key_F3);
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
}

TEST_F(MailBoxWindowTest, DeleteNowCancelledInItsBoxDeletesNothingAndKeepsTheMark) {
    // A server that greets and then keeps the session waiting.
    iwtest::FakePeer peer([](iwtest::PeerConn& c) {
        c.Send("+OK ready\r\n");
        c.ReadLine();
        c.WaitClosed();
    });
    ACCOUNT* acc = account("acc", {{"a"}, {"b"}});
    acc->ChkServer = "127.0.0.1";
    acc->ChkPort = peer.port();
    acc->ChkLogin = "me";
    acc->ChkPswd = "secret";
    acc->ChkTmout = 60;
    open();
    std::string seen;
    QTimer::singleShot(300, [&] {
        QWidget* box = DeleteProgress_Window();
        ASSERT_NE(box, nullptr);
        seen = box->windowTitle().toStdString();
        // The window answers while the session waits: it runs elsewhere.
        box->findChild<QPushButton*>("cancel")->click();
    });
    w_->Action(MBC_DELETE_NOW)->trigger();
    EXPECT_EQ(seen, "Deleting Messages...");
    EXPECT_EQ(DeleteProgress_Window(), nullptr);
    EXPECT_EQ(shown(), "About a,About b");
    EXPECT_EQ(status(acc, "a"), MSG_TO_DELETE); // the next check deletes it
    EXPECT_EQ(status(acc, "b"), MSG_OLD);
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

// "Add Filter" with the shipped plug-in: the built-in editor proposes the
// sender, and OK stores the rule and writes the profile at once.
TEST_F(MailBoxWindowTest, AddFilterStoresARuleForTheSenderAndSavesTheProfile) {
    Filter_Unload();
    setenv("INBOXWARDEN_PLUGIN_DIR", IW_SHIPPED_FILTER_DIR, 1);
    const std::string profile = iwtest::MakeTempDir("addfilter") + "/P.iwpf";
    Settings_SetExportPath(profile);
    ACCOUNT* acc = account("acc", {{"a", MSG_NEW, "Spammer <win@ads.example>", 1}});
    open();
    click(0);
    QTimer::singleShot(0, [] {
        auto* d = dynamic_cast<FilterEditorDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(d);
        d->accept();
    });
    QTest::keyClick(w_->List(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(Filter_GetMsgAction(acc->FilterHandle, "From: <WIN@ads.example>\r\n\r\n"),
              IWF_ACT_DELETE | IWF_ACT_SPAM);
    EXPECT_NE(iwtest::ReadFile(profile).find("\"FilterRules\"=\"Inboxwarden filter rules 1\\n"
                                             "From\tcontains\tnocase\tdelete,spam\t"
                                             "win@ads.example\\n\""),
              std::string::npos);
    Settings_SetExportPath("");
    Filter_Close(&acc->FilterHandle); // no filter ops here to close it
    Filter_Unload();
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MailBoxWindowTest, ReturnAnErrorAsksFirstAndSystemInfoReportsTheAddressBook) {
    ACCOUNT* acc = account("acc", {{"a", MSG_NEW}});
    open();
    answer_ = UM_IDNO;
    w_->Action(MBC_RETURN_ERROR)->trigger();
    EXPECT_EQ(boxes_, std::vector<std::string>{"Confirmation: Message will be returned with an "
                                               "error \"user unknown\". Continue?"});
    EXPECT_EQ(status(acc, "a"), MSG_NEW);
    boxes_.clear();
    answer_ = UM_IDOK;
    w_->Action(MBC_SYSTEM_INFO)->trigger();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].starts_with("System Information: Address Book: \r\n")) << boxes_[0];
    EXPECT_TRUE(later_.opened.empty());
}

} // namespace
