// SPDX-License-Identifier: GPL-3.0-or-later
// The check engine against a private Dovecot with five users: queue order,
// cancel, skip, a dialog opened mid-check, a start refused while a check runs
// and retried, the announcement rules, a fetch-one download, and a shutdown
// while the worker waits for the windows.
#include "common/status.h"
#include "engine_env.h"
#include "net/pop3.h"
#include "settings/msgbox.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using iwtest::EngineEnv;
using iwtest::WaitForCheck;

class Engine : public iwtest::RealPeersTest {
  protected:
    Engine() : env_(DateTime_Now()) {}
    void SetUp() override {
        // The shared peers are needed only to start the suite's own server.
        if (!s_server) {
            RealPeersTest::SetUp();
            if (IsSkipped() || HasFatalFailure()) return;
            iwtest::Pop3Options opt;
            opt.users = "u1:secret u2:secret u3:secret u4:secret u5:secret";
            s_server = peers().StartPop3(opt);
        }
        server_ = s_server.get();
        env_.Open();
        accs_ = env_.AddAccounts({"a1", "a2", "a3", "a4", "a5"});
        for (size_t i = 0; i < accs_.size(); ++i) {
            ACCOUNT* a = accs_[i];
            a->ChkServer = "127.0.0.1";
            a->ChkPort = server_->port();
            a->ChkLogin = "u" + std::to_string(i + 1);
            a->ChkPswd = "secret";
            a->ChkTmout = 10;
            Seed(static_cast<int>(i), static_cast<int>(i) + 1, "m-");
        }
        GlobalData_GetRecord()->NewMailVisual = 2;
    }
    void TearDown() override {
        if (server_) env_.Close();
    }
    void Seed(int account, int n, const std::string& names) {
        iwtest::SeedOptions o;
        o.names = names;
        server_->SeedMaildir(accs_[static_cast<size_t>(account)]->ChkLogin, n, o);
    }
    // A password asked at every check, answered by `answer` on the UI thread.
    void AskFor(int account) {
        accs_[static_cast<size_t>(account)]->ChkPswdType = 2;
        accs_[static_cast<size_t>(account)]->ChkPswd.clear();
    }
    std::vector<std::string> CheckedOrder() {
        std::vector<std::string> out;
        for (auto& e : env_.ui.EventsStartingWith("account "))
            out.push_back(e.substr(8));
        return out;
    }
    // Waits (without serving the UI thread) until the UI saw an event that
    // starts with `prefix`.
    void WaitForEvent(const std::string& prefix) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (env_.ui.EventsStartingWith(prefix).empty() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int Count(int account, int32_t status) {
        int n = 0;
        MSGBOX* box = accs_[static_cast<size_t>(account)]->hMsgBox;
        for (int i = 0; i < MsgBox_GetCount(box); ++i)
            if (MsgBox_GetMsg(box, i)->Status == status) ++n;
        return n;
    }

    // One server for the suite (starting one takes seconds); every test
    // seeds its mailboxes afresh.
    static void TearDownTestSuite() { s_server.reset(); }
    static inline std::unique_ptr<iwtest::PrivatePop3> s_server;

    EngineEnv env_;
    iwtest::PrivatePop3* server_ = nullptr;
    std::vector<ACCOUNT*> accs_;
};

TEST_F(Engine, AllIsCheckedFirstToLastAndAnnouncedOnce) {
    Schedule_Update(SU_QUEUE_ALL);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(CheckedOrder(), (std::vector<std::string>{"a1", "a2", "a3", "a4", "a5"}));
    for (size_t i = 0; i < accs_.size(); ++i) {
        EXPECT_EQ(accs_[i]->CheckResult, 0) << accs_[i]->StatusText;
        EXPECT_STREQ(accs_[i]->StatusText, "No errors");
        EXPECT_EQ(Count(static_cast<int>(i), MSG_NEW), static_cast<int>(i) + 1);
        EXPECT_EQ(accs_[i]->TimerState, TS_WAITING);
        EXPECT_TRUE(env_.timers.Running(TIMER_ACCOUNT_BASE + static_cast<int>(i)));
        EXPECT_FALSE(DateTime_IsMissing(accs_[i]->LastCheck));
    }
    EXPECT_EQ(env_.ui.EventsStartingWith("popup"), std::vector<std::string>{"popup 15"});
    EXPECT_EQ(env_.ui.EventsStartingWith("sound"), std::vector<std::string>{"sound "})
        << "no account has its own sound: the global one, once";
    auto ev = env_.ui.Events();
    auto at = [&](const std::string& e) { return std::find(ev.begin(), ev.end(), e) - ev.begin(); };
    EXPECT_LT(at("cancel on"), at("account a1"));
    EXPECT_LT(at("account a5"), at("animation off"));
    EXPECT_LT(at("summary"), at("progress close"));
    EXPECT_LT(at("progress close"), at("cancel off"));
    EXPECT_EQ(MailCheck_IsRunning(), 0);
    EXPECT_EQ(MailCheck_Start(nullptr), 0u) << "empty queue: nothing to do";
}

TEST_F(Engine, CancelDuringTheThirdOfFive) {
    AskFor(2);
    const int idx3 = EngineEnv::IndexOf(accs_[2]);
    int busyThird = -1, busyFourth = -1, busyFirst = -1;
    env_.ui.onPassword = [&](const ACCOUNT&, std::string*) {
        busyThird = MailCheck_IsBusy(idx3);
        busyFourth = MailCheck_IsBusy(idx3 + 1);
        busyFirst = MailCheck_IsBusy(0);
        EXPECT_EQ(accs_[3]->TimerState, TS_QUEUED);
        MailCheck_Abort(ERR_CANCELLED);
        return ERR_CANCELLED;
    };
    Schedule_Update(SU_QUEUE_ALL);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(busyThird, 1) << "the account being checked is busy";
    EXPECT_EQ(busyFourth, 1) << "a queued account is busy";
    EXPECT_EQ(busyFirst, 0);
    EXPECT_EQ(MailCheck_IsBusy(idx3), 0);

    EXPECT_EQ(CheckedOrder(), (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(accs_[2]->CheckResult, 3);
    EXPECT_STREQ(accs_[2]->StatusText, "Operation canceled");
    for (int i : {3, 4}) {
        EXPECT_EQ(MsgBox_GetCount(accs_[static_cast<size_t>(i)]->hMsgBox), 0) << i;
        EXPECT_EQ(accs_[static_cast<size_t>(i)]->TimerState, TS_WAITING) << i;
        EXPECT_TRUE(env_.timers.Running(TIMER_ACCOUNT_BASE + i)) << i;
    }
    EXPECT_FALSE(Queue_HasPending());
    EXPECT_EQ(env_.ui.EventsStartingWith("popup"), std::vector<std::string>{"popup 3"})
        << "the mail found before the cancel is announced";

    // The next check starts afresh: the cancel does not stick.
    env_.ui.ClearEvents();
    Queue_PushAndCheck(3);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(accs_[3]->CheckResult, 0) << accs_[3]->StatusText;
}

TEST_F(Engine, SkipGoesOnWithTheNextAccount) {
    AskFor(1);
    env_.ui.onPassword = [&](const ACCOUNT&, std::string*) {
        MailCheck_Abort(ERR_SKIPPED);
        return ERR_NOT_READY;
    };
    Schedule_Update(SU_QUEUE_ALL);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(CheckedOrder(), (std::vector<std::string>{"a1", "a2", "a3", "a4", "a5"}));
    EXPECT_EQ(accs_[1]->CheckResult, 3);
    EXPECT_EQ(MsgBox_GetCount(accs_[1]->hMsgBox), 0);
    EXPECT_EQ(accs_[2]->CheckResult, 0) << accs_[2]->StatusText;
    EXPECT_EQ(Count(4, MSG_NEW), 5);
}

TEST_F(Engine, DialogOpenedMidCheckFinishesTheAccount) {
    AskFor(0);
    env_.ui.onPassword = [&](const ACCOUNT&, std::string* pw) {
        env_.ui.settingsOpen = true;
        *pw = "secret";
        return 0u;
    };
    Schedule_Update(SU_QUEUE_ALL);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(CheckedOrder(), std::vector<std::string>{"a1"});
    EXPECT_EQ(Count(0, MSG_NEW), 1) << "the new mail is not left pending";
    EXPECT_EQ(Count(0, MSG_NOTIFIED_PENDING), 0);
    EXPECT_EQ(accs_[0]->TimerState, TS_WAITING);
    EXPECT_TRUE(env_.timers.Running(TIMER_ACCOUNT_BASE));
    EXPECT_EQ(accs_[1]->TimerState, TS_WAITING) << "the rest get their timers back";
    EXPECT_FALSE(Queue_HasPending());
    MailCheck_WaitIdle();
    EXPECT_EQ(MailCheck_IsRunning(), 0);
}

TEST_F(Engine, StartRefusedWhileRunningIsRetriedBy153) {
    ASSERT_EQ(Timers_Init(), 1);
    Queue_PushAndCheck(0);
    // The worker then waits in its first blocking call after the queue is done.
    WaitForEvent("animation off");
    ASSERT_EQ(MailCheck_IsRunning(), 1);
    EXPECT_EQ(MailCheck_Start(nullptr), ERR_EXISTS);
    EXPECT_EQ(Queue_PushAndCheck(1), 1);
    EXPECT_EQ(accs_[1]->TimerState, TS_QUEUED);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(CheckedOrder(), std::vector<std::string>{"a1"});
    EXPECT_TRUE(Queue_Contains(1)) << "left for the retry";

    env_.timers.Advance(30000);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(CheckedOrder(), (std::vector<std::string>{"a1", "a2"}));
    EXPECT_EQ(accs_[1]->CheckResult, 0);
    Timers_Shutdown();
}

TEST_F(Engine, NotifyOnlyOnceAndRemindLater) {
    GlobalData_GetRecord()->NotifyOnlyOnce = 1;
    accs_[0]->NewMailSnd = "own.oga";
    Queue_PushAndCheck(0);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(env_.ui.EventsStartingWith("popup"), std::vector<std::string>{"popup 1"});
    EXPECT_EQ(env_.ui.EventsStartingWith("sound"), std::vector<std::string>{"sound own.oga"});

    env_.ui.ClearEvents();
    Queue_PushAndCheck(0);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(Count(0, MSG_NOTIFIED), 1);
    EXPECT_TRUE(env_.ui.EventsStartingWith("popup").empty());
    EXPECT_TRUE(env_.ui.EventsStartingWith("sound").empty());

    MailCheck_SetRemindLater(1);
    Queue_PushAndCheck(0);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(env_.ui.EventsStartingWith("popup"), std::vector<std::string>{"popup 1"});
    EXPECT_EQ(MailCheck_GetRemindLater(), 0);

    // Without NotifyOnlyOnce already-notified mail is announced again.
    GlobalData_GetRecord()->NotifyOnlyOnce = 0;
    env_.ui.ClearEvents();
    Queue_PushAndCheck(0);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(env_.ui.EventsStartingWith("popup"), std::vector<std::string>{"popup 1"});
}

TEST_F(Engine, FetchOneAndAFastFailure) {
    Queue_PushAndCheck(0);
    ASSERT_TRUE(WaitForCheck());
    GrowBuffer result;
    CheckRequest req;
    req.flags = CHECK_FETCH_ONE | CHECK_FETCH_NO_SAVE;
    req.account = accs_[0];
    req.targetId = iwtest::SeededUidl(1, "m-");
    req.result = &result;
    EXPECT_EQ(MailCheck_Start(&req), 0u);
    EXPECT_NE(std::string(result.Data()).find("Subject: Test message 1"), std::string::npos);
    EXPECT_EQ(MailCheck_IsRunning(), 0);
    // A message deleted meanwhile is not a cancel: the window says which.
    CheckRequest gone = req;
    gone.targetId = "no-such-id";
    EXPECT_EQ(MailCheck_Start(&gone), ERR_NOT_FOUND);
    EXPECT_EQ(gone.failure, "The message is no longer on the server.");

    // The connection is refused before the box appears: it closes at once
    // instead of waiting for a close that has already happened.
    accs_[0]->ChkPort = 1;
    env_.ui.downloadBoxDelayMs = 500;
    env_.ui.ClearEvents();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(MailCheck_Start(&req), ERR_OPERATION);
    EXPECT_FALSE(req.failure.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(env_.ui.EventsStartingWith("download box"),
              std::vector<std::string>{"download box: already done"});
}

TEST_F(Engine, StopWhileTheWorkerWaitsForTheWindows) {
    Schedule_Update(SU_QUEUE_ALL);
    WaitForEvent("animation off"); // the worker ends up waiting in a blocking call
    ASSERT_EQ(MailCheck_IsRunning(), 1);
    const auto t0 = std::chrono::steady_clock::now();
    MailCheck_Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(MailCheck_IsRunning(), 0);
    // Everything the worker wrote is in the boxes, recounted.
    for (size_t i = 0; i < accs_.size(); ++i)
        EXPECT_EQ(MsgBox_GetCounts(accs_[i]->hMsgBox)->New, static_cast<int>(i) + 1) << i;
    EXPECT_EQ(MailCheck_Start(nullptr), ERR_NOT_READY) << "no check after shutdown began";
}

// The run's end walks every box, also after a cancel that left the current
// account set: no window may change any box meanwhile.
TEST_F(Engine, EveryBoxIsBusyWhileTheRunRecountsThem) {
    env_.ui.mailBoxOpen = true;
    std::vector<int> freeWhileWalking;
    env_.ui.onRefresh = [&](ACCOUNT*) {
        for (int i = 0; i < Account_GetCount(); ++i)
            if (!MailCheck_IsBusy(i)) freeWhileWalking.push_back(i);
    };
    Queue_PushAndCheck(0);
    WaitForEvent("account a1");
    MailCheck_Abort(ERR_CANCELLED);
    ASSERT_TRUE(WaitForCheck());
    MailCheck_WaitIdle();
    EXPECT_TRUE(freeWhileWalking.empty()) << freeWhileWalking.size();
    EXPECT_EQ(MailCheck_IsBusy(1), 0);
}

// A sound plays to its end whatever the cancel says: the caller's loop must
// keep running meanwhile instead of a join that freezes the tray.
TEST_F(Engine, WaitIdleKeepsTheCallerRunningWhileASoundEnds) {
    std::atomic<bool> playing{false};
    env_.ui.onSound = [&] {
        playing = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    Queue_PushAndCheck(0);
    for (int i = 0; i < 1000 && !playing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(playing);
    int pumped = 0;
    MailCheck_WaitIdle([&](int64_t) { ++pumped; });
    EXPECT_GT(pumped, 0);
    EXPECT_EQ(MailCheck_IsRunning(), 0);
}

TEST_F(Engine, WaitIdleBeforeADialogWhileTheWorkerAsksForAPassword) {
    AskFor(0);
    env_.ui.onPassword = [](const ACCOUNT&, std::string* pw) {
        *pw = "secret";
        return 0u;
    };
    Queue_PushAndCheck(0);
    WaitForEvent("account a1"); // the UI thread is busy when the dialog is asked for
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto t0 = std::chrono::steady_clock::now();
    MailCheck_WaitIdle();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(MailCheck_IsRunning(), 0);
    EXPECT_EQ(accs_[0]->CheckResult, 3) << accs_[0]->StatusText;
    EXPECT_EQ(accs_[0]->TimerState, TS_WAITING);

    // Afterwards the worker reaches the windows again.
    env_.ui.ClearEvents();
    Queue_PushAndCheck(0);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_EQ(accs_[0]->CheckResult, 0) << accs_[0]->StatusText;
    EXPECT_EQ(env_.ui.EventsStartingWith("summary").size(), 1u);
}

} // namespace
