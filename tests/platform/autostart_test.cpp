// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "platform/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(Autostart, EntryQuotesThePathAndGoesAway) {
    const std::string config = std::getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Autostart_Path(), config + "/autostart/inboxwarden.desktop");
    ASSERT_EQ(Autostart_Set(true, "/opt/my \"odd\" $dir\\bin/inboxwarden"), 0);
    const std::string entry = iwtest::ReadFile(Autostart_Path());
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=\"/opt/my \\\"odd\\\" \\$dir\\\\\\\\bin/inboxwarden\"\n"),
              std::string::npos)
        << entry;
    ASSERT_EQ(Autostart_Set(false, ""), 0);
    EXPECT_FALSE(Autostart_IsSet());
    EXPECT_EQ(Autostart_Set(false, ""), 0); // already gone is no error
}
