// SPDX-License-Identifier: GPL-3.0-or-later
// What the removal may delete: only files the installer's manifest lists,
// of this user, inside $HOME, never through a link that leads out of it.
#include "../support/temp_env.h"
#include "common/status.h"
#include "platform/selfremove.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool exists(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

class SelfRemove : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = std::getenv("HOME");
        ::mkdir(home_.c_str(), 0700);
        prefix_ = home_ + "/p" + std::to_string(counter_++);
        outside_ = iwtest::MakeTempDir("outside");
        for (const char* d : {"", "/bin", "/lib", "/lib/inboxwarden", "/share"})
            ASSERT_EQ(::mkdir((prefix_ + d).c_str(), 0755), 0) << d;
        exe_ = prefix_ + "/bin/inboxwarden";
        for (const std::string& f : {exe_, plugin(), prefix_ + "/share/icon.png",
                                     prefix_ + "/share/unlisted.png", outside_ + "/victim.txt"})
            iwtest::WriteFile(f, "x");
        ASSERT_EQ(::symlink(outside_.c_str(), (prefix_ + "/share/out").c_str()), 0);
        ASSERT_EQ(::symlink((outside_ + "/victim.txt").c_str(), (prefix_ + "/share/ln").c_str()),
                  0);
        writeManifest({"file " + exe_, "file " + plugin(), "file " + prefix_ + "/share/icon.png",
                       "file " + outside_ + "/victim.txt",
                       "file " + prefix_ + "/share/out/victim.txt", "file " + prefix_ + "/share/ln",
                       "file " + prefix_ + "/share", "file " + prefix_ + "/share/../share/icon.png",
                       "dir " + prefix_ + "/share", "dir " + prefix_ + "/lib/inboxwarden",
                       "dir " + outside_});
    }
    void TearDown() override { iwtest::RemoveTree(prefix_); }
    std::string plugin() const { return prefix_ + "/lib/inboxwarden/libiwfilter.so"; }
    std::string manifest() const { return prefix_ + "/lib/inboxwarden/install-manifest"; }
    void writeManifest(std::initializer_list<std::string> lines) {
        std::string m = "# test\n";
        for (const std::string& l : lines)
            m += l + "\n";
        iwtest::WriteFile(manifest(), m + "file " + manifest() + "\n");
    }

    static inline int counter_ = 0;
    std::string home_, prefix_, outside_, exe_;
};

TEST_F(SelfRemove, OnlyListedFilesOfThisUserInsideHomeGo) {
    INSTALL_MANIFEST m;
    ASSERT_EQ(SelfRemove_ReadManifest(exe_, &m), 0u);
    EXPECT_EQ(m.path, manifest());
    EXPECT_TRUE(SelfRemove_DeleteListed(m, prefix_ + "/share/icon.png"));
    EXPECT_FALSE(exists(prefix_ + "/share/icon.png"));
    // Not listed; outside $HOME; outside through a linked folder; a folder;
    // a path with "..": all kept.
    EXPECT_FALSE(SelfRemove_DeleteListed(m, prefix_ + "/share/unlisted.png"));
    EXPECT_FALSE(SelfRemove_DeleteListed(m, outside_ + "/victim.txt"));
    EXPECT_FALSE(SelfRemove_DeleteListed(m, prefix_ + "/share/out/victim.txt"));
    EXPECT_FALSE(SelfRemove_DeleteListed(m, prefix_ + "/share"));
    EXPECT_FALSE(SelfRemove_DeleteListed(m, prefix_ + "/share/../share/unlisted.png"));
    EXPECT_TRUE(exists(prefix_ + "/share/unlisted.png"));
    EXPECT_TRUE(exists(outside_ + "/victim.txt"));
    // A listed link is removed itself; what it points to stays.
    EXPECT_TRUE(SelfRemove_DeleteListed(m, prefix_ + "/share/ln"));
    EXPECT_FALSE(exists(prefix_ + "/share/ln"));
    EXPECT_TRUE(exists(outside_ + "/victim.txt"));
    // Folders go only when empty, and only inside $HOME.
    SelfRemove_RemoveEmptyDirs(m);
    EXPECT_TRUE(exists(prefix_ + "/share"));
    EXPECT_TRUE(exists(outside_));
    ASSERT_TRUE(SelfRemove_DeleteListed(m, plugin()));
    ASSERT_TRUE(SelfRemove_DeleteListed(m, manifest()));
    SelfRemove_RemoveEmptyDirs(m);
    EXPECT_FALSE(exists(prefix_ + "/lib/inboxwarden"));
}

TEST_F(SelfRemove, AnInstallTheInstallerDidNotMakeIsNotRemovable) {
    INSTALL_MANIFEST m;
    std::string why;
    const std::string other = prefix_ + "/bin/other";
    iwtest::WriteFile(other, "x");
    EXPECT_EQ(SelfRemove_ReadManifest(other, &m, &why), ERR_BADARG) << "not listed";
    EXPECT_NE(why.find("does not list"), std::string::npos) << why;

    // A manifest that is a link, or one outside $HOME, is not believed.
    const std::string real = outside_ + "/manifest";
    iwtest::WriteFile(real, "file " + exe_ + "\n");
    ASSERT_EQ(::unlink(manifest().c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), manifest().c_str()), 0);
    EXPECT_EQ(SelfRemove_ReadManifest(exe_, &m), ERR_BADARG);
    ASSERT_EQ(::unlink(manifest().c_str()), 0);
    EXPECT_EQ(SelfRemove_ReadManifest(exe_, &m), ERR_NOT_FOUND);

    for (const char* d : {"/bin", "/lib", "/lib/inboxwarden"})
        ::mkdir((outside_ + d).c_str(), 0755);
    iwtest::WriteFile(outside_ + "/bin/inboxwarden", "x");
    iwtest::WriteFile(outside_ + "/lib/inboxwarden/install-manifest",
                      "file " + outside_ + "/bin/inboxwarden\n");
    EXPECT_EQ(SelfRemove_ReadManifest(outside_ + "/bin/inboxwarden", &m), ERR_BADARG);
}

} // namespace
