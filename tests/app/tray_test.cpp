// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fake_peer.h"
#include "../support/temp_env.h"
#include "app/mainwnd.h"
#include "app/tray.h"
#include "engine/mailcheck.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "ui/mailbox/mailbox_window.h"
#include "ui/settings/settings_dialog.h"
#include "ui/windows.h"

#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int TS_WAITING = 556, TS_CHECKED = 558;

struct Acc {
    ACCOUNT a;
    explicit Acc(MSGBOX_COUNTS c, int state = TS_WAITING, int result = 0, int checkIt = 1) {
        a.hMsgBox = MsgBox_Create();
        a.hMsgBox->Counts = c;
        a.TimerState = state;
        a.CheckResult = CHECK_RESULT(result);
        a.CheckIt = uint8_t(checkIt);
    }
    ~Acc() { MsgBox_Destroy(&a.hMsgBox); }
};

TRAY_SUMMARY summarize(std::vector<std::unique_ptr<Acc>>& accs) {
    std::vector<ACCOUNT*> p;
    for (auto& x : accs)
        p.push_back(&x->a);
    return Tray_Summarize(p.data(), int(p.size()));
}

TEST(TraySummary, IconAndTooltipFollowTheCounts) {
    struct Case {
        const char* what;
        std::vector<std::tuple<MSGBOX_COUNTS, int, int, int>>
            accounts; // counts, state, result, CheckIt
        int icon;
        const char* tip;
    };
    const Case cases[] = {
        {"one of three failed, no mail",
         {{{}, TS_WAITING, 0, 1}, {{}, TS_CHECKED, 3, 1}, {{}, TS_WAITING, 1, 1}},
         ICON_FAILED,
         "Inboxwarden: 0 new, 0 unread and 0 old messages"},
        {"a failure of an account left out of checks does not count",
         {{{}, TS_WAITING, 3, 0}},
         ICON_NORMAL,
         "Inboxwarden: 0 new, 0 unread and 0 old messages"},
        {"new mail wins over a failure",
         {{{0, 2, 0, 0, 0, 0}, TS_WAITING, 0, 1}, {{}, TS_CHECKED, 3, 1}},
         ICON_NEWMAIL,
         "Inboxwarden: 2 new, 0 unread and 0 old messages"},
        {"old and quiet show as present",
         {{{0, 0, 1, 4, 2, 0}, TS_CHECKED, 0, 1}},
         ICON_OLD,
         "Inboxwarden: 0 new, 3 unread and 4 old messages"},
        {"checked and other accounts add up",
         {{{1, 1, 0, 0, 0, 0}, TS_CHECKED, 0, 1}, {{3, 2, 5, 7, 0, 0}, TS_WAITING, 0, 1}},
         ICON_NEWMAIL,
         "Inboxwarden: 7 new, 5 unread and 7 old messages"},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<Acc>> accs;
        for (auto& [counts, state, result, checkIt] : c.accounts)
            accs.push_back(std::make_unique<Acc>(counts, state, result, checkIt));
        const TRAY_SUMMARY s = summarize(accs);
        EXPECT_EQ(Tray_SummaryIcon(s), c.icon) << c.what;
        EXPECT_EQ(Tray_SummaryTip(s), c.tip) << c.what;
    }
    // The outputs split the just-checked accounts from the others.
    std::vector<std::unique_ptr<Acc>> accs;
    accs.push_back(std::make_unique<Acc>(MSGBOX_COUNTS{1, 2, 0, 0, 0, 0}, TS_CHECKED));
    accs.push_back(std::make_unique<Acc>(MSGBOX_COUNTS{4, 8, 0, 0, 0, 0}, TS_WAITING));
    const TRAY_SUMMARY s = summarize(accs);
    EXPECT_EQ(s.checkedNew, 1);
    EXPECT_EQ(s.checkedNotified, 2);
    EXPECT_EQ(s.othersNew, 12);
}

// The main window on a real store with three accounts.
class TrayWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("tray") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        ASSERT_EQ(Account_Initialize(root_), 0u);
        for (const char* n : {"Alpha", "Beta", "Gamma"}) {
            uint32_t st = 0;
            ACCOUNT* a = Account_Add(n, &st);
            ASSERT_NE(a, nullptr);
            a->CheckIt = std::string(n) != "Beta";
        }
        UserMsg_SetHandler([this](std::string_view, std::string_view text, unsigned) {
            boxes_.emplace_back(text);
            return UM_IDOK;
        });
        wnd_ = std::make_unique<MainWnd>(nullptr);
        ASSERT_EQ(MailCheck_Init(wnd_.get(), wnd_.get()), 0u);
    }
    void TearDown() override {
        MailCheck_Stop();
        Queue_Clear();
        wnd_.reset();
        Account_FreeAll();
        GlobalData_Free(0);
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
        UserMsg_SetHandler(nullptr);
    }

    REGKEY* root_ = nullptr;
    std::unique_ptr<MainWnd> wnd_;
    std::vector<std::string> boxes_;
};

TEST_F(TrayWindow, LoadedMenuListsTheAccountsAndTakesTheDefault) {
    GlobalData_SetParam(GD_DEFMENU, CMD_ACCOUNT_BASE + 2);
    wnd_->HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    ASSERT_TRUE(wnd_->Loaded());
    EXPECT_FALSE(wnd_->MenuAction(CMD_CANCEL_AND_EXIT)->isEnabled());
    EXPECT_FALSE(wnd_->MenuAction(CMD_CANCEL_CHECK)->isEnabled());
    EXPECT_TRUE(wnd_->MenuAction(CMD_ENABLE)->isChecked());
    QAction* gamma = wnd_->MenuAction(CMD_ACCOUNT_BASE + 2);
    ASSERT_NE(gamma, nullptr);
    EXPECT_EQ(gamma->text(), "Gamma");
    EXPECT_TRUE(gamma->isChecked());
    EXPECT_FALSE(wnd_->MenuAction(CMD_ACCOUNT_BASE + 1)->isChecked()) << "Beta is left out";
    QMenu* sub = wnd_->Menu()->findChild<QMenu*>("checkMenu");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(wnd_->Menu()->defaultAction(), sub->menuAction());
    EXPECT_EQ(sub->defaultAction(), gamma);

    // A refresh rebuilds the account items instead of adding them again.
    GlobalData_SetParam(GD_DEFMENU, CMD_SHOW_MAILBOXES);
    wnd_->MenuRefresh();
    int accountItems = 0;
    for (QAction* a : sub->actions())
        accountItems += a->data().toInt() >= CMD_ACCOUNT_BASE;
    EXPECT_EQ(accountItems, 3);
    EXPECT_EQ(wnd_->Menu()->defaultAction(), wnd_->MenuAction(CMD_SHOW_MAILBOXES));
}

TEST_F(TrayWindow, EnableToggleStopsTimersAndShowsTheOffIcon) {
    wnd_->HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    EXPECT_TRUE(wnd_->TimerRunning(TIMER_ACCOUNT_BASE + 0));
    EXPECT_FALSE(wnd_->TimerRunning(TIMER_ACCOUNT_BASE + 1)) << "Beta is not checked automatically";
    EXPECT_EQ(wnd_->IconShown(), ICON_NORMAL);
    wnd_->Command(CMD_ENABLE);
    EXPECT_FALSE(wnd_->MenuAction(CMD_ENABLE)->isChecked());
    EXPECT_FALSE(wnd_->TimerRunning(TIMER_ACCOUNT_BASE + 0));
    EXPECT_EQ(wnd_->IconShown(), ICON_OFF);
    wnd_->Command(CMD_ENABLE);
    EXPECT_TRUE(wnd_->TimerRunning(TIMER_ACCOUNT_BASE + 0));
    EXPECT_EQ(wnd_->IconShown(), ICON_NORMAL);
}

TEST_F(TrayWindow, MissingWindowsSaySoAndMailClientFailureIsShown) {
    wnd_->HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    wnd_->Command(CMD_SHOW_MAILBOXES);
    ASSERT_EQ(boxes_.size(), 1u);
    GlobalData_GetRecord()->MailReader = "/nonexistent/mail-reader -x";
    EXPECT_EQ(MailClient_Launch(nullptr), 0);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1], "Mail client not found\n(/nonexistent/mail-reader -x)");
}

TEST_F(TrayWindow, TwoActivationsWithinTheDoubleClickTimeAreADoubleClick) {
    wnd_->HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    GlobalData_SetParam(GD_DEFMENU, CMD_SHOW_MAILBOXES);
    wnd_->OnTrayActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(wnd_->TimerRunning(TIMER_CLICK));
    EXPECT_TRUE(boxes_.empty());
    wnd_->OnTrayActivated(QSystemTrayIcon::Trigger); // how StatusNotifier hosts report it
    EXPECT_FALSE(wnd_->TimerRunning(TIMER_CLICK)) << "no single click after the double one";
    EXPECT_EQ(boxes_.size(), 1u) << "the default action ran (its window is missing here)";
}

// The MailBox window as the tray and the engine reach it: "Show MailBoxes",
// the new-mail result, the worker's blocking "account checked".
TEST_F(TrayWindow, ShowMailBoxesOpensTheOneWindowThatTheWorkersCallsReach) {
    UiWindows windows;
    MainWnd wnd(&windows);
    wnd.HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    EXPECT_FALSE(wnd.IsMailBoxOpen());
    wnd.Command(CMD_SHOW_MAILBOXES);
    MailBoxWindow* mb = MailBox_Window();
    ASSERT_NE(mb, nullptr);
    EXPECT_TRUE(wnd.IsMailBoxOpen());
    wnd.ShowMailBoxes(); // a check's new-mail result: the open window comes forward
    QCoreApplication::processEvents();
    EXPECT_EQ(MailBox_Window(), mb);

    mb->Tree()->setCurrentItem(mb->Tree()->topLevelItem(0)->child(0)); // Alpha, as a click does
    ACCOUNT* alpha = Account_Get("Alpha", -1);
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_ID, "m1");
    r.SetText(MSGF_SUBJECT, "Hello");
    ASSERT_EQ(MsgBox_AddMsg(&alpha->hMsgBox, &r, alpha, 1), 0u);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        wnd.AccountChecked(0, alpha);
        returned = true;
    });
    for (int i = 0; i < 400 && !returned; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker.join();
    EXPECT_EQ(mb->Model().Nodes()[1].text, "Alpha (1)");
    EXPECT_EQ(mb->Model().List().Count(), 1) << "the new message is listed";

    windows.CloseAll();
    EXPECT_FALSE(wnd.IsMailBoxOpen());
    EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

// Runs `fn` once the settings dialog the next Command opens is shown.
static void whenSettingsOpen(std::function<void(SettingsDialog*)> fn) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, fn] {
        if (SettingsDialog* d = SettingsDialog_Current(); d && d->isVisible()) {
            poll->stop();
            poll->deleteLater();
            fn(d);
        }
    });
    poll->start(20);
}

// The Settings command while a check of the account runs: the dialog opens
// once the worker has ended, refuses checks and a second dialog while it
// is open, and its rename and delete find no worker holding the account.
TEST_F(TrayWindow, SettingsWaitForTheRunningCheckBeforeRenamingAndDeleting) {
    iwtest::FakePeer peer([](iwtest::PeerConn& c) {
        c.Send("+OK ready\r\n");
        c.ReadLine();
        c.WaitClosed();
    });
    UiWindows windows;
    MainWnd wnd(&windows);
    ASSERT_EQ(MailCheck_Init(&wnd, &wnd), 0u);
    // The worker must not outlive the window it reports to, whatever fails.
    struct StopWorker {
        ~StopWorker() { MailCheck_Stop(); }
    } stopWorker;
    wnd.HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    ACCOUNT* alpha = Account_Get("Alpha", -1);
    alpha->ChkServer = "127.0.0.1";
    alpha->ChkPort = peer.port();
    alpha->ChkLogin = "me";
    alpha->ChkPswd = "secret";
    alpha->ChkTmout = 60;
    for (int i = 0; i < Account_GetCount(); ++i)
        ASSERT_EQ(Account_Save(nullptr, i), 0u);
    for (const char* id : {"m1", "m2"}) {
        MSG_RECORD r = MsgRecord_Empty();
        r.SetText(MSGF_ID, id);
        r.Status = MSG_OLD;
        ASSERT_EQ(MsgBox_AddMsg(&alpha->hMsgBox, &r, alpha, 1), 0u);
    }
    ASSERT_EQ(Queue_PushAndCheck(0), 1);
    for (int i = 0; i < 200 && !MailCheck_IsRunning(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(MailCheck_IsRunning());

    bool ranWhileOpen = false;
    whenSettingsOpen([&](SettingsDialog* d) {
        ranWhileOpen = MailCheck_IsRunning() != 0;
        // Cancelled, not waited out until the server gave up.
        EXPECT_STREQ(Account_Get("Alpha", -1)->StatusText, "Operation canceled");
        EXPECT_TRUE(wnd.IsSettingsDialogOpen());
        wnd.Command(CMD_SETTINGS); // to the front, no second dialog
        EXPECT_EQ(SettingsDialog_Current(), d);
        EXPECT_EQ(Queue_PushAndCheck(1), 1);
        EXPECT_FALSE(MailCheck_IsRunning()) << "no check while the dialog is open";
        d->findChild<QLineEdit*>("accountName")->setText("Renamed");
        d->findChild<QPushButton*>("save")->click();
        d->SelectAccount(0); // Beta, Gamma, Renamed
        EXPECT_EQ(d->findChild<QLineEdit*>("accountName")->text(), "Beta");
        UserMsg_SetHandler([](std::string_view, std::string_view, unsigned) { return UM_IDYES; });
        d->findChild<QPushButton*>("delete")->click();
        EXPECT_TRUE(d->Ok());
    });
    wnd.Command(CMD_SETTINGS);
    EXPECT_FALSE(ranWhileOpen);
    EXPECT_FALSE(wnd.IsSettingsDialogOpen());
    // Beta's check was queued by its index, which now names Gamma.
    EXPECT_EQ(Queue_Pop(), -1) << "the queue does not outlive the dialog";

    Account_FreeAll();
    ASSERT_EQ(Account_Initialize(root_), 0u);
    ASSERT_EQ(Account_GetMessages(root_, false), 0u);
    ACCOUNT* renamed = Account_Get("Renamed", -1);
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(MsgBox_GetCount(renamed->hMsgBox), 2) << "the box went with the name";
    EXPECT_EQ(Account_Get("Beta", -1), nullptr);
    EXPECT_NE(Account_Get("Gamma", -1), nullptr);
    MailCheck_Init(wnd_.get(), wnd_.get());
}

// Exit while the dialog is open: the dialog closes unsaved and the
// shutdown runs once the Settings command has ended.
TEST_F(TrayWindow, ExitWhileTheSettingsDialogIsOpenClosesItFirst) {
    UiWindows windows;
    MainWnd wnd(&windows);
    int shutdowns = 0;
    bool openAtShutdown = true;
    wnd.SetShutdownHandler([&] {
        ++shutdowns;
        openAtShutdown = wnd.IsSettingsDialogOpen();
    });
    wnd.HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    whenSettingsOpen([&](SettingsDialog* d) {
        d->findChild<QLineEdit*>("email")->setText("edited@example.org");
        wnd.Command(CMD_EXIT);
        EXPECT_EQ(shutdowns, 0) << "not inside the dialog's loop";
    });
    wnd.Command(CMD_SETTINGS);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_FALSE(openAtShutdown);
    EXPECT_EQ(Account_Get("Alpha", -1)->Email, "");
    EXPECT_TRUE(boxes_.empty()) << "nothing asked: " << boxes_.front();
}

TEST_F(TrayWindow, BlinkStoppedOnItsSecondFrameLeavesTheNewMailIcon) {
    wnd_->HandleMessage(WM_LOAD_MESSAGES_FAST, 0, 0);
    wnd_->ShowIcon(ICON_BLINK2);
    wnd_->SetNewMailBlink(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(wnd_->IconShown(), ICON_NEWMAIL);
}

} // namespace

namespace {

// The worker's blocking calls: carried out on the UI thread while it runs
// its loop, and given up at once once shutdown unblocks the worker, so the
// UI thread can join the worker without pumping events.
TEST(MainWindowSends, WorkerSendRunsOnTheUiThreadOrReturnsWhenUnblocked) {
    MainWnd wnd(nullptr);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        wnd.TrayUpdateSummary();
        returned = true;
    });
    for (int i = 0; i < 200 && !returned; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(wnd.Tip(), "Inboxwarden: 0 new, 0 unread and 0 old messages");

    // No event loop runs now: only the unblock can release the worker.
    const auto t0 = std::chrono::steady_clock::now();
    std::thread blocked([&] { wnd.NewMailPopup(2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    wnd.UnblockWorker(true);
    blocked.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    // And from then on a send returns without queueing anything.
    std::thread later([&] { wnd.NewMailPopup(2); });
    later.join();
    wnd.UnblockWorker(false);
}

} // namespace
