// The real program, started as separate processes on the offscreen
// platform, in this test's sandbox (HOME, XDG folders, store).
#include "../support/process.h"
#include "../support/temp_env.h"
#include "desktop.h"
#include "platform/registry.h"
#include "settings/reg.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
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

// A POP3 server on loopback with `messages` messages ("uid-1" ...); counts
// the sessions that got as far as QUIT. With `stallAtTop` it stops
// answering at that message's TOP, as a server that hangs mid-check.
class FakePop3 {
  public:
    explicit FakePop3(int messages = 0, int stallAtTop = 0)
        : messages_(messages), stallAt_(stallAtTop) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 4);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakePop3() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    int port() const { return port_; }
    int sessions() const { return sessions_; }
    bool stalled() const { return stalled_; }

  private:
    void serve() {
        for (;;) {
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            talk(c);
            close(c);
        }
    }
    std::string list(bool uidl) const {
        std::string out = "+OK\r\n";
        for (int i = 1; i <= messages_; ++i)
            out += std::to_string(i) + (uidl ? " uid-" + std::to_string(i) : " 300") + "\r\n";
        return out + ".\r\n";
    }
    void talk(int c) {
        auto say = [c](const std::string& t) { return send(c, t.data(), t.size(), MSG_NOSIGNAL); };
        say("+OK ready\r\n");
        std::string in;
        char buf[512];
        for (;;) {
            const ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, size_t(n));
            size_t eol;
            while ((eol = in.find("\r\n")) != std::string::npos) {
                const std::string line = in.substr(0, eol);
                const std::string cmd = line.substr(0, 4);
                in.erase(0, eol + 2);
                if (cmd == "STAT") {
                    say("+OK " + std::to_string(messages_) + " " + std::to_string(300 * messages_) +
                        "\r\n");
                } else if (cmd == "UIDL" || cmd == "LIST") {
                    say(list(cmd == "UIDL"));
                } else if (cmd == "TOP ") {
                    const int m = std::atoi(line.c_str() + 4);
                    if (m == stallAt_) {
                        stalled_ = true; // no answer: the client waits
                        continue;
                    }
                    say("+OK\r\nFrom: ann@example.org\r\nSubject: Message " + std::to_string(m) +
                        "\r\nMessage-ID: <" + std::to_string(m) + "@example.org>\r\n\r\n.\r\n");
                } else if (cmd == "QUIT") {
                    say("+OK bye\r\n");
                    ++sessions_;
                    return;
                } else {
                    say("+OK\r\n");
                }
            }
        }
    }
    int messages_, stallAt_;
    std::atomic<bool> stalled_{false};
    int fd_ = -1;
    int port_ = 0;
    std::atomic<int> sessions_{0};
    std::thread thread_;
};

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
    FakePop3 server;
    addAccount("Work Mail", server.port());
    const pid_t first = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages")) << debugLog();

    // "/check:" is handed over: exit 1, and the first copy runs it.
    EXPECT_EQ(WaitExitWithin(start({"/check:AllInc"}), 30s), 1);
    EXPECT_TRUE(waitForLog("Processing WM_CHECK_CMD: \"AllInc\"", 20s)) << debugLog();
    EXPECT_FALSE(checkCmdStored()) << "the value is deleted once read";
    for (int i = 0; i < 300 && server.sessions() == 0; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.sessions(), 1) << "the first copy checked the account";

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

TEST_F(Program, CleanShutdownOnlyAfterANormalEnd) {
    pid_t p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    EXPECT_EQ(cleanShutdown(), 0) << "0 while running";
    kill(p, SIGKILL);
    WaitExitWithin(p, 10s);
    EXPECT_EQ(cleanShutdown(), 0) << "a killed copy leaves it at 0";

    // The next start rotates the log; wait for the new one.
    ::unlink((iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt").c_str());
    p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    kill(p, SIGTERM); // also how a session's end arrives
    EXPECT_EQ(WaitExitWithin(p, 60s), 0);
    EXPECT_EQ(cleanShutdown(), 1);
    EXPECT_NE(debugLog().find("App_Shutdown: MailCheck_Stop"), std::string::npos);
}

TEST_F(Program, ShutdownDuringACheckKeepsWhatItFound) {
    FakePop3 server(3, 3);
    addAccount("Slow", server.port());
    const pid_t p = start({});
    ASSERT_TRUE(waitForLog("End of Account_GetMessages"));
    EXPECT_EQ(WaitExitWithin(start({"/check:Slow"}), 30s), 1);
    for (int i = 0; i < 300 && !server.stalled(); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(server.stalled()) << debugLog();

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
    FILE* f = std::fopen(store.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

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
