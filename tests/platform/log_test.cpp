// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(DebugLog, RotatesAndStartsWithItsHead) {
    const std::string dir = iwtest::MakeTempDir("dbg") + "/state/inboxwarden";
    ASSERT_EQ(DebugLog_Open(dir), 0);
    const std::string path = dir + "/debug_info.txt";
    EXPECT_EQ(DebugLog_Path(), path);
    DebugLog_Write("first run %d\n", 1);
    DebugLog_Close();
    DebugLog_Write("dropped while closed\n");

    ASSERT_EQ(DebugLog_Open(dir), 0);
    DebugLog_WriteText("second run");
    // No buffering: the text is in the file before anything is closed.
    const std::string now = iwtest::ReadFile(path);
    DebugLog_Close();

    const std::string bak = iwtest::ReadFile(dir + "/Debug_info_BAK.txt");
    EXPECT_NE(bak.find("first run 1\n"), std::string::npos);
    EXPECT_EQ(bak.find("dropped"), std::string::npos);
    EXPECT_EQ(now.find("first run"), std::string::npos);

    ASSERT_EQ(now.rfind("ExeName: /", 0), 0u) << now;
    const size_t debugLine = now.find("\nDebugFile: " + path + "\nSystem Version: ");
    ASSERT_NE(debugLine, std::string::npos) << now;
    // The text written follows the head exactly, with nothing added.
    EXPECT_EQ(now.substr(now.size() - 10), "second run");
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 3);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(dir), 0700u);
}

TEST(DebugLog, ConcurrentLinesStayWhole) {
    const std::string dir = iwtest::MakeTempDir("dbg");
    ASSERT_EQ(DebugLog_Open(dir), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                DebugLog_Write("thread %d line %03d ........\n", t, i);
        });
    for (auto& th : threads)
        th.join();
    DebugLog_Close();
    const std::string text = iwtest::ReadFile(dir + "/debug_info.txt");
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 200; i += 37) {
            char line[64];
            snprintf(line, sizeof line, "\nthread %d line %03d ........\n", t, i);
            EXPECT_NE(text.find(line), std::string::npos) << line;
        }
}

TEST(CategoryLog, MaskSelectsCategories) {
    const std::string dir = iwtest::MakeTempDir("cat");
    const std::string path = dir + "/cat.log";
    EXPECT_EQ(Log_Open(nullptr, LOG_ALL), -1);
    EXPECT_EQ(Log_Open("", LOG_ALL), -1);
    EXPECT_EQ(Log_Open(dir.c_str(), LOG_ALL), -2); // a folder cannot be opened as the log

    // Only the upper 16 bits of the value count.
    ASSERT_EQ(Log_Open(path.c_str(), LOG_POP3 | 0xFFFF), 0);
    Log_Write(LOG_APP, "MAIN: hidden\n");
    Log_Write(LOG_POP3, "POP3: SendCMD: \"%s\"\n", "STAT");
    Log_Write(0x0001, "low bits never match\n");
    Log_Close();
    Log_Write(LOG_POP3, "after close\n");
    EXPECT_EQ(iwtest::ReadFile(path), "POP3: SendCMD: \"STAT\"\n");
    EXPECT_EQ(modeOf(path), 0600u);

    // Appends to what is there; all categories on.
    ASSERT_EQ(Log_Open(path.c_str(), LOG_ALL), 0);
    Log_Write(LOG_APP, "a");
    Log_Write(LOG_SMTP, "b");
    Log_Write(LOG_MIME, "%.2f", 1.5);
    Log_Close();
    EXPECT_EQ(iwtest::ReadFile(path), "POP3: SendCMD: \"STAT\"\nab1.50");
}

} // namespace
