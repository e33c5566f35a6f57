// SPDX-License-Identifier: GPL-3.0-or-later
// The two dialogs behind SavedMessages_Open, for tests and screenshots: the
// folder window and the message list window of one folder. The rules are in
// savedmsgs_model.h; these show them and ask the questions, with the dialog
// as the parent of every box. UI thread only.
#pragma once

#include "ui/savedmsgs/savedmsgs_model.h"

#include <QDialog>

#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class QTreeWidget;
class SavedListRows;

// How a loaded saved message reaches the viewer: Viewer_Open with no account
// and no record unless replaced (an empty function restores it). Returns the
// previous one.
using SavedMessagesViewer = std::function<void(std::string text)>;
SavedMessagesViewer SavedMessages_SetViewer(SavedMessagesViewer viewer);

// The folder window.
class SavedFoldersWindow final : public QDialog {
  public:
    explicit SavedFoldersWindow(QWidget* parent);

    SavedFoldersModel& Model() { return model_; }
    QTreeWidget* Tree() const { return tree_; }
    // Runs the message list window of the selected folder item ("&Open").
    void OpenSelected();
    // Asks, then deletes the selected folder ("&Delete").
    void DeleteSelected();
    // The folder chooser's answer ("..."), or a root switched in the choice.
    void ChooseRoot(const QString& path);
    void SwitchRoot(SAVED_ROOT root);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void sync(const std::string& select);
    int selectedItem() const;

    SavedFoldersModel model_;
    QComboBox* rootChoice_ = nullptr;
    QLabel* pathLabel_ = nullptr;
    QLineEdit* path_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* delete_ = nullptr;
};

// The message list window; ends with ResultDeletedAll after "Delete All".
class SavedListWindow final : public QDialog {
  public:
    enum : int { ResultDeletedAll = 2 };

    // False from Opened() when the folder is not in the table.
    SavedListWindow(int folderIndex, QWidget* parent);
    bool Opened() const { return opened_; }

    SavedListModel& Model() { return model_; }
    QTreeView* List() const { return list_; }
    // Opens the focused row in the viewer (double click, Enter).
    void OpenRow(int row);
    // Asks, then deletes the selected rows ("Delete", the Delete key).
    void DeleteSelected();
    // Asks, then deletes the whole folder ("Delete All").
    void DeleteAll();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void takeSelection();
    void showSelection();
    int ask() const;

    SavedListModel model_;
    SavedListRows* rows_ = nullptr;
    QTreeView* list_ = nullptr;
    bool opened_ = false;
};
