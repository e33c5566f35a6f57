// SPDX-License-Identifier: GPL-3.0-or-later
// The saved messages windows without their widgets: the tree of account
// folders under a root (SavedFoldersModel) and the message list of one
// folder (SavedListModel), over the process-wide saved-folder table of
// engine/savedmsg.h. The widgets show what these hold, pass the user's
// commands in and show the questions and notices; nothing here shows a box.
//
// Rules kept here:
//   - The folder model owns the table while it lives: it opens the table on
//     the root in use and closes it again when it is refilled or destroyed.
//   - Tree items carry folder names, never table indices: deleting a folder
//     moves the indices of the folders after it.
//   - Nothing is deleted unless the widget asked SAVEDMSGS_QUESTION and got
//     Yes; the calls that delete assume that answer.
//   - A list row carries its record of the folder's box. The box changes
//     only through the list model while the list window is open; when a
//     failed Delete All rebuilds it, the rows are rebuilt with it.
//
// UI thread only.
#pragma once

#include "common/translate.h"

#include <cstdint>
#include <string>
#include <vector>

struct MSG_RECORD;

inline constexpr char SAVEDMSGS_CAPTION[] = "Inboxwarden";
inline constexpr char SAVEDMSGS_QUESTION[] =
    IW_N_("Inboxwarden", "This operation cannot be undone. Continue?");
inline constexpr char SAVEDMSGS_FAILED_ROOT[] = "...Failed to initialize download root...";

// The notice after a folder deletion that left files behind.
std::string SavedMsgs_FolderFailedText(const std::string& folder);

// Which root the folder window shows: the download root (DwnRtDir), where
// the viewer and the filters save, or the quarantine root (SpamRtDir).
enum class SAVED_ROOT { Download, Quarantine };

// The folder window's tree.
class SavedFoldersModel {
  public:
    SavedFoldersModel() = default;
    ~SavedFoldersModel(); // closes the table
    SavedFoldersModel(const SavedFoldersModel&) = delete;
    SavedFoldersModel& operator=(const SavedFoldersModel&) = delete;

    // Reads DwnRtDir and SpamRtDir and fills the tree for the download root.
    void Open();

    SAVED_ROOT Root() const { return root_; }
    // Switches the root and fills the tree again.
    void SetRoot(SAVED_ROOT root);
    // The path in use for the current root (as the setting holds it, or as
    // chosen with "...").
    const std::string& RootPath() const { return paths_[index(root_)]; }
    // The folder chooser's answer: the current root's path until the model
    // is destroyed (the setting keeps its value). Fills the tree again.
    void SetRootPath(std::string path);

    // Closes the table, opens it on the path in use and rebuilds the items.
    void Fill();

    struct ITEM {
        std::string folder; // "" for the root item
        std::string text;   // the root path, or "%s (%d)": folder and full saves
    };
    // Item 0 is the root; then one item per folder in table order.
    const std::vector<ITEM>& Items() const { return items_; }
    // The item of a folder, or -1.
    int FindItem(const std::string& folder) const;
    // The table index of an item's folder now, or -1 (the root, a folder gone).
    int FolderIndex(int item) const;

    // The list window of the item's folder ended: the item goes when the
    // folder was deleted with "Delete All", else its count is shown anew.
    void ListClosed(int item, bool deletedAll);

    // Deletes the item's folder (after Yes). 0: the item is gone. Otherwise
    // the item stays with its files counted again and *errorText says what
    // failed; ERR_BADARG for the root item or a folder no longer there.
    uint32_t DeleteFolder(int item, std::string* errorText);

  private:
    static int index(SAVED_ROOT r) { return r == SAVED_ROOT::Download ? 0 : 1; }
    std::string folderText(int tableIndex) const;

    SAVED_ROOT root_ = SAVED_ROOT::Download;
    std::string paths_[2];
    bool opened_ = false; // this model opened the table
    std::vector<ITEM> items_;
};

// Columns of the message list.
enum : int { SMCOL_SUBJECT = 0, SMCOL_SIZE = 1, SMCOL_DATE = 2, SMCOL_COUNT = 3 };
inline constexpr int SAVEDMSGS_COLUMN_WIDTHS[SMCOL_COUNT] = {329, 55, 155};
inline constexpr const char* SAVEDMSGS_COLUMN_TITLES[SMCOL_COUNT] = {
    IW_N_("Inboxwarden", "Subject "), IW_N_("Inboxwarden", "Size "), IW_N_("Inboxwarden", "Date ")};

// The message list window of one folder.
class SavedListModel {
  public:
    // Takes the folder of table index `folderIndex` and fills the rows from
    // its rebuilt box, the first row selected. False when there is no such
    // folder: the window ends at once.
    bool Open(int folderIndex);

    const std::string& Folder() const { return folder_; }
    std::string Title() const { return "Saved Messages: " + folder_; }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    std::string Text(int row, int column) const;
    // Whether the row is a partial save (its first lines only).
    bool Partial(int row) const;

    // The selection as the widget shows it (rows, in any order) and the focus.
    void SetSelection(std::vector<int> rows, int focus);
    void SelectAll();
    const std::vector<int>& Selection() const { return selection_; } // ascending
    int Focus() const { return focus_; }                             // -1: none

    // The row's file, for the viewer. The results of SavedMsg_LoadMsg.
    uint32_t Load(int row, std::string* text) const;

    // Deletes the selected rows' files, from the first selected on (after
    // Yes). A row goes only when its file went. The row after the last one
    // deleted is then selected and focused, or the last row when the deleted
    // ones were at the end. Returns how many could not be deleted.
    int DeleteSelected();

    // Deletes the whole folder (after Yes). 0: the rows are gone and the
    // window ends with the "Delete All" result. Otherwise the rows follow
    // what is left in the folder and the window stays.
    uint32_t DeleteAll();

  private:
    void fill();

    std::string folder_;
    std::vector<MSG_RECORD*> rows_; // records of the folder's box, box order
    std::vector<int> selection_;
    int focus_ = -1;
};
