// SPDX-License-Identifier: GPL-3.0-or-later
// The saved messages windows' rules over real folders of saved files.
#include "ui/savedmsgs/savedmsgs_model.h"

#include "common/status.h"
#include "saved_tree.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class SavedMsgsModelTest : public ::testing::Test, protected iwtest::SavedTree {
  protected:
    void SetUp() override { Start(); }
    void TearDown() override { Stop(); }

    static std::string texts(const SavedFoldersModel& m) {
        std::string out;
        for (const auto& item : m.Items())
            out += (out.empty() ? "" : "|") + item.text;
        return out;
    }
    static std::string subjects(const SavedListModel& m) {
        std::string out;
        for (int r = 0; r < m.RowCount(); ++r)
            out += (r ? "," : "") + m.Text(r, SMCOL_SUBJECT);
        return out;
    }
    // Five saved messages "a".."e" of folder Home, the list opened on it.
    void fiveRows(SavedFoldersModel* folders, SavedListModel* list) {
        for (char c = 'a'; c <= 'e'; ++c)
            save(root_, "Home",
                 "25030" + std::string(1, char('1' + c - 'a')) + "-120000-" + c + "-id.eml");
        folders->Open();
        ASSERT_TRUE(list->Open(folders->FolderIndex(1)));
        ASSERT_EQ(subjects(*list), "a,b,c,d,e");
    }
};

TEST_F(SavedMsgsModelTest, TreeOfEachRootAndOfAChosenOne) {
    SavedFoldersModel m;
    m.Open();
    EXPECT_EQ(texts(m), root_) << "a root without subfolders shows only itself";

    save(spam_, "Work", "250301-120000-offer-1.eml");
    save(spam_, "Home", "250301-120000-offer-2.eml");
    save(spam_, "Home", "p250301-120000-offer-3.eml");
    m.SetRoot(SAVED_ROOT::Quarantine);
    EXPECT_EQ(texts(m), spam_ + "|Home (1)|Work (1)");

    // "..." replaces the root in use while the window lives, not the setting.
    m.SetRootPath(root_ + "/missing");
    EXPECT_EQ(texts(m), SAVEDMSGS_FAILED_ROOT);
    EXPECT_EQ(GlobalData_GetText(GD_SPAMRTDIR), spam_);

    GlobalData_GetRecord()->DwnRtDir.clear();
    SavedFoldersModel fresh;
    fresh.Open();
    EXPECT_EQ(texts(fresh), SAVEDMSGS_FAILED_ROOT) << "an empty setting";
}

TEST_F(SavedMsgsModelTest, FullSavesFirstPartialOnesCountedOffDatelessShown) {
    save(root_, "Home", "p250301-093000-Hello-abc.eml", "part");
    save(root_, "Home", "250301-093000-Hello-abc.eml", std::string(3000, 'x'));
    save(root_, "Home", "000000-000000-No date-def.eml");
    SavedFoldersModel folders;
    folders.Open();
    EXPECT_EQ(texts(folders), root_ + "|Home (2)") << "the partial save is not counted";

    SavedListModel list;
    ASSERT_TRUE(list.Open(folders.FolderIndex(1)));
    ASSERT_EQ(subjects(list), "No date,Hello,Hello");
    EXPECT_EQ(list.Text(0, SMCOL_DATE), "<invalid date>");
    EXPECT_TRUE(list.Partial(2));
    std::string text;
    ASSERT_EQ(list.Load(2, &text), 0u);
    EXPECT_EQ(text, "part");
}

TEST_F(SavedMsgsModelTest, DeletingRowsMovesTheSelectionOn) {
    SavedFoldersModel folders;
    SavedListModel list;
    fiveRows(&folders, &list);

    list.SetSelection({4, 3}, 4);
    EXPECT_EQ(list.DeleteSelected(), 0);
    EXPECT_EQ(subjects(list), "a,b,c");
    EXPECT_EQ(list.Selection(), std::vector<int>{2}) << "the new last row";
    EXPECT_FALSE(fs::exists(root_ + "/Home/250305-120000-e-id.eml"));

    list.SetSelection({0, 1}, 0);
    EXPECT_EQ(list.DeleteSelected(), 0);
    EXPECT_EQ(subjects(list), "c");
    EXPECT_EQ(list.Selection(), std::vector<int>{0}) << "the row after the last deleted";

    folders.ListClosed(1, false);
    EXPECT_EQ(folders.Items()[1].text, "Home (1)");
}

TEST_F(SavedMsgsModelTest, DeleteAllEndsTheListAndItsFolder) {
    save(root_, "Work", "250301-120000-w-id.eml");
    SavedFoldersModel folders;
    SavedListModel list;
    fiveRows(&folders, &list);

    EXPECT_EQ(list.DeleteAll(), 0u);
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_FALSE(fs::exists(root_ + "/Home"));
    folders.ListClosed(1, true);
    EXPECT_EQ(texts(folders), root_ + "|Work (1)");
    EXPECT_EQ(folders.FolderIndex(1), 0) << "looked up by name after the indices moved";

    std::string error;
    EXPECT_EQ(folders.DeleteFolder(0, &error), ERR_BADARG) << "never the root";
    EXPECT_EQ(folders.DeleteFolder(1, &error), 0u);
    EXPECT_EQ(texts(folders), root_);
    EXPECT_TRUE(fs::exists(root_));
}

TEST_F(SavedMsgsModelTest, FailedDeletionsKeepRowsAndFolders) {
    save(root_, "Work", "250301-120000-w-id.eml");
    SavedFoldersModel folders;
    SavedListModel list;
    fiveRows(&folders, &list);
    iwtest::Pin pin(root_ + "/Home/250302-120000-b-id.eml");
    if (!pin.ok()) GTEST_SKIP() << pin.why();

    list.SetSelection({1, 2}, 1);
    EXPECT_EQ(list.DeleteSelected(), 1);
    EXPECT_EQ(subjects(list), "a,b,d,e") << "b could not go";
    EXPECT_EQ(list.Selection(), std::vector<int>{2});

    // A failed folder deletion rebuilds the folder's box: the rows must
    // follow it rather than keep the old records.
    EXPECT_EQ(list.DeleteAll(), ERR_OPERATION);
    EXPECT_EQ(subjects(list), "b");
    folders.ListClosed(1, false);
    EXPECT_EQ(texts(folders), root_ + "|Home (1)|Work (1)");

    std::string error;
    EXPECT_EQ(folders.DeleteFolder(1, &error), ERR_OPERATION);
    EXPECT_EQ(error, "Some saved messages in \"Home\" could not be deleted.");
    EXPECT_EQ(texts(folders), root_ + "|Home (1)|Work (1)") << "kept";
}

} // namespace
