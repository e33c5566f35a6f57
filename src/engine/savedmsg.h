// SPDX-License-Identifier: GPL-3.0-or-later
// Saved messages seen from the program: the save of the account check and
// the message viewer (root folder from the global settings), the look-up of
// a saved copy before a download, and the saved-folder table behind the
// "Saved Messages" window, where each account folder becomes a message box
// rebuilt from its file names (message/savedfile.h owns names and files).
//
// The folder table is process-wide and belongs to the UI thread; the save
// and the look-up may run on the check worker.
#pragma once

#include "common/keyed_array.h"
#include "settings/account.h"
#include "settings/msgbox.h"

#include <cstdint>
#include <string>
#include <string_view>

// The save of a message for `account` into the folder of global setting
// `rootSetting` (GD_DWNRTDIR or GD_SPAMRTDIR). `text` is the server's answer,
// status line included. Results as SavedFile_Save: 0 saved, 1 the setting is
// empty (or the settings are not loaded), ERR_OPERATION the root is out of
// reach, ERR_CREATE nothing was written. This is the account check's save.
uint32_t SavedMsg_SaveIfNeeded(std::string_view text, ACCOUNT* account, const char* id,
                               int rootSetting, bool partial, bool quiet);

// The saved copy of a record of `account` under the download root: the full
// save, or, when `wholeWanted` is false and there is none, the partial save.
// Returns 0 with *path, or ERR_NOT_FOUND (no root, no such file; logged).
uint32_t SavedMsg_FindCopy(const ACCOUNT& account, const MSG_RECORD& record, bool wholeWanted,
                           std::string* path);

// One account folder of the table.
struct SAVED_FOLDER {
    SAVED_FOLDER() = default;
    SAVED_FOLDER(const SAVED_FOLDER&) = delete;
    SAVED_FOLDER& operator=(const SAVED_FOLDER&) = delete;
    ~SAVED_FOLDER() { MsgBox_Destroy(&hMsgBox); }

    MSGBOX_HANDLE hMsgBox = nullptr; // rebuilt by SavedMsg_LoadFolder
    int32_t FileCount = 0;           // full saves found in the folder
};

// Opens the table on `root`: one folder per subfolder (in byte order of the
// names), each with an empty box and the number of its full saves. A second
// folder whose name differs from an earlier one only in letter case is left
// out (logged).
//   ERR_NOT_READY  root empty, the table already open, or root cannot be listed
//   ERR_OPERATION  root does not exist
//   ERR_NOMEM
uint32_t SavedMsg_Open(const std::string& root);

// Destroys the table with every box. Safe when it is not open.
void SavedMsg_Close();

// The folder's box rebuilt from its file names (full saves first, then the
// partial ones; each record has Status 5 for a partial save, else 0, the
// date, subject and id of its name, its size and "%.1fKB"). Nothing is
// written to the store. Null when the folder is not in the table or holds no
// saved file. The table keeps the box.
MSGBOX* SavedMsg_LoadFolder(const char* name, int index);

// Folder by name (ignoring ASCII case) when `name` is given, else by index.
int SavedMsg_GetCount();
MSGBOX* SavedMsg_GetBox(const char* name, int index);
int SavedMsg_GetFileCount(const char* name, int index);
const char* SavedMsg_GetFolderName(int index); // null when out of range

// ERR_NOT_READY without a table, ERR_BADARG for a null argument or an
// unknown name.
uint32_t SavedMsg_FindFolder(const char* name, int* index);

// The root with a trailing '/' ("" when the table is not open).
std::string SavedMsg_GetRoot();

// The file of a record of a folder: root + folder + "/" + its name; for a
// record built from a file name this is that file.
std::string SavedMsg_FileName(std::string_view folder, const MSG_RECORD& record);

// Loads a record's file. ERR_NOT_READY when the table, folder or record is
// missing; otherwise the results of SavedFile_Load.
uint32_t SavedMsg_LoadMsg(const char* name, int index, const MSG_RECORD* record, std::string* text);

// Deletes a record's file, then the record, and counts it off. ERR_NOT_READY
// when the table, folder or record is missing; ERR_OPERATION when the file
// cannot be deleted (the record stays).
uint32_t SavedMsg_DeleteMsg(const char* name, int index, MSG_RECORD* record);

// Deletes every saved file of a folder, the folder when nothing else is left
// in it, and its table entry. ERR_NOT_READY without a table, ERR_BADARG for
// a folder not in the table, ERR_OPERATION when a saved file could not be
// deleted (the entry stays, counted again).
uint32_t SavedMsg_DeleteFolder(const char* name, int index);
