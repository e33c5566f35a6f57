// SPDX-License-Identifier: GPL-3.0-or-later
// The real program, started as separate processes on the offscreen
// platform, in this test's sandbox (HOME, XDG folders, store).
#include "../support/fake_pop3.h"
#include "../support/process.h"
#include "../support/temp_env.h"
#include "desktop.h"
#include "platform/registry.h"
#include "settings/reg.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::string debugLog() {
    return iwtest::ReadFile(iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt");
}

using iwtest::Env;
using iwtest::KillAndReap;
using iwtest::OnPath;
using iwtest::WaitExitWithin;
using iwtest::WindowShown;
using iwtest::Xvfb;

// The program's output goes to the test's: a failure shows what it said.
pid_t start(std::vector<std::string> args, Env env = {}) {
    args.insert(args.begin(), IW_PROGRAM);
    env.insert(env.begin(), {{"QT_QPA_PLATFORM", "offscreen"}, {"INBOXWARDEN_NO_BOXES", "1"}});
    return iwtest::Spawn(args, env, {.out = 1, .err = 2});
}

bool waitForLog(const std::string& text, std::chrono::milliseconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (debugLog().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

int cleanShutdown() {
    HREGKEY vendor = HREGKEY_NONE;
    std::string data;
    if (RegStore_OpenKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor) != REGSTORE_OK) return -1;
    if (RegStore_QueryValue(vendor, "CleanShutdown", nullptr, &data) != REGSTORE_OK) return -1;
    return data.empty() ? -1 : data[0];
}

bool checkCmdStored() {
    HREGKEY root = HREGKEY_NONE;
    if (RegStore_OpenKey(HREGKEY_USER, REG_ROOT_PATH, &root) != REGSTORE_OK) return false;
    return RegStore_QueryValue(root, "CheckCmd", nullptr, nullptr) == REGSTORE_OK;
}

// The scripted server serves every start of the program, which may take its
// time to connect.
iwtest::FakePeer serve(iwtest::FakeServer& pop3) {
    return iwtest::FakePeer([&pop3](iwtest::PeerConn& c) { pop3.Serve(c); }, 100, 600000);
}

void addAccount(const std::string& name, int port) {
    const std::string cmd = std::string("printf 'secret\\n' | ") + IW_CLI + " account add '" +
                            name + "' ChkServer=127.0.0.1 ChkPort=" + std::to_string(port) +
                            " ChkLogin=ann --chk-password-stdin";
    std::string out;
    ASSERT_EQ(iwtest::RunShell(cmd, &out), 0) << cmd;
}

// Each test starts from what a first start finds, as under ctest (a process
// per test): run as one binary, the last test's log and store would answer.
class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        RegStore_DeleteTree(HREGKEY_USER, "Software");
        for (const char* dir : {"/state/inboxwarden", "/data/inboxwarden", "/cache/inboxwarden"})
            iwtest::RemoveTree(iwtest::SandboxDir() + dir);
    }
};

TEST_F(Program, SecondStartsHandOverAndShutdownWaitsForTheFirstCopy) {
    iwtest::FakeServer pop3;
    const auto server = serve(pop3);
    addAccount("Work Mail", server.port());
    const pid_t first = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages")) << debugLog();

    // "/check:" is handed over: exit 1, and the first copy runs it.
    EXPECT_EQ(WaitExitWithin(start({"/check:AllInc"}), 30s), 1);
    EXPECT_TRUE(waitForLog("Processing WM_CHECK_CMD: \"AllInc\"", 20s)) << debugLog();
    EXPECT_FALSE(checkCmdStored()) << "the value is deleted once read";
    for (int i = 0; i < 300 && pop3.quits == 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pop3.quits, 1) << "the first copy checked the account";

    // A plain second start opens the first copy's menu.
    EXPECT_EQ(WaitExitWithin(start({}), 30s), 1);
    EXPECT_TRUE(waitForLog("Hand-over: request \"menu\"", 20s));

    // Neither second copy rotated the running copy's log.
    EXPECT_NE(debugLog().find("ExeName:"), std::string::npos);
    EXPECT_NE(debugLog().find("Processing WM_LOAD_MESSAGES"), std::string::npos);
    EXPECT_NE(
        access((iwtest::SandboxDir() + "/state/inboxwarden/Debug_info_BAK.txt").c_str(), F_OK), 0)
        << "no copy moved the live log to the backup";

    // A shutdown request returns only after the first copy has ended.
    const pid_t third = start({"/uninstall"});
    EXPECT_EQ(WaitExitWithin(third, 120s), 0);
    EXPECT_NE(debugLog().find("Normal end of program"), std::string::npos)
        << "the first copy had finished before the request returned";
    EXPECT_EQ(cleanShutdown(), 1);
    EXPECT_EQ(WaitExitWithin(first, 10s), 0);
    KillAndReap(first);
}

// A killed or faulting copy leaves CleanShutdown at 0 (the fault and
// damaged-store tests), a SIGTERM ends it normally (the shutdown test).
TEST_F(Program, ShutdownDuringACheckKeepsWhatItFound) {
    iwtest::FakeServer pop3; // stops answering at the third message, as a server that hangs
    for (int i = 1; i <= 3; ++i)
        pop3.msgs.push_back(iwtest::FakeMsg(i, "", "uid-"));
    pop3.silentOn = "TOP 3 ";
    const auto server = serve(pop3);
    addAccount("Slow", server.port());
    const pid_t p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    EXPECT_EQ(WaitExitWithin(start({"/check:Slow"}), 30s), 1);
    for (int i = 0; i < 300 && !pop3.silenced; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(pop3.silenced) << debugLog();

    kill(p, SIGTERM);
    EXPECT_EQ(WaitExitWithin(p, 20s), 0)
        << "the shutdown cancels the check instead of waiting for it";
    KillAndReap(p);
    EXPECT_EQ(cleanShutdown(), 1);
    const std::string profile =
        iwtest::ReadFile(iwtest::SandboxDir() + "/data/inboxwarden/profiles/Inboxwarden.iwpf");
    EXPECT_NE(profile.find("uid-1"), std::string::npos) << profile;
    EXPECT_NE(profile.find("uid-2"), std::string::npos);
    EXPECT_EQ(profile.find("uid-3"), std::string::npos);
}

// The most common way to lose the icon: the panel starts after the program
// (or restarts). The stand-in window must give way to the real icon.
TEST_F(Program, ATrayThatAppearsLaterGetsTheIcon) {
    const bool tools = OnPath("Xvfb") && OnPath("trayer") && OnPath("xdotool");
    if (!tools) {
        if (std::getenv("IW_REQUIRE_PEERS")) FAIL() << "Xvfb, trayer and xdotool are required";
        GTEST_SKIP() << "needs Xvfb, trayer and xdotool";
    }
    Xvfb x;
    ASSERT_GE(x.display, 0);
    // No session bus: the icon can only go into an XEmbed tray.
    const Env env{{"QT_QPA_PLATFORM", "xcb"},
                  {"DISPLAY", x.name()},
                  {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}};
    const pid_t p = start({}, env);
    ASSERT_TRUE(waitForLog("End of Account_GetMessages")) << debugLog();
    ASSERT_TRUE(waitForLog("no system tray on this desktop", 10s)) << debugLog();
    EXPECT_TRUE(WindowShown(x.name(), "Inboxwarden")) << "the status window stands in";

    const pid_t tray = iwtest::Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype",
                                      "pixel", "--width", "64", "--height", "24"},
                                     {{"DISPLAY", x.name()}});
    EXPECT_TRUE(waitForLog("Tray: a tray appeared; adding the icon again", 30s)) << debugLog();
    bool gone = false;
    for (int i = 0; i < 100 && !(gone = !WindowShown(x.name(), "Inboxwarden")); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(gone) << "the status window goes once the icon has a tray";

    kill(p, SIGTERM);
    EXPECT_EQ(WaitExitWithin(p, 60s), 0);
    KillAndReap(p);
    kill(tray, SIGTERM);
    WaitExitWithin(tray, 10s);
}

TEST_F(Program, AFaultIsReportedAndTheNextStartSaysSo) {
    pid_t p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    kill(p, SIGSEGV);
    EXPECT_EQ(WaitExitWithin(p, 30s), -SIGSEGV) << "the fault still ends the process";
    EXPECT_NE(debugLog().find("Exception: Illegal Storage Access"), std::string::npos)
        << debugLog();
    EXPECT_EQ(debugLog().find("App_Shutdown"), std::string::npos) << "no shutdown after a fault";
    EXPECT_EQ(cleanShutdown(), 0);

    ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
    p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    EXPECT_TRUE(waitForLog("Message box \"Inboxwarden Abort\"", 10s)) << debugLog();
    EXPECT_NE(debugLog().find("Debug_info_BAK.txt"), std::string::npos);
    kill(p, SIGTERM);
    EXPECT_EQ(WaitExitWithin(p, 60s), 0);
    EXPECT_EQ(cleanShutdown(), 1);
}

// A damaged store is set aside and rebuilt from the profile, and a box says
// so. A signal ends the program at once whatever box is open, one of the
// start included.
TEST_F(Program, ADamagedStoreIsRebuiltAndASignalEndsAnyBox) {
    if (!OnPath("Xvfb") || !OnPath("xdotool")) {
        if (std::getenv("IW_REQUIRE_PEERS")) FAIL() << "Xvfb and xdotool are required";
        GTEST_SKIP() << "needs Xvfb and xdotool";
    }
    addAccount("Work", 110);
    const std::string store = iwtest::SandboxDir() + "/config/registry.db";
    std::string bytes = iwtest::ReadFile(store);
    bytes.replace(0, 100, 100, '\0');
    // This process lets go of the store while it is damaged and set aside.
    ASSERT_EQ(RegStore_Open(iwtest::SandboxDir() + "/unused.db"), REGSTORE_OK);
    iwtest::WriteFile(store, bytes);

    Xvfb x;
    ASSERT_GE(x.display, 0);
    const Env boxes{{"QT_QPA_PLATFORM", "xcb"},
                    {"DISPLAY", x.name()},
                    {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"},
                    {"INBOXWARDEN_NO_BOXES", ""}};
    pid_t p = start({}, boxes);
    bool shown = false;
    for (int i = 0; i < 600 && !(shown = WindowShown(x.name(), "Inboxwarden settings store")); ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(shown) << debugLog();
    kill(p, SIGTERM);
    EXPECT_EQ(WaitExitWithin(p, 2s), 0) << "the box held the program";
    KillAndReap(p);
    ASSERT_EQ(RegStore_Open(store), REGSTORE_OK);
    EXPECT_EQ(cleanShutdown(), 1);
    size_t setAside = 0;
    for (const auto& e : std::filesystem::directory_iterator(iwtest::SandboxDir() + "/config"))
        setAside += e.path().filename().string().starts_with("registry.db-damaged-");
    EXPECT_EQ(setAside, 1u);
    const std::string profile =
        iwtest::ReadFile(iwtest::SandboxDir() + "/data/inboxwarden/profiles/Inboxwarden.iwpf");
    EXPECT_NE(profile.find("Work]"), std::string::npos) << "the rebuilt settings were saved";

    // A run that dies leaves its tree; with the recovery mode "ask" the next
    // start asks before the main loop runs.
    ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
    p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    kill(p, SIGKILL);
    WaitExitWithin(p, 10s);
    HREGKEY vendor = HREGKEY_NONE;
    ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(vendor, "Recovery", REGTYPE_DWORD, std::string("\2\0\0\0", 4)),
              REGSTORE_OK);
    ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
    p = start({}, boxes);
    ASSERT_TRUE(waitForLog("Settings from previous Inboxwarden start are detected"));
    kill(p, SIGTERM);
    EXPECT_EQ(WaitExitWithin(p, 2s), -1) << "the start's question held the program";
    KillAndReap(p);
}

TEST_F(Program, HelpAndVersionNeedNoDisplayOrLock) {
    EXPECT_EQ(WaitExitWithin(start({"--version"}), 30s), 0);
    EXPECT_EQ(WaitExitWithin(start({"--help"}), 30s), 0);
}

} // namespace
