// SPDX-License-Identifier: GPL-3.0-or-later
// The NetworkManager dial-up hooks against a stand-in nmcli on the PATH.
#include "../support/fake_nmcli.h"
#include "../support/fake_peer.h"
#include "net/ras.h"

#include <gtest/gtest.h>

namespace {

using iwtest::FakeNmcli;

class RasTest : public ::testing::Test {
  protected:
    void SetUp() override { Ras_Forget(); }
    void TearDown() override {
        Ras_Forget();
        Ras_SetTimeouts(RAS_DIAL_TIMEOUT, RAS_QUERY_TIMEOUT);
    }
};

TEST_F(RasTest, DialsWithOneArgumentPerWordAndHangsUpOnlyWhatItDialled) {
    FakeNmcli nm;
    EXPECT_EQ(Ras_Load(), 1);
    // A name with blanks, quotes and shell characters reaches nmcli as one
    // argument, never through a shell.
    const std::string name = "My ISP; 'x' $(id)";
    int error = -1;
    ASSERT_EQ(Ras_Dial(name, &error), 1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(nm.Calls(), "-t|-f|NAME,TYPE,STATE|connection|show|--active|LC_ALL=C\n"
                          "--wait|90|connection|up|id|" +
                              name + "|LC_ALL=C\n");
    nm.ClearCalls();
    Ras_HangUp();
    EXPECT_EQ(nm.Calls(), "connection|down|id|" + name + "|LC_ALL=C\n");

    // A line that is already up is neither dialled nor hung up.
    nm.Write("active", "Wired:802-3-ethernet:activated\nISP:gsm:activated\n");
    nm.ClearCalls();
    EXPECT_EQ(Ras_Dial("ISP"), 1);
    Ras_HangUp();
    EXPECT_EQ(nm.Calls(), "-t|-f|NAME,TYPE,STATE|connection|show|--active|LC_ALL=C\n");
}

TEST_F(RasTest, FailedDialTakesTheEntryDownAndKeepsNothing) {
    FakeNmcli nm;
    nm.Write("up_status", "4\n");
    int error = 0;
    EXPECT_EQ(Ras_Dial("ISP", &error), 0);
    EXPECT_EQ(error, 4);
    EXPECT_NE(nm.Calls().find("connection|down|id|ISP|"), std::string::npos) << nm.Calls();
    EXPECT_EQ(Ras_Dialled(), "");
    for (const char* bad : {"", "a\nb"}) {
        EXPECT_EQ(Ras_Dial(bad, &error), 0);
        EXPECT_EQ(error, RAS_BAD_NAME);
    }
}

TEST_F(RasTest, ConnectedReadsTerseLinesAndHangsUpALineThatDropped) {
    FakeNmcli nm;
    const struct {
        const char* active;
        const char* entry;
        int connected;
    } cases[] = {
        {"My\\:ISP:gsm:activated\n", "My:ISP", 1}, // ':' comes escaped
        {"My\\\\ISP:gsm:activated\n", "My\\ISP", 1},
        {"ISP:gsm:activating\n", "ISP", 0},
        {"Wired:802-3-ethernet:activated\n", "ISP", 0},
        // Without a name: the first active connection of a dial-up type.
        {"Wired:802-3-ethernet:activated\nDSL:pppoe:activated\n", "", 1},
        {"Wired:802-3-ethernet:activated\n", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.active);
        nm.Write("active", c.active);
        EXPECT_EQ(Ras_IsConnected(c.entry), c.connected);
    }

    ASSERT_EQ(Ras_Dial("ISP"), 1);
    nm.Write("active", "ISP:gsm:deactivated\n");
    nm.ClearCalls();
    EXPECT_EQ(Ras_IsConnected("ISP"), 0);
    EXPECT_NE(nm.Calls().find("connection|down|id|ISP|"), std::string::npos) << nm.Calls();
    EXPECT_EQ(Ras_Dialled(), "");
}

// A cancel that stops a dial at once is the check engine's dial-up test.
TEST_F(RasTest, AnNmcliThatHangsIsStoppedAndCountsAsNoAnswer) {
    FakeNmcli nm;
    ASSERT_EQ(Ras_Dial("ISP"), 1);
    nm.Write("show_sleep", "30\n");
    Ras_SetTimeouts(RAS_DIAL_TIMEOUT, 1);
    iwtest::Stopwatch sw;
    EXPECT_EQ(Ras_IsConnected("ISP"), 0);
    EXPECT_LT(sw.ElapsedMs(), 5000);
    // The state of our line cannot be read: it is taken down and forgotten.
    EXPECT_NE(nm.Calls().find("connection|down|id|ISP|"), std::string::npos) << nm.Calls();
    EXPECT_EQ(Ras_Dialled(), "");
}

} // namespace
