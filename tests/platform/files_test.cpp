// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/files.h"

#include "../support/temp_env.h"
#include "common/status.h"

#include <gtest/gtest.h>

#include <dirent.h>

namespace {

int countEntries(const std::string& dir) {
    int n = 0;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
    closedir(d);
    return n;
}

TEST(FilesSafeName, MailNamesBecomeOneHarmlessComponent) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"report.pdf", "report.pdf"},
        {"../../.config/autostart/x.desktop", "x.desktop"},
        {"C:\\Users\\me\\evil.exe", "evil.exe"},
        {"/etc/passwd", "passwd"},
        {"a\x01"
         "b\tc.txt",
         "a_b_c.txt"},
        {std::string("nul\0here", 8), "nul_here"},
        {"", "ath00003.dat"},
        {".", "ath00003.dat"},
        {"..", "ath00003.dat"},
        {"dir/", "ath00003.dat"},
        {"..\\..", "ath00003.dat"},
        {"=?utf-8?B?w6k=?=", "=?utf-8?B?w6k=?="},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Files_SafeName(c.in, 3), c.out) << c.in;
}

TEST(FilesSafeName, LongNamesAreCutOnACharacterBoundary) {
    std::string name(254, 'a');
    name += "\xC3\xA9\xC3\xA9"; // two 2-byte characters: the first straddles 255
    const std::string safe = Files_SafeName(name, 1);
    EXPECT_EQ(safe.size(), 254u);
    EXPECT_EQ(Files_SafeName(std::string(300, 'b'), 1).size(), FILES_NAME_MAX);
}

// Replacing a file, a folder that does not exist and a write that fails
// half-way are the saved-file test's (the same writer), also TNEF's.
TEST(FilesWriter, AbandonedWriterLeavesNothingBehind) {
    const std::string dir = iwtest::MakeTempDir();
    {
        FILES_WRITER w;
        ASSERT_EQ(Files_Begin(&w, dir + "/x"), 0u);
        ASSERT_EQ(Files_Write(&w, "abc", 3), 0u);
    }
    EXPECT_EQ(countEntries(dir), 0);
}

} // namespace
