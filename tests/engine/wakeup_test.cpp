// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/wakeup.h"

#include <gtest/gtest.h>

namespace {

TEST(WakeDetector, OnlyASleepLongerThanTheNoiseCountsAsAResume) {
    WakeDetector w({1000, 1000});
    int64_t slept = -1;
    // Ten seconds awake: both clocks move together.
    EXPECT_FALSE(w.Resumed({11000, 11000}, &slept));
    EXPECT_EQ(slept, 0);
    // A busy machine may run a poll late, but the clocks still agree; a
    // small drift is not a suspend.
    EXPECT_FALSE(w.Resumed({41000, 40950}, &slept));
    EXPECT_EQ(slept, 50);
    // An hour asleep between two polls: boot time ran on, monotonic stopped.
    EXPECT_TRUE(w.Resumed({41000 + 3600000 + 10000, 40950 + 10000}, &slept));
    EXPECT_EQ(slept, 3600000);
    // The next poll compares with the reading after the resume, not before.
    EXPECT_FALSE(w.Resumed({3651000 + 10000, 50950 + 10000}, &slept));
    // Just under and at the threshold.
    EXPECT_FALSE(w.Resumed({3661000 + WAKE_MIN_SLEEP_MS - 1, 60950}));
    EXPECT_TRUE(w.Resumed({3661000 + 2 * WAKE_MIN_SLEEP_MS - 1, 60950}));
}

TEST(WakeDetector, TheRealClocksDoNotReportASuspendRightAway) {
    WakeDetector w(WakeDetector::Read());
    EXPECT_FALSE(w.Resumed(WakeDetector::Read()));
}

TEST(WakeDetector, NetworkCountsOnlyWhenItComesBack) {
    WakeDetector unknownAtStart({0, 0});
    EXPECT_TRUE(unknownAtStart.NetworkChanged(true));  // first report after an unknown start
    EXPECT_FALSE(unknownAtStart.NetworkChanged(true)); // repeated "online"
    EXPECT_FALSE(unknownAtStart.NetworkChanged(false));
    EXPECT_FALSE(unknownAtStart.NetworkChanged(false));
    EXPECT_TRUE(unknownAtStart.NetworkChanged(true));

    WakeDetector onlineAtStart({0, 0}, true);
    EXPECT_FALSE(onlineAtStart.NetworkChanged(true));
}

} // namespace
