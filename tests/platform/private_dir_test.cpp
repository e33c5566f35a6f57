// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/private_dir.h"

#include "../support/temp_env.h"
#include "common/status.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

// The folders are the user's alone, under the runtime folder, one per
// process and one per caller, and they leave no trace.
TEST(PrivateDir, FoldersArePrivateNestedAndRemoved) {
    const std::string runtime = iwtest::MakeTempDir("runtime");
    PrivateDir_RemoveAll();
    const char* was = std::getenv("XDG_RUNTIME_DIR");
    const std::string before = was ? was : "";
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::string process, a, b;
    ASSERT_EQ(PrivateDir_Process(&process), 0u);
    EXPECT_EQ(process.rfind(runtime + "/inboxwarden-", 0), 0u) << process;
    EXPECT_EQ(modeOf(process) & 07777, 0700u);
    ASSERT_EQ(PrivateDir_Make(&a), 0u);
    ASSERT_EQ(PrivateDir_Make(&b), 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(process + "/", 0), 0u);
    EXPECT_EQ(modeOf(a) & 07777, 0700u);

    ASSERT_EQ(PrivateDir_WriteFile(a, "x", "1"), 0u);
    PrivateDir_Remove(a);
    EXPECT_NE(access(a.c_str(), F_OK), 0);
    EXPECT_EQ(access(b.c_str(), F_OK), 0);
    // Nothing outside the process's folder is ever removed.
    const std::string outside = iwtest::MakeTempDir("keep");
    PrivateDir_Remove(outside);
    PrivateDir_Remove(process + "/../" + outside.substr(outside.rfind('/') + 1));
    EXPECT_EQ(access(outside.c_str(), F_OK), 0);

    PrivateDir_RemoveAll();
    EXPECT_NE(access(process.c_str(), F_OK), 0);
    if (was)
        setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

// A file is always the one just created: a planted link is replaced, not
// followed; the mode is 0600; names that are not one component are refused.
TEST(PrivateDir, FilesAreCreatedAfreshAndNeverFollowLinks) {
    std::string dir;
    ASSERT_EQ(PrivateDir_Make(&dir), 0u);
    const std::string victim = iwtest::MakeTempDir("victim") + "/bashrc";
    iwtest::WriteFile(victim, "mine");
    ASSERT_EQ(symlink(victim.c_str(), (dir + "/a.txt").c_str()), 0);
    std::string path;
    ASSERT_EQ(PrivateDir_WriteFile(dir, "a.txt", "from mail", &path), 0u);
    EXPECT_EQ(path, dir + "/a.txt");
    EXPECT_EQ(iwtest::ReadFile(victim), "mine");
    EXPECT_TRUE(S_ISREG(modeOf(path)));
    EXPECT_EQ(modeOf(path) & 07777, 0600u);
    EXPECT_EQ(iwtest::ReadFile(path), "from mail");
    ASSERT_EQ(PrivateDir_WriteFile(dir, "a.txt", "again"), 0u);
    EXPECT_EQ(iwtest::ReadFile(path), "again");

    const std::string_view bads[] = {"", ".", "..", "../x", "a/b", std::string_view("a\0b", 3)};
    for (std::string_view bad : bads)
        EXPECT_EQ(PrivateDir_WriteFile(dir, bad, "x"), ERR_BADARG) << bad;
    PrivateDir_Remove(dir);
}

} // namespace
