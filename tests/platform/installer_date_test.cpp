// SPDX-License-Identifier: GPL-3.0-or-later
// The release date an installer carries, and when it counts as newer.
#include "../support/temp_env.h"
#include "common/status.h"
#include "platform/installer_date.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct Case {
    const char* head;
    uint32_t rc;
    int y, m, d;
};

TEST(InstallerDate, MarkerLinesAndTheirResults) {
    const std::string pad(5000, 'x');
    const Case cases[] = {
        {"#!/bin/sh\n# inboxwarden-release: 2026 12 08 0\n", 0, 2026, 12, 8},
        {"#!/bin/sh\n# inboxwarden-release:2027\t1 5 17\r\n", 0, 2027, 1, 5},
        {"# inboxwarden-release: 2026 12 08 0\n# inboxwarden-release: 2030 1 1 0\n", 0, 2026, 12,
         8},
        {"#!/bin/sh\necho hi\n", ERR_NOT_FOUND, 0, 0, 0},
        {"  # inboxwarden-release: 2026 12 08 0\n", ERR_NOT_FOUND, 0, 0, 0}, // not at a line start
        {"# inboxwarden-release: 2026 12 08\n", ERR_BADARG, 0, 0, 0},        // three numbers
        {"# inboxwarden-release: 2026 12 x 0\n", ERR_BADARG, 0, 0, 0},
        {"# inboxwarden-release: 70000 1 1 0\n", ERR_BADARG, 0, 0, 0},
        {"# inboxwarden-release: 99999999999999999999 1 1 0\n", ERR_BADARG, 0, 0, 0},
        {"", ERR_NOT_FOUND, 0, 0, 0},
    };
    const std::string dir = iwtest::MakeTempDir("idate");
    for (const Case& c : cases) {
        iwtest::WriteFile(dir + "/i.run", c.head);
        DATETIME d;
        std::memset(&d, 0x55, sizeof d);
        EXPECT_EQ(InstallerDate_Read(dir + "/i.run", &d), c.rc) << c.head;
        EXPECT_EQ(d.wYear, c.y) << c.head;
        EXPECT_EQ(d.wMonth, c.m) << c.head;
        EXPECT_EQ(d.wDay, c.d) << c.head;
        EXPECT_EQ(d.wHour + d.wDayOfWeek + d.wMilliseconds, 0) << c.head;
    }
    // Only the first 4 KB are read.
    iwtest::WriteFile(dir + "/late.run",
                      "#!/bin/sh\n" + pad + "\n# inboxwarden-release: 2026 1 1 0\n");
    DATETIME d{};
    EXPECT_EQ(InstallerDate_Read(dir + "/late.run", &d), ERR_NOT_FOUND);
    // Neither a missing file, nor a folder, nor a FIFO (which would block) is read.
    EXPECT_EQ(InstallerDate_Read(dir + "/none.run", &d), ERR_NOT_READY);
    EXPECT_EQ(InstallerDate_Read(dir, &d), ERR_NOT_READY);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(InstallerDate_Read(dir + "/fifo", &d), ERR_NOT_READY);
}

TEST(InstallerDate, NewerByYearThenMonthThenDay) {
    auto dt = [](int y, int m, int d) {
        DATETIME r{};
        r.wYear = uint16_t(y), r.wMonth = uint16_t(m), r.wDay = uint16_t(d);
        return r;
    };
    const DATETIME program = dt(2026, 6, 21);
    EXPECT_FALSE(InstallerDate_IsNewer(dt(2026, 6, 21), program)); // the same day
    EXPECT_TRUE(InstallerDate_IsNewer(dt(2026, 7, 1), program));   // later month, earlier day
    EXPECT_TRUE(InstallerDate_IsNewer(dt(2026, 6, 22), program));
    EXPECT_TRUE(InstallerDate_IsNewer(dt(2027, 1, 1), program));
    EXPECT_FALSE(InstallerDate_IsNewer(dt(2025, 12, 31), program));
    EXPECT_FALSE(InstallerDate_IsNewer(dt(2026, 5, 30), program));
}

} // namespace
