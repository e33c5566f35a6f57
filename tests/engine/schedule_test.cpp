// SPDX-License-Identifier: GPL-3.0-or-later
// The scheduler on a fake clock: tick delays, next-check times, the time
// table, the interval timers and their states, the 30-second retry, a CheckCmd
// during loading, and catching up after a suspend. No check reaches a server
// here: the fake UI reports no usable network unless a test says otherwise,
// so queued accounts stay queued.
#include "engine_env.h"

#include <gtest/gtest.h>

namespace {

using iwtest::EngineEnv;
using iwtest::LocalTime;

std::array<uint16_t, 25> Table(std::initializer_list<std::pair<int, int>> bits) {
    std::array<uint16_t, 25> t{};
    for (auto [mask, minute] : bits)
        t[static_cast<size_t>(mask)] |= 1u << (minute / 5);
    return t;
}

TEST(ScheduleRules, TickDelayIsDueAndNextCheckTime) {
    EXPECT_EQ(Schedule_TickDelayMs(LocalTime(2026, 12, 6, 10, 15, 0)), 300001);
    EXPECT_EQ(Schedule_TickDelayMs(LocalTime(2026, 12, 6, 10, 17, 30, 250)), 149751);
    EXPECT_EQ(Schedule_TickDelayMs(LocalTime(2026, 12, 6, 10, 19, 59, 999)), 2);

    auto t = Table({{0, 30}, {11 + 1, 10}});
    EXPECT_EQ(Schedule_IsDue(t.data(), 11, 10), 1);
    EXPECT_EQ(Schedule_IsDue(t.data(), 12, 10), 0);
    EXPECT_EQ(Schedule_IsDue(t.data(), 3, 30), 1);
    EXPECT_EQ(Schedule_IsDue(t.data(), 3, 31), 0);
    EXPECT_EQ(Schedule_IsDue(t.data(), 24, 30), 0);
    EXPECT_EQ(Schedule_IsDue(t.data(), 65535, 65535), 1);
    auto empty = Table({});
    EXPECT_EQ(Schedule_IsDue(empty.data(), 65535, 65535), 0);

    struct Case {
        const char* what;
        std::array<uint16_t, 25> table;
        DATETIME now;
        int hour, minute; // -1: no next check
    };
    const Case cases[] = {
        {"the current mark counts as past", Table({{0, 0}}), LocalTime(2026, 12, 6, 10, 0), 11, 0},
        {"hour mask nearer than every-hour mask", Table({{0, 30}, {12, 10}}),
         LocalTime(2026, 12, 6, 10, 50), 11, 10},
        {"wraps to midnight", Table({{0, 0}, {1, 0}}), LocalTime(2026, 12, 6, 23, 50), 0, 0},
        {"same hour, later minute", Table({{0, 45}, {11, 50}}), LocalTime(2026, 12, 6, 10, 12), 10,
         45},
        {"only tomorrow", Table({{10, 0}}), LocalTime(2026, 12, 6, 9, 0), 9, 0},
        {"empty table", Table({}), LocalTime(2026, 12, 6, 9, 0), -1, -1},
    };
    for (const Case& c : cases) {
        ACCOUNT acc;
        acc.UseSchedule = 1;
        acc.Schedule = c.table;
        DATETIME out{};
        const int rc = NextCheckTimeAt(&acc, c.now, &out);
        if (c.hour < 0) {
            EXPECT_EQ(rc, 1) << c.what;
            continue;
        }
        ASSERT_EQ(rc, 0) << c.what;
        EXPECT_EQ(out.wHour, c.hour) << c.what;
        EXPECT_EQ(out.wMinute, c.minute) << c.what;
        EXPECT_EQ(out.wSecond, 0) << c.what;
    }

    ACCOUNT interval;
    interval.ChkTime = 10;
    interval.TimerBase = LocalTime(2026, 12, 6, 10, 3, 12);
    DATETIME out{};
    ASSERT_EQ(NextCheckTimeAt(&interval, LocalTime(2026, 12, 6, 10, 5), &out), 0);
    EXPECT_EQ(std::make_tuple(out.wHour, out.wMinute, out.wSecond), std::make_tuple(10, 13, 12));
    interval.ChkTime = 90;
    interval.TimerBase = LocalTime(2026, 12, 6, 23, 40, 0);
    ASSERT_EQ(NextCheckTimeAt(&interval, LocalTime(2026, 12, 6, 23, 41), &out), 0);
    EXPECT_EQ(std::make_tuple(out.wHour, out.wMinute), std::make_tuple(1, 10));
}

class Scheduler : public ::testing::Test {
  protected:
    Scheduler() : env_(LocalTime(2026, 12, 6, 10, 17, 30, 250)) {}
    void SetUp() override {
        env_.Open();
        env_.ui.network = false;
    }
    void TearDown() override { env_.Close(); }
    EngineEnv env_;
};

TEST_F(Scheduler, TickRearmsAndQueuesDueTimeTables) {
    auto accs = env_.AddAccounts({"a1", "a2", "a3"});
    accs[0]->UseSchedule = 1;
    accs[0]->Schedule = Table({{0, 20}});
    accs[1]->UseSchedule = 1;
    accs[1]->Schedule = Table({{0, 25}});
    accs[2]->UseSchedule = 1;
    accs[2]->CheckIt = 0;
    accs[2]->Schedule = Table({{0, 20}});
    ASSERT_EQ(Timers_Init(), 1);
    EXPECT_EQ(env_.timers.FirstDelay(TIMER_TICK), 1000);
    EXPECT_EQ(env_.timers.FirstDelay(TIMER_RETRY), 30000);

    env_.timers.Advance(1000); // 10:17:31.250: not a mark; re-armed for 10:20
    EXPECT_EQ(env_.timers.FirstDelay(TIMER_TICK), 148751);
    EXPECT_FALSE(Queue_HasPending());

    env_.timers.Advance(148751); // 10:20:00.001
    EXPECT_EQ(env_.timers.FirstDelay(TIMER_TICK), 300000);
    EXPECT_TRUE(Queue_Contains(0));
    EXPECT_FALSE(Queue_Contains(1)) << "not due at :20";
    EXPECT_FALSE(Queue_Contains(2)) << "left out of automatic checks";
    EXPECT_EQ(accs[0]->TimerState, TS_QUEUED);

    // Auto check off: the tick queues nothing, an interval timer stops them all.
    Queue_Clear();
    GlobalData_SetParam(GD_ENABLED, 0);
    env_.timers.Advance(300000); // 10:25
    EXPECT_FALSE(Queue_HasPending());
}

TEST_F(Scheduler, IntervalTimersStatesAndDisabling) {
    auto accs = env_.AddAccounts({"a1", "a2", "a3"});
    accs[0]->ChkTime = 10;
    accs[1]->ChkTime = 3;
    accs[2]->CheckIt = 0;
    Schedule_Update(SU_START_TIMERS);
    EXPECT_EQ(accs[0]->TimerState, TS_WAITING);
    EXPECT_EQ(env_.timers.FirstDelay(1000), 600000);
    EXPECT_EQ(env_.timers.FirstDelay(1001), 180000);
    EXPECT_FALSE(env_.timers.Running(1002));
    EXPECT_EQ(accs[2]->TimerState, TS_IDLE);

    env_.timers.Advance(180000); // a2's timer: queued, its timer stopped
    EXPECT_EQ(accs[1]->TimerState, TS_QUEUED);
    EXPECT_TRUE(Queue_Contains(1));
    EXPECT_FALSE(env_.timers.Running(1001));
    Schedule_Update(SU_START_TIMERS); // a queued account keeps waiting for its check
    EXPECT_FALSE(env_.timers.Running(1001));

    // As after a check: a2 gets its timer again from now.
    accs[1]->TimerState = TS_CHECKED;
    Queue_Remove(1);
    Schedule_Update(SU_AFTER_CHECK);
    EXPECT_EQ(accs[1]->TimerState, TS_WAITING);
    EXPECT_EQ(env_.timers.FirstDelay(1001), 180000);

    // Mode 4 takes queued accounts out of the queue and restarts their timers.
    Queue_PushAndCheck(0);
    Queue_PushAndCheck(2);
    Schedule_Update(SU_AFTER_CANCEL);
    EXPECT_FALSE(Queue_HasPending());
    EXPECT_EQ(accs[0]->TimerState, TS_WAITING);
    EXPECT_TRUE(env_.timers.Running(1000));
    EXPECT_EQ(accs[2]->TimerState, TS_IDLE) << "no CheckIt: no timer";

    GlobalData_SetParam(GD_ENABLED, 0);
    env_.timers.Advance(600000);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(env_.timers.Running(1000 + i)) << i;
        EXPECT_EQ(accs[static_cast<size_t>(i)]->TimerState, TS_IDLE) << i;
    }
    EXPECT_FALSE(Queue_HasPending());
}

TEST_F(Scheduler, RetryTimerStartsWhatCouldNotStart) {
    env_.AddAccounts({"a1"});
    ASSERT_EQ(Timers_Init(), 1);
    // A dialog is open: the account is queued but nothing starts.
    env_.ui.settingsOpen = true;
    ASSERT_EQ(Queue_PushAndCheck(0), 1);
    EXPECT_TRUE(Queue_HasPending());
    EXPECT_EQ(MailCheck_Start(nullptr), ERR_OPERATION);
    EXPECT_EQ(env_.ui.EventsStartingWith("dialog front").size(), 1u);
    env_.timers.Advance(30000);
    EXPECT_TRUE(Queue_HasPending()) << "the retry waits for the dialog";
    // Dialog closed, still no network: the retry tries and keeps the queue.
    env_.ui.settingsOpen = false;
    env_.timers.Advance(30000);
    EXPECT_TRUE(Queue_HasPending());
    EXPECT_EQ(MailCheck_IsRunning(), 0);
    EXPECT_TRUE(env_.timers.Running(TIMER_RETRY));
}

TEST_F(Scheduler, CheckCmdDuringLoadingRunsAfterCheckOnStart) {
    auto accs = env_.AddAccounts({"a1", "a2", "Work Mail"});
    accs[1]->CheckIt = 0;
    GlobalData_GetRecord()->CheckOnStart = 1;
    EXPECT_EQ(Schedule_CheckCmd("work mail"), -2);
    EXPECT_EQ(Schedule_CheckCmd("All"), -2);
    EXPECT_FALSE(Queue_HasPending()) << "nothing runs before the boxes are loaded";
    CheckOnStart();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(Queue_Contains(i)) << i;
    EXPECT_EQ(std::string(accs[1]->StatusText).rfind("Skipped", 0), 0u);

    Queue_Clear();
    EXPECT_EQ(Schedule_CheckCmd("WORK MAIL"), 2);
    EXPECT_EQ(Schedule_CheckCmd("nobody"), -2);
    EXPECT_EQ(Schedule_CheckCmd("allinc"), -1);
    EXPECT_TRUE(Queue_Contains(0));
    EXPECT_FALSE(Queue_Contains(1));
}

TEST_F(Scheduler, WakeRunsOverdueChecksAndRearmsTheRest) {
    auto accs = env_.AddAccounts({"a1", "a2", "a3"});
    accs[0]->ChkTime = 10;
    accs[1]->ChkTime = 60;
    accs[2]->UseSchedule = 1;
    accs[2]->Schedule = Table({{0, 40}});
    ASSERT_EQ(Timers_Init(), 1);
    Schedule_Update(SU_START_TIMERS);
    env_.timers.Advance(1000 + 148751); // the 10:20 tick has run
    env_.timers.KillTimer(TIMER_TICK);  // suspended: no timer fires
    env_.timers.KillTimer(1000);
    env_.timers.KillTimer(1001);
    env_.timers.Advance(25 * 60000); // 10:45, resumed

    EXPECT_EQ(Schedule_OnWake(), 2);
    EXPECT_TRUE(Queue_Contains(0)) << "10 minutes ran out during the sleep";
    EXPECT_FALSE(Queue_Contains(1));
    // 11:17:30 less 10:45:00, to the second.
    EXPECT_NEAR(env_.timers.FirstDelay(1001), 1950000, 1000)
        << "a2 is set again for the time it has left";
    EXPECT_TRUE(Queue_Contains(2)) << "the 10:40 mark passed during the sleep";
    EXPECT_TRUE(env_.timers.Running(TIMER_TICK));
    EXPECT_TRUE(env_.timers.Running(TIMER_RETRY));
}

} // namespace

namespace {

TEST_F(Scheduler, QueueIsABoundedStackWithoutDuplicates) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back("acc" + std::to_string(1000 + i));
    env_.AddAccounts(names);
    EXPECT_EQ(Queue_PushAndCheck(5), 1);
    EXPECT_EQ(Queue_PushAndCheck(7), 1);
    EXPECT_EQ(Queue_PushAndCheck(5), 1); // moves to the top
    EXPECT_EQ(Queue_PushAndCheck(300), 0) << "no such account";
    EXPECT_EQ(Queue_Pop(), 5);
    EXPECT_EQ(Queue_Pop(), 7);
    EXPECT_EQ(Queue_Pop(), -1);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(Queue_PushAndCheck(i), 1) << i;
    EXPECT_EQ(Queue_PushAndCheck(256), 0) << "the queue holds 256";
    EXPECT_EQ(Account_Get(nullptr, 256)->TimerState, TS_IDLE);
    Queue_Clear();
}

} // namespace
