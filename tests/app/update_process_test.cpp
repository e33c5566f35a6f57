// SPDX-License-Identifier: GPL-3.0-or-later
// The update and the removal as a user meets them: the real program starts
// the real installer the build made, the installed program runs, and its
// removal leaves the home folder as it was before the install.
#include "../support/process.h"
#include "../support/temp_env.h"
#include "desktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Every entry below `dir`: its path, its kind and a file's size.
std::string listing(const std::string& dir) {
    std::vector<std::string> lines;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const auto st = it->symlink_status();
        std::string l = fs::relative(it->path(), dir).string();
        l += fs::is_directory(st) ? "/" : fs::is_symlink(st) ? "@" : "";
        if (fs::is_regular_file(st)) l += " " + std::to_string(fs::file_size(it->path()));
        lines.push_back(l);
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

// The pid of a running process of this executable, or -1.
pid_t runningFrom(const std::string& exe) {
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(e.path() / "exe", ec);
        if (!ec && target == exe) return static_cast<pid_t>(std::stol(e.path().filename()));
    }
    return -1;
}

template <class F> bool within(std::chrono::milliseconds limit, F ready) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return ready();
}

class UpdateProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = iwtest::MakeTempDir("home");
        // The home holds things of its own, ~/.local/bin among them: the
        // removal must keep all of it.
        fs::create_directories(home_ + "/.local/bin");
        iwtest::WriteFile(home_ + "/.local/bin/other-tool", "#!/bin/sh\n");
        iwtest::WriteFile(home_ + "/notes.txt", "mine");
        // XDG_DATA_HOME stays outside this home: the installer keeps to ~/.local/share.
        env_ = {{"HOME", home_}, {"QT_QPA_PLATFORM", "offscreen"}, {"INBOXWARDEN_NO_BOXES", "yes"}};
    }
    pid_t start(const std::string& exe, std::vector<std::string> args) {
        args.insert(args.begin(), exe);
        return iwtest::Spawn(args, env_, {.out = 1, .err = 2});
    }
    // A program the installer started is no child of this test: ended by
    // its pid when a failed test leaves it running.
    void TearDown() override {
        const pid_t left = runningFrom(home_ + "/.local/bin/inboxwarden");
        if (left > 0) ::kill(left, SIGKILL);
    }
    std::string home_;
    iwtest::Env env_;
};

TEST_F(UpdateProgram, TheInstalledUpdateRunsAndItsRemovalLeavesHomeAsItWas) {
    const std::string before = listing(home_);
    // The build's installer, dated later than the program built with it.
    std::string installer = iwtest::ReadFile(IW_INSTALLER);
    const size_t at = installer.find("\n# inboxwarden-release: ");
    ASSERT_NE(at, std::string::npos);
    ASSERT_LT(at, 4096u);
    installer.replace(at + 24, 4, "9999");
    const std::string path = iwtest::SandboxDir() + "/newer-installer.run";
    iwtest::WriteFile(path, installer); // not executable: it is run through the shell
    std::string out;
    ASSERT_EQ(iwtest::RunCollect({IW_CLI, "options", "set", "RemoteInstaller=" + path}, &out), 0);
    // The switch has no command-line option: into the profile, which the
    // program loads at its start.
    const std::string profile =
        iwtest::SandboxDir() + "/data/inboxwarden/profiles/Inboxwarden.iwpf";
    std::string text = iwtest::ReadFile(profile);
    const std::string section = "[HKEY_CURRENT_USER\\Software\\Corvale\\Inboxwarden]\r\n";
    const size_t sec = text.find(section);
    ASSERT_NE(sec, std::string::npos) << text;
    text.insert(sec + section.size(), "\"RemoteInstallerEnable\"=hex:01\r\n");
    iwtest::WriteFile(profile, text);

    // An earlier install by hand (a menu entry, no switches), which the
    // update installs over.
    ASSERT_EQ(iwtest::RunCollect({"/bin/sh", IW_INSTALLER}, &out, env_), 0);
    ASSERT_TRUE(fs::exists(home_ + "/.local/share/applications/inboxwarden.desktop"));

    // The old program starts the installer and ends with 0 at once.
    const pid_t old = start(IW_PROGRAM, {});
    const int oldExit = iwtest::WaitExitWithin(old, 60s);
    if (oldExit == -1000) iwtest::KillAndReap(old);
    const std::string oldLog =
        iwtest::ReadFile(iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt");
    EXPECT_EQ(oldExit, 0) << oldLog;
    ASSERT_NE(oldLog.find("* inboxwarden installer is started. Exiting..."), std::string::npos)
        << oldLog;

    // The installer puts the new one in ~/.local and starts it; that one
    // does not start the same installer again.
    const std::string exe = home_ + "/.local/bin/inboxwarden";
    ASSERT_TRUE(within(120s, [&] { return runningFrom(exe) > 0; })) << listing(home_);
    const auto newLog = [] {
        return iwtest::ReadFile(iwtest::SandboxDir() + "/state/inboxwarden/debug_info.txt");
    };
    EXPECT_TRUE(within(60s, [&] {
        return newLog().find("is not started again") != std::string::npos &&
               newLog().find("Processing WM_LOAD_MESSAGES") != std::string::npos;
    })) << newLog();
    EXPECT_NE(newLog().find("plug-in loaded from " + home_ + "/.local/bin/../lib/inboxwarden/"),
              std::string::npos)
        << newLog();
    for (const char* f :
         {"/.local/lib/inboxwarden/libiwfilter.so", "/.local/lib/inboxwarden/libiwclibus.so",
          "/.local/bin/inboxwarden-cli", "/.local/share/applications/inboxwarden.desktop",
          "/Desktop/inboxwarden.desktop", "/.local/share/icons/hicolor/48x48/apps/inboxwarden.png"})
        EXPECT_TRUE(fs::exists(home_ + f)) << f;

    // Its removal ends the running copy first, and its temporary copy then
    // takes the executable and the folders away.
    const pid_t remover = start(exe, {"/uninstall"});
    const int removerExit = iwtest::WaitExitWithin(remover, 120s);
    if (removerExit == -1000) iwtest::KillAndReap(remover);
    EXPECT_EQ(removerExit, 0) << newLog();
    EXPECT_TRUE(within(30s, [&] { return runningFrom(exe) < 0; }));
    EXPECT_TRUE(within(30s, [&] { return listing(home_) == before; })) << "before:\n"
                                                                       << before << "after:\n"
                                                                       << listing(home_);
}

TEST_F(UpdateProgram, DelOrigWithOnlyTheProcessWaitsAndRemovesNothing) {
    const std::string before = listing(iwtest::SandboxDir());
    const pid_t waitedFor = iwtest::Spawn({"sleep", "60"});
    ASSERT_GT(waitedFor, 0);
    const pid_t copy = start(IW_PROGRAM, {"/delorig", std::to_string(waitedFor)});
    EXPECT_EQ(iwtest::WaitExitWithin(copy, 500ms), -1000) << "it waits";
    iwtest::KillAndReap(waitedFor);
    EXPECT_EQ(iwtest::WaitExitWithin(copy, 30s), 0);
    EXPECT_EQ(listing(iwtest::SandboxDir()), before);
}

} // namespace
