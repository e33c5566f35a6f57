// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/savedfile.h"

#include "../support/temp_env.h"
#include "common/status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <tuple>

namespace fs = std::filesystem;

namespace {

DATETIME at(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s) {
    DATETIME t{};
    std::tie(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond) =
        std::tie(y, mo, d, h, mi, s);
    return t;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out.push_back(e.path().filename().native());
    std::sort(out.begin(), out.end());
    return out;
}

std::string answer(const std::string& subject, const std::string& body) {
    return "+OK 123 octets\r\nDate: Thu, 21 Oct 2010 14:05:09 +0000\r\nSubject: " + subject +
           "\r\n\r\n" + body + "\r\n.\r\n";
}

class SavedFileTest : public ::testing::Test {
  protected:
    void SetUp() override { root_ = iwtest::MakeTempDir("saved") + "/root"; }
    // Saves and keeps the text meant for the user, if any.
    uint32_t Save(const std::string& root, std::string_view account, std::string_view text,
                  bool quiet, std::string* path = nullptr) {
        std::string why;
        const uint32_t rc = SavedFile_Save(root, account, text, "id", false, quiet, path, &why);
        if (!why.empty()) shown_.push_back(why);
        return rc;
    }
    iwtest::ScopedTz utc_{"UTC"};
    std::string root_;
    std::vector<std::string> shown_;
};

TEST(SavedFileName, WriterAndLookupName) {
    const DATETIME d = at(2010, 10, 21, 14, 5, 9);
    struct Case {
        const char* subject;
        const char* id;
        bool partial;
        const char* name;
    } cases[] = {
        {"  Re: Hello: world  ", "<1234567890abcdefXYZ>", false,
         "101021-140509-Re_ Hello_ world-_1234567890abcde.eml"},
        // Leading blanks do not eat into the 21 bytes of the subject.
        {"   abcdefghijklmnopqrstuvwxyz", "id", false,
         "101021-140509-abcdefghijklmnopqrstu-id.eml"},
        // A cut that leaves a blank at the end is trimmed again.
        {"abcdefghijklmnopqrst uvw", "id", true, "p101021-140509-abcdefghijklmnopqrst-id.eml"},
        // Cuts never split a character: "é" is two bytes, "€" three.
        {"aaaaaaaaaaaaaaaaaaaaé", "abcdefghijklmno€", false,
         "101021-140509-aaaaaaaaaaaaaaaaaaaa-abcdefghijklmno.eml"},
        {"a/b\\c*d?e|f\"g<h>i\tj", "../x\r\n", false,
         "101021-140509-a_b_c_d_e_f_g_h_i_j-.._x__.eml"},
        {"", "", false, "101021-140509--.eml"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SavedFile_Name(d, c.subject, c.id, c.partial), c.name) << c.subject;
    // A message without a date keeps the fixed shape, whatever the other fields hold.
    DATETIME missing = DateTime_Missing();
    missing.wMonth = 300;
    EXPECT_EQ(SavedFile_Name(missing, "x", "y", false), "000000-000000-x-y.eml");
    EXPECT_EQ(SavedFile_Name(at(1999, 12, 31, 23, 59, 59), "x", "y", true),
              "p991231-235959-x-y.eml");
}

// Names the writer makes are read back in the saved-folder table's test.
TEST(SavedFileName, ParsedNames) {
    SAVEDFILE_INFO info;
    ASSERT_TRUE(SavedFile_ParseName("p991231-235959-Re-Re-abc.eml", &info));
    EXPECT_TRUE(info.partial);
    EXPECT_EQ(info.date.wYear, 1999);
    EXPECT_EQ(info.date.wDayOfWeek, 5); // a Friday
    // A "-" in the subject ends the subject; the rest joins the id.
    EXPECT_EQ(info.subject, "Re");
    EXPECT_EQ(info.id, "Re-abc");

    // Names the writer never makes are not saved files.
    for (const char* bad :
         {"101021-140509-nodash.eml", "10102a-140509-x-y.eml", "101021140509-x-y.eml",
          "101021-140509-x-y.txt", "P101021-140509-x-y.eml", "101021-140509-a:b-y.eml",
          "101021-140509-x-y.eml.iw-tmp", ".iw-tmp-abcdef", "p", ""})
        EXPECT_FALSE(SavedFile_ParseName(bad, &info)) << bad;
}

// Names, framing and the dateless shape are checked above and through the
// account check; what is left is the file itself.
TEST_F(SavedFileTest, SavedPrivatelyAndASecondSaveReplacesTheFirst) {
    std::string path;
    ASSERT_EQ(Save(root_, "Home", answer("s", "one"), true, &path), 0u);
    ASSERT_EQ(Save(root_, "Home", answer("s", "two"), true, &path), 0u);
    EXPECT_EQ(filesIn(root_ + "/Home"), std::vector<std::string>{"101021-140509-s-id.eml"});
    EXPECT_TRUE(iwtest::ReadFile(path).ends_with("Subject: s\r\n\r\ntwo\r\n"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(shown_.empty());
}

TEST_F(SavedFileTest, RootAndFolderFailures) {
    const std::string a = answer("s", "b");
    EXPECT_EQ(Save("", "Home", a, false), 1u);

    // Account names that cannot be a folder write nothing anywhere.
    for (const char* bad : {"..", ".", "a/../../b", ""})
        EXPECT_EQ(Save(root_, bad, a, true), ERR_CREATE) << bad;
    EXPECT_TRUE(filesIn(root_).empty());
    EXPECT_TRUE(filesIn(fs::path(root_).parent_path()) == std::vector<std::string>{"root"});
    EXPECT_TRUE(shown_.empty()) << "quiet";

    // A root that is a file cannot hold folders; not quiet, so the user is told.
    const std::string fileRoot = root_ + "/plain";
    { std::ofstream(fileRoot) << "x"; }
    EXPECT_EQ(Save(fileRoot, "Home", a, false), ERR_CREATE);
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_TRUE(shown_[0].starts_with("Failed to create \"" + fileRoot + "\" (")) << shown_[0];
}

// A write that fails half-way (the file size limit stands in for a full
// disk) leaves no file, no temporary file, and the earlier copy intact.
TEST_F(SavedFileTest, FailedWriteLeavesNothingAndKeepsTheOldFile) {
    const std::string small = answer("s", "old");
    std::string path;
    ASSERT_EQ(Save(root_, "Home", small, true, &path), 0u);

    const std::string big = answer("s", std::string(70000, 'x'));
    uint32_t rc = 0;
    iwtest::WithFileSizeLimit(4096, [&] { rc = Save(root_, "Home", big, true); });

    EXPECT_EQ(rc, ERR_CREATE);
    EXPECT_EQ(filesIn(root_ + "/Home"), std::vector<std::string>{fs::path(path).filename()});
    EXPECT_NE(iwtest::ReadFile(path).find("old"), std::string::npos);
    ASSERT_EQ(shown_.size(), 1u) << "shown even when quiet";
    EXPECT_TRUE(
        shown_[0].starts_with("Couldn't save downloaded message \r\nFile Name: " + path + " \r\n"))
        << shown_[0];
}

} // namespace
