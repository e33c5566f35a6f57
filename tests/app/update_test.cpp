// SPDX-License-Identifier: GPL-3.0-or-later
// The update check at start-up and the removal's steps, in this process
// with the installer's launch and the program's own steps replaced.
#include "../support/temp_env.h"
#include "app/update.h"
#include "common/status.h"
#include "platform/autostart.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/globaldata.h"
#include "settings/reg.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

DATETIME date(int y, int m, int d) {
    DATETIME r{};
    r.wYear = uint16_t(y), r.wMonth = uint16_t(m), r.wDay = uint16_t(d);
    return r;
}

class UpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = iwtest::MakeTempDir("update");
        ASSERT_EQ(RegStore_Open(dir_ + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        UserMsg_SetHandler([this](std::string_view cap, std::string_view text, unsigned) {
            steps_.push_back("box " + std::string(cap) + ": " + std::string(text));
            return answer_;
        });
        hooks_.stateDir = dir_ + "/state";
        hooks_.closeProfile = [this] { steps_.push_back("close"); };
        hooks_.launch = [this](const std::vector<std::string>& argv) {
            std::string line = "launch";
            for (const std::string& a : argv)
                line += " " + a;
            steps_.push_back(line);
            return launchErr_;
        };
        hooks_.reinitSettings = [this] {
            steps_.push_back("reinit");
            return reinitRc_;
        };
    }
    void TearDown() override {
        UserMsg_SetHandler(nullptr);
        GlobalData_Free(0);
        Reg_Close(root_);
    }
    std::string installer(const std::string& marker) {
        const std::string p = dir_ + "/i" + std::to_string(n_++) + ".run";
        iwtest::WriteFile(p, "#!/bin/sh\n" + marker + "\nexit 0\n");
        return p;
    }
    void use(const std::string& path, int enable = 1) {
        ASSERT_EQ(GlobalData_SetParam(GD_REMOTEINSTALLER, intptr_t(path.c_str())), 0u);
        ASSERT_EQ(GlobalData_SetParam(GD_REMOTEINSTALLERENABLE, enable), 0u);
    }
    UpdateStart check() {
        steps_.clear();
        return Update_CheckOnStart(date(2026, 6, 21), hooks_);
    }

    std::string dir_;
    REGKEY* root_ = nullptr;
    UPDATE_START_HOOKS hooks_;
    std::vector<std::string> steps_;
    int launchErr_ = 0, n_ = 0, answer_ = UM_IDYES;
    uint32_t reinitRc_ = 0;
};

using Steps = std::vector<std::string>;

TEST_F(UpdateTest, OnlyANewerDatedInstallerIsStartedAndOnlyWhenEnabled) {
    use(installer("# inboxwarden-release: 2026 07 01 0"), 0);
    EXPECT_EQ(check(), UpdateStart::Continue);
    EXPECT_EQ(steps_, Steps{});
    for (const char* marker : {"echo no marker", "# inboxwarden-release: 2027 01 01",
                               "# inboxwarden-release: 2026 06 21 9"}) {
        use(installer(marker));
        EXPECT_EQ(check(), UpdateStart::Continue) << marker;
        EXPECT_EQ(steps_, Steps{}) << marker;
    }
    use(dir_ + "/missing.run");
    EXPECT_EQ(check(), UpdateStart::Continue);
    EXPECT_EQ(steps_, Steps{});
}

TEST_F(UpdateTest, ANewerInstallerIsStartedOnceWithTheChosenSwitches) {
    const std::string path = installer("# inboxwarden-release: 2026 07 01 0");
    use(path);
    ASSERT_EQ(GlobalData_SetParam(GD_REMOTEINSTALLERGROUP, 0), 0u);
    EXPECT_EQ(check(), UpdateStart::Exit);
    EXPECT_EQ(steps_, (Steps{"close", "launch /bin/sh " + path + " /quite /start /addicon"}));
    // It brought no newer program: the next start does not start it again.
    EXPECT_EQ(check(), UpdateStart::Continue);
    EXPECT_EQ(steps_, Steps{});
    // A later installer is a new update.
    const std::string later = installer("# inboxwarden-release: 2026 07 02 0");
    use(later);
    ASSERT_EQ(GlobalData_SetParam(GD_REMOTEINSTALLERGROUP, 1), 0u);
    EXPECT_EQ(check(), UpdateStart::Exit);
    EXPECT_EQ(steps_.back(), "launch /bin/sh " + later + " /quite /start /creategrp /addicon");
}

TEST_F(UpdateTest, AnInstallerThatDoesNotStartLeavesTheProgramRunningOnNewSettings) {
    use(installer("# inboxwarden-release: 2027 01 01 0"));
    launchErr_ = ENOENT;
    EXPECT_EQ(check(), UpdateStart::Continue);
    ASSERT_EQ(steps_.size(), 3u);
    EXPECT_EQ(steps_[2], "reinit");
    reinitRc_ = ERR_CREATE;
    EXPECT_EQ(check(), UpdateStart::Failed);
    EXPECT_EQ(steps_.back(), "box Inboxwarden: Failed to initialize settings (0xf000000c).");
    reinitRc_ = ERR_CANCELLED;
    EXPECT_EQ(check(), UpdateStart::Failed);
    EXPECT_EQ(steps_.back(), "reinit");
}

// A per-user install as the installer leaves it, inside $HOME.
class RemovalTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        const std::string home = std::getenv("HOME");
        ::mkdir(home.c_str(), 0700);
        prefix_ = home + "/rm" + std::to_string(::getpid());
        for (const char* d : {"", "/bin", "/lib", "/lib/inboxwarden", "/share"})
            ASSERT_EQ(::mkdir((prefix_ + d).c_str(), 0755), 0) << d;
        exe_ = prefix_ + "/bin/inboxwarden";
        std::string manifest;
        for (const std::string& f : {exe_, prefix_ + "/lib/inboxwarden/libiwfilter.so",
                                     prefix_ + "/share/icon.png", prefix_ + "/share/a.desktop"}) {
            iwtest::WriteFile(f, "x");
            manifest += "file " + f + "\n";
        }
        iwtest::WriteFile(prefix_ + "/lib/inboxwarden/install-manifest", manifest);
    }
    void TearDown() override {
        iwtest::RemoveTree(prefix_);
        UpdateTest::TearDown();
    }
    std::string prefix_, exe_;
};

TEST_F(RemovalTest, ACopyThatNeverAnswersIsReportedAndTheProgramStillShutsDown) {
    ASSERT_EQ(Autostart_Set(true, exe_), 0);
    ASSERT_EQ(Settings_SetVendorText("InboxwardenDefProfile", "/x.iwpf"), 0u);
    const std::string silent = dir_ + "/silent";
    iwtest::WriteFile(silent, "#!/bin/sh\nexec sleep 30\n");
    ::chmod(silent.c_str(), 0700);
    EXPECT_EQ(UPDATE_REMOVE_HOOKS{}.timeoutMs, 3000);
    UPDATE_REMOVE_HOOKS h;
    pid_t copy = -1;
    h.exePath = exe_;
    h.copyFrom = silent;
    h.timeoutMs = 200; // the program's 3 s, shortened
    h.copyPid = &copy;
    h.stop = [this] { steps_.push_back("stop"); };
    h.shutdown = [this] { steps_.push_back("shutdown"); };
    steps_.clear();
    Update_UninstallRun(h);
    ASSERT_GT(copy, 0);
    ::kill(copy, SIGKILL);
    ::waitpid(copy, nullptr, 0);
    EXPECT_EQ(steps_, (Steps{"stop",
                             "box Inboxwarden: Can't delete some files. You need delete them "
                             "manually.",
                             "shutdown"}));
    EXPECT_FALSE(Autostart_IsSet());
    EXPECT_EQ(Settings_GetVendorText("InboxwardenDefProfile"), "");
    struct stat st {};
    EXPECT_NE(::stat((prefix_ + "/share/icon.png").c_str(), &st), 0);
    EXPECT_NE(::stat((prefix_ + "/share/a.desktop").c_str(), &st), 0);
    // What the copy was to remove is still there.
    EXPECT_EQ(::stat(exe_.c_str(), &st), 0);
    EXPECT_EQ(::stat((prefix_ + "/lib/inboxwarden/libiwfilter.so").c_str(), &st), 0);
}

} // namespace
