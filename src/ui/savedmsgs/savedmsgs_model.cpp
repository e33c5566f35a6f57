// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/savedmsgs/savedmsgs_model.h"

#include "common/status.h"
#include "engine/savedmsg.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "ui/mailbox/mailbox_list.h"

#include <algorithm>

std::string SavedMsgs_FolderFailedText(const std::string& folder) {
    return "Some saved messages in \"" + folder + "\" could not be deleted.";
}

// ---- Folder window ---------------------------------------------------------

SavedFoldersModel::~SavedFoldersModel() {
    if (opened_) SavedMsg_Close();
}

void SavedFoldersModel::Open() {
    paths_[0] = GlobalData_GetText(GD_DWNRTDIR);
    paths_[1] = GlobalData_GetText(GD_SPAMRTDIR);
    root_ = SAVED_ROOT::Download;
    Fill();
}

void SavedFoldersModel::SetRoot(SAVED_ROOT root) {
    root_ = root;
    Fill();
}

void SavedFoldersModel::SetRootPath(std::string path) {
    paths_[index(root_)] = std::move(path);
    Fill();
}

void SavedFoldersModel::Fill() {
    SavedMsg_Close();
    opened_ = true;
    const bool open = SavedMsg_Open(RootPath()) == 0;
    items_.clear();
    items_.push_back({std::string(), open ? RootPath() : std::string(SAVEDMSGS_FAILED_ROOT)});
    for (int i = 0; i < SavedMsg_GetCount(); ++i)
        if (const char* name = SavedMsg_GetFolderName(i)) items_.push_back({name, folderText(i)});
}

std::string SavedFoldersModel::folderText(int tableIndex) const {
    const char* name = SavedMsg_GetFolderName(tableIndex);
    return std::string(name ? name : "") + " (" +
           std::to_string(SavedMsg_GetFileCount(nullptr, tableIndex)) + ")";
}

int SavedFoldersModel::FindItem(const std::string& folder) const {
    for (size_t i = 1; i < items_.size(); ++i)
        if (items_[i].folder == folder) return static_cast<int>(i);
    return -1;
}

int SavedFoldersModel::FolderIndex(int item) const {
    if (item <= 0 || item >= static_cast<int>(items_.size())) return -1;
    int at = -1;
    return SavedMsg_FindFolder(items_[item].folder.c_str(), &at) == 0 ? at : -1;
}

void SavedFoldersModel::ListClosed(int item, bool deletedAll) {
    if (item <= 0 || item >= static_cast<int>(items_.size())) return;
    const int at = FolderIndex(item);
    if (deletedAll || at < 0) {
        items_.erase(items_.begin() + item);
        return;
    }
    items_[item].text = folderText(at);
}

uint32_t SavedFoldersModel::DeleteFolder(int item, std::string* errorText) {
    // The item goes only once its folder went: removing it first would hide
    // a folder that is still on disk until the tree is filled again.
    const int at = FolderIndex(item);
    if (at < 0) return ERR_BADARG;
    const std::string folder = items_[item].folder;
    const uint32_t rc = SavedMsg_DeleteFolder(folder.c_str(), -1);
    if (rc == 0) {
        items_.erase(items_.begin() + item);
        return 0;
    }
    const int now = FolderIndex(item);
    if (now >= 0) items_[item].text = folderText(now);
    if (errorText) *errorText = SavedMsgs_FolderFailedText(folder);
    return rc;
}

// ---- Message list window ---------------------------------------------------

bool SavedListModel::Open(int folderIndex) {
    const char* name = SavedMsg_GetFolderName(folderIndex);
    if (!name) return false;
    folder_ = name;
    fill();
    return true;
}

void SavedListModel::fill() {
    rows_.clear();
    selection_.clear();
    focus_ = -1;
    MSGBOX* box = SavedMsg_LoadFolder(folder_.c_str(), -1);
    const int n = box ? MsgBox_GetCount(box) : 0;
    rows_.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        if (MSG_RECORD* r = MsgBox_GetMsg(box, i)) rows_.push_back(r);
    if (!rows_.empty()) {
        selection_ = {0};
        focus_ = 0;
    }
}

std::string SavedListModel::Text(int row, int column) const {
    if (row < 0 || row >= RowCount()) return {};
    const MSG_RECORD& r = *rows_[static_cast<size_t>(row)];
    switch (column) {
    case SMCOL_SUBJECT:
        return r.Subject().c_str();
    case SMCOL_SIZE:
        return r.SizeText().c_str();
    case SMCOL_DATE:
        return MailBoxList_DateText(r.Date);
    default:
        return {};
    }
}

bool SavedListModel::Partial(int row) const {
    // The table marks a partial save with status 5.
    return row >= 0 && row < RowCount() && rows_[static_cast<size_t>(row)]->Status == 5;
}

void SavedListModel::SetSelection(std::vector<int> rows, int focus) {
    std::erase_if(rows, [this](int r) { return r < 0 || r >= RowCount(); });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    selection_ = std::move(rows);
    focus_ = focus >= 0 && focus < RowCount() ? focus : -1;
}

void SavedListModel::SelectAll() {
    selection_.resize(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i)
        selection_[i] = static_cast<int>(i);
    if (focus_ < 0 && !rows_.empty()) focus_ = 0;
}

uint32_t SavedListModel::Load(int row, std::string* text) const {
    if (row < 0 || row >= RowCount()) return ERR_NOT_READY;
    return SavedMsg_LoadMsg(folder_.c_str(), -1, rows_[static_cast<size_t>(row)], text);
}

int SavedListModel::DeleteSelected() {
    int failed = 0, deleted = 0, last = -1;
    for (int row : selection_) {
        MSG_RECORD*& r = rows_[static_cast<size_t>(row)];
        if (SavedMsg_DeleteMsg(folder_.c_str(), -1, r) == 0) {
            r = nullptr; // freed with its record
            last = row;
            ++deleted;
        } else {
            ++failed;
        }
    }
    if (deleted == 0) return failed;
    std::erase(rows_, nullptr);
    // Every deleted row stood at or before `last`, so the row that followed
    // it moved up by their number.
    int next = std::min(last + 1 - deleted, RowCount() - 1);
    selection_.clear();
    focus_ = -1;
    if (next >= 0) {
        selection_ = {next};
        focus_ = next;
    }
    return failed;
}

uint32_t SavedListModel::DeleteAll() {
    const uint32_t rc = SavedMsg_DeleteFolder(folder_.c_str(), -1);
    if (rc == 0) {
        rows_.clear();
        selection_.clear();
        focus_ = -1;
        return 0;
    }
    // A failed folder deletion rebuilds the folder's box: the old records are
    // gone, so the rows must follow the files that are left.
    fill();
    return rc;
}
