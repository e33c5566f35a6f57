// SPDX-License-Identifier: GPL-3.0-or-later
// The saved messages windows as a user drives them: keys, double clicks and
// buttons reach the rules, a saved message reaches the viewer, and nothing
// is deleted without a Yes. The rules themselves are the model's tests.
#include "common/status.h"
#include "platform/user_message.h"
#include "saved_tree.h"
#include "ui/savedmsgs/savedmsgs_dialogs.h"
#include "ui/savedmsgs/savedmsgs_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

template <class W> W* openWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* found = dynamic_cast<W*>(w); found && found->isVisible()) return found;
    return nullptr;
}

class SavedMsgsWindowTest : public ::testing::Test, protected iwtest::SavedTree {
  protected:
    void SetUp() override {
        Start();
        UserMsg_SetHandler([this](std::string_view cap, std::string_view text, unsigned) {
            boxes_.push_back(std::string(cap) + ": " + std::string(text));
            return answer_;
        });
        SavedMessages_SetViewer([this](std::string text) { viewed_.push_back(std::move(text)); });
    }
    void TearDown() override {
        SavedMessages_SetViewer({});
        UserMsg_SetHandler(nullptr);
        Stop();
    }
    static std::vector<int> selectedRows(QTreeView* list) {
        std::vector<int> out;
        for (const QModelIndex& i : list->selectionModel()->selectedRows())
            out.push_back(i.row());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::string> boxes_, viewed_;
    int answer_ = UM_IDNO;
};

const std::string kQuestion = "Inboxwarden: This operation cannot be undone. Continue?";

TEST_F(SavedMsgsWindowTest, ListOpensMessagesAndDeletesOnlyOnYes) {
    save(root_, "Home", "250301-120000-First-a.eml", "Subject: First\r\n\r\none\r\n");
    save(root_, "Home", "250302-120000-Second-b.eml");
    save(root_, "Home", "p250302-120000-Second-b.eml", "Subject: Second\r\n");
    SavedFoldersModel folders;
    folders.Open();
    SavedListWindow w(folders.FolderIndex(1), nullptr);
    ASSERT_TRUE(w.Opened());
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(w.windowTitle().toStdString(), "Saved Messages: Home");
    QTreeView* list = w.List();
    EXPECT_EQ(selectedRows(list), std::vector<int>{0});

    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(viewed_, std::vector<std::string>{"Subject: First\r\n\r\none\r\n"});
    const QRect partial = list->visualRect(list->model()->index(2, SMCOL_DATE));
    // A double click is a click and a second press that the system calls double.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, partial.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, partial.center());
    ASSERT_EQ(viewed_.size(), 2u);
    EXPECT_EQ(viewed_.back(), "Subject: Second\r\n");

    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(boxes_, std::vector<std::string>{kQuestion});
    EXPECT_EQ(list->model()->rowCount(), 3) << "answered No";
    answer_ = UM_IDYES;
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_FALSE(fs::exists(root_ + "/Home/p250302-120000-Second-b.eml"));
    EXPECT_EQ(selectedRows(list), std::vector<int>{1}) << "the new last row";

    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selectedRows(list), (std::vector<int>{0, 1}));
    for (QPushButton* b : w.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Delete All")) b->click();
    EXPECT_EQ(w.result(), SavedListWindow::ResultDeletedAll);
    EXPECT_FALSE(fs::exists(root_ + "/Home"));
}

TEST_F(SavedMsgsWindowTest, OneFolderWindowWhoseListEndsItsFolder) {
    save(root_, "Home", "250301-120000-First-a.eml");
    uint32_t second = 0;
    std::string before, after;
    QTimer::singleShot(0, [&] {
        second = SavedMessages_Open(nullptr);
        auto* folders = openWindow<SavedFoldersWindow>();
        ASSERT_NE(folders, nullptr);
        QTreeWidgetItem* root = folders->Tree()->topLevelItem(0);
        before = root->child(0)->text(0).toStdString();
        folders->Tree()->setCurrentItem(root->child(0));
        answer_ = UM_IDYES;
        QTimer::singleShot(0, [] {
            if (auto* list = openWindow<SavedListWindow>()) list->DeleteAll();
        });
        QTest::keyClick(folders->Tree(), Qt::Key_Return); // runs the list window
        after = std::to_string(folders->Tree()->topLevelItem(0)->childCount());
        folders->reject();
    });
    EXPECT_EQ(SavedMessages_Open(nullptr), 0u);
    EXPECT_EQ(second, ERR_NOT_READY);
    EXPECT_EQ(before, "Home (1)");
    EXPECT_EQ(after, "0") << "the folder's item left with its folder";
    EXPECT_EQ(boxes_, std::vector<std::string>{kQuestion});
}

} // namespace
