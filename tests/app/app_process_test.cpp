// The real program, started as separate processes on the offscreen
// platform, in this test's sandbox (HOME, XDG folders, store).
#include "../support/fake_pop3.h"
#include "../support/process.h"
#include "../support/temp_env.h"
#include "platform/registry.h"
#include "settings/reg.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
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

// The program's output goes to the test's: a failure shows what it said.
pid_t start(std::vector<std::string> args, Env env = {}) {
    args.insert(args.begin(), IW_PROGRAM);
    env.insert(env.begin(), {{"QT_QPA_PLATFORM", "offscreen"}, {"INBOXWARDEN_NO_BOXES", "1"}});
    return iwtest::Spawn(args, env, {.out = 1, .err = 2});
}

// Exit status of a process, -1000 when it has not ended within `limit`, or
// -2000 when it was already reaped.
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return int(int8_t(WEXITSTATUS(status)));
            return -WTERMSIG(status);
        }
        if (r < 0) return -2000;
        if (std::chrono::steady_clock::now() >= end) return -1000;
        std::this_thread::sleep_for(20ms);
    }
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

void killAndReap(pid_t pid) {
    if (waitExit(pid, 0ms) == -1000) {
        kill(pid, SIGKILL);
        waitExit(pid, 10s);
    }
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
    EXPECT_EQ(waitExit(start({"/check:AllInc"}), 30s), 1);
    EXPECT_TRUE(waitForLog("Processing WM_CHECK_CMD: \"AllInc\"", 20s)) << debugLog();
    EXPECT_FALSE(checkCmdStored()) << "the value is deleted once read";
    for (int i = 0; i < 300 && pop3.quits == 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pop3.quits, 1) << "the first copy checked the account";

    // A plain second start opens the first copy's menu.
    EXPECT_EQ(waitExit(start({}), 30s), 1);
    EXPECT_TRUE(waitForLog("Hand-over: request \"menu\"", 20s));

    // Neither second copy rotated the running copy's log.
    EXPECT_NE(debugLog().find("ExeName:"), std::string::npos);
    EXPECT_NE(debugLog().find("Processing WM_LOAD_MESSAGES"), std::string::npos);
    EXPECT_NE(
        access((iwtest::SandboxDir() + "/state/inboxwarden/Debug_info_BAK.txt").c_str(), F_OK), 0)
        << "no copy moved the live log to the backup";

    // A shutdown request returns only after the first copy has ended.
    const pid_t third = start({"/uninstall"});
    EXPECT_EQ(waitExit(third, 120s), 0);
    EXPECT_NE(debugLog().find("Normal end of program"), std::string::npos)
        << "the first copy had finished before the request returned";
    EXPECT_EQ(cleanShutdown(), 1);
    EXPECT_EQ(waitExit(first, 10s), 0);
    killAndReap(first);
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
    EXPECT_EQ(waitExit(start({"/check:Slow"}), 30s), 1);
    for (int i = 0; i < 300 && !pop3.silenced; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(pop3.silenced) << debugLog();

    kill(p, SIGTERM);
    EXPECT_EQ(waitExit(p, 20s), 0) << "the shutdown cancels the check instead of waiting for it";
    killAndReap(p);
    EXPECT_EQ(cleanShutdown(), 1);
    const std::string profile =
        iwtest::ReadFile(iwtest::SandboxDir() + "/data/inboxwarden/profiles/Inboxwarden.iwpf");
    EXPECT_NE(profile.find("uid-1"), std::string::npos) << profile;
    EXPECT_NE(profile.find("uid-2"), std::string::npos);
    EXPECT_EQ(profile.find("uid-3"), std::string::npos);
}

bool onPath(const char* tool) {
    std::string out;
    return iwtest::RunShell(std::string("command -v ") + tool, &out) == 0;
}

// Whether display `n` is free. An X server of another mount namespace on
// this machine shows only by its abstract socket, which clients try first.
bool displayFree(int n) {
    if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) return false;
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a),
                           socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
    close(fd);
    return free;
}

// A private X server; the display number it runs on, or -1.
struct Xvfb {
    pid_t pid = -1;
    int display = -1;
    int readyFd = -1;
    Xvfb() {
        for (int n = 20 + getpid() % 400, tries = 0; display < 0 && tries < 10; ++n, ++tries)
            if (displayFree(n)) start(n);
    }
    void start(int n) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid = iwtest::Spawn({"Xvfb", ":" + std::to_string(n), "-displayfd", "3", "-screen", "0",
                             "640x480x24", "-nolisten", "tcp"},
                            {}, {.keep = fds[1]});
        close(fds[1]);
        // The number and the newline come in two writes, and the server quits
        // when the second finds the pipe closed: read the whole line.
        std::string line;
        char c;
        pollfd p{fds[0], POLLIN, 0};
        while (pid > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 20000) == 1 &&
               read(fds[0], &c, 1) == 1)
            line += c;
        if (line.find('\n') != std::string::npos) display = std::atoi(line.c_str());
        // The server may write to the pipe again later: a closed pipe ends it.
        readyFd = fds[0];
        if (display < 0) {
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
            close(readyFd);
            pid = readyFd = -1;
        }
    }
    ~Xvfb() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (readyFd >= 0) close(readyFd);
    }
    std::string name() const { return ":" + std::to_string(display); }
};

// Whether a window of that exact title is mapped on the display.
bool windowShown(const std::string& display, const std::string& title) {
    return iwtest::WaitExit(
               iwtest::Spawn({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"},
                             {{"DISPLAY", display}})) == 0;
}

// The most common way to lose the icon: the panel starts after the program
// (or restarts). The stand-in window must give way to the real icon.
TEST_F(Program, ATrayThatAppearsLaterGetsTheIcon) {
    const bool tools = onPath("Xvfb") && onPath("trayer") && onPath("xdotool");
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
    EXPECT_TRUE(windowShown(x.name(), "Inboxwarden")) << "the status window stands in";

    const pid_t tray = iwtest::Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype",
                                      "pixel", "--width", "64", "--height", "24"},
                                     {{"DISPLAY", x.name()}});
    EXPECT_TRUE(waitForLog("Tray: a tray appeared; adding the icon again", 30s)) << debugLog();
    bool gone = false;
    for (int i = 0; i < 100 && !(gone = !windowShown(x.name(), "Inboxwarden")); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(gone) << "the status window goes once the icon has a tray";

    kill(p, SIGTERM);
    EXPECT_EQ(waitExit(p, 60s), 0);
    killAndReap(p);
    kill(tray, SIGTERM);
    waitExit(tray, 10s);
}

TEST_F(Program, AFaultIsReportedAndTheNextStartSaysSo) {
    pid_t p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    kill(p, SIGSEGV);
    EXPECT_EQ(waitExit(p, 30s), -SIGSEGV) << "the fault still ends the process";
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
    EXPECT_EQ(waitExit(p, 60s), 0);
    EXPECT_EQ(cleanShutdown(), 1);
}

// A damaged store is set aside and rebuilt from the profile, and a box says
// so. A signal ends the program at once whatever box is open, one of the
// start included.
TEST_F(Program, ADamagedStoreIsRebuiltAndASignalEndsAnyBox) {
    if (!onPath("Xvfb") || !onPath("xdotool")) {
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
    for (int i = 0; i < 600 && !(shown = windowShown(x.name(), "Inboxwarden settings store")); ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(shown) << debugLog();
    kill(p, SIGTERM);
    EXPECT_EQ(waitExit(p, 2s), 0) << "the box held the program";
    killAndReap(p);
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
    waitExit(p, 10s);
    HREGKEY vendor = HREGKEY_NONE;
    ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor), REGSTORE_OK);
    ASSERT_EQ(RegStore_SetValue(vendor, "Recovery", REGTYPE_DWORD, std::string("\2\0\0\0", 4)),
              REGSTORE_OK);
    ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
    p = start({}, boxes);
    ASSERT_TRUE(waitForLog("Settings from previous Inboxwarden start are detected"));
    kill(p, SIGTERM);
    EXPECT_EQ(waitExit(p, 2s), -1) << "the start's question held the program";
    killAndReap(p);
}

TEST_F(Program, HelpAndVersionNeedNoDisplayOrLock) {
    EXPECT_EQ(waitExit(start({"--version"}), 30s), 0);
    EXPECT_EQ(waitExit(start({"--help"}), 30s), 0);
}

} // namespace
