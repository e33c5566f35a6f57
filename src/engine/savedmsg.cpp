// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/savedmsg.h"

#include "common/status.h"
#include "message/savedfile.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/globaldata.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kInitialFolders = 10;
constexpr int32_t kPartialStatus = 5;

struct STORE {
    KeyedArray<SAVED_FOLDER> folders{true, kInitialFolders};
    std::string root; // with a trailing '/'
};
std::unique_ptr<STORE> g_store;

int _folderIndex(const char* name, int index) {
    if (!g_store) return -1;
    if (name) return g_store->folders.FindKey(name);
    return g_store->folders.At(index) ? index : -1;
}

SAVED_FOLDER* _folder(const char* name, int index, int* at = nullptr) {
    const int i = _folderIndex(name, index);
    if (at) *at = i;
    return i < 0 ? nullptr : g_store->folders.At(i);
}

std::string _folderPath(int index) {
    return g_store->root + std::string(*g_store->folders.KeyAt(index));
}

MSG_RECORD _record(const SAVEDFILE_ENTRY& e) {
    MSG_RECORD r = MsgRecord_Empty();
    r.Status = e.info.partial ? kPartialStatus : MSG_NEW;
    r.Date = e.info.date;
    r.SetText(MSGF_SUBJECT, e.info.subject);
    r.SetText(MSGF_ID, e.info.id);
    r.Size = static_cast<int32_t>(static_cast<uint32_t>(e.size));
    r.SetText(MSGF_SIZETEXT, MsgRecord_SizeKB(r.Size));
    return r;
}

// Whether `name` exists as a file; a miss is logged the way a look-up logs it.
bool _exists(const std::string& path, const char* attempt) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return true;
    const int e = ec ? ec.value() : ENOENT;
    DebugLog_Write("In _downloadSelectedMessage - %s try:\n", attempt);
    DebugLog_Write("File Name: %s \n", path.c_str());
    DebugLog_Write("System error: %s \n%s \n\n", std::to_string(e).c_str(), std::strerror(e));
    return false;
}

} // namespace

uint32_t SavedMsg_SaveIfNeeded(std::string_view text, ACCOUNT* account, const char* id,
                               int rootSetting, bool partial, bool quiet) {
    if (!account || !id) return ERR_BADARG;
    std::string why;
    const uint32_t rc = SavedFile_Save(GlobalData_GetText(rootSetting), account->Name, text, id,
                                       partial, quiet, nullptr, &why);
    if (!why.empty()) UserMsg_Show("_saveMessageIfNeeded", why, UM_OK | UM_ICONERROR);
    return rc;
}

uint32_t SavedMsg_FindCopy(const ACCOUNT& account, const MSG_RECORD& record, bool wholeWanted,
                           std::string* path) {
    std::string folder = GlobalData_GetText(GD_DWNRTDIR);
    if (folder.empty() || !SavedFile_FolderNameOk(account.Name)) return ERR_NOT_FOUND;
    if (!folder.ends_with('/')) folder += '/';
    folder += account.Name + "/";
    std::string file =
        folder + SavedFile_Name(record.Date, record.Subject(), record.MsgId(), false);
    if (!_exists(file, "First")) {
        if (wholeWanted) return ERR_NOT_FOUND;
        file = folder + SavedFile_Name(record.Date, record.Subject(), record.MsgId(), true);
        if (!_exists(file, "Second")) return ERR_NOT_FOUND;
    }
    *path = std::move(file);
    return 0;
}

uint32_t SavedMsg_Open(const std::string& root) {
    if (root.empty() || g_store) return ERR_NOT_READY;
    std::error_code ec;
    if (!fs::exists(root, ec))
        return ec && ec != std::errc::no_such_file_or_directory ? ERR_NOT_READY : ERR_OPERATION;
    auto store = std::make_unique<STORE>();
    store->root = root.ends_with('/') ? root : root + "/";
    std::vector<std::string> names;
    fs::directory_iterator it(fs::path(root), ec);
    if (ec) {
        DebugLog_Write("SavedMsg_Open: cannot list \"%s\": %s\n", root.c_str(),
                       ec.message().c_str());
        return ERR_NOT_READY;
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code de;
        if (it->is_directory(de)) names.push_back(it->path().filename().native());
    }
    if (ec) {
        DebugLog_Write("SavedMsg_Open: cannot list \"%s\": %s\n", root.c_str(),
                       ec.message().c_str());
        return ERR_NOT_READY;
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        auto folder = std::make_unique<SAVED_FOLDER>();
        folder->FileCount = SavedFile_CountFull(store->root + name);
        const uint32_t rc = store->folders.Add(name, std::move(folder));
        if (rc == ERR_NOMEM) return ERR_NOMEM;
        if (rc != 0)
            DebugLog_Write("SavedMsg_Open: folder \"%s\" left out (0x%X)\n", name.c_str(), rc);
    }
    g_store = std::move(store);
    return 0;
}

void SavedMsg_Close() {
    g_store.reset();
}

MSGBOX* SavedMsg_LoadFolder(const char* name, int index) {
    int at = -1;
    SAVED_FOLDER* f = _folder(name, index, &at);
    if (!f) return nullptr;
    MsgBox_Destroy(&f->hMsgBox);
    f->FileCount = 0;
    f->hMsgBox = MsgBox_Create();
    if (!f->hMsgBox) return nullptr;
    std::vector<SAVEDFILE_ENTRY> entries;
    SavedFile_List(_folderPath(at), &entries);
    for (const auto& e : entries) {
        const MSG_RECORD r = _record(e);
        if (MsgBox_AddMsg(&f->hMsgBox, &r, nullptr, 0) != 0) break;
        if (!e.info.partial) ++f->FileCount;
    }
    return MsgBox_GetCount(f->hMsgBox) > 0 ? f->hMsgBox : nullptr;
}

int SavedMsg_GetCount() {
    return g_store ? g_store->folders.Count() : 0;
}

MSGBOX* SavedMsg_GetBox(const char* name, int index) {
    SAVED_FOLDER* f = _folder(name, index);
    return f ? f->hMsgBox : nullptr;
}

int SavedMsg_GetFileCount(const char* name, int index) {
    SAVED_FOLDER* f = _folder(name, index);
    return f ? f->FileCount : 0;
}

const char* SavedMsg_GetFolderName(int index) {
    if (!g_store) return nullptr;
    const auto key = g_store->folders.KeyAt(index);
    return key ? key->data() : nullptr; // keys are std::string: NUL-terminated
}

uint32_t SavedMsg_FindFolder(const char* name, int* index) {
    if (!g_store) return ERR_NOT_READY;
    if (!name || !index) return ERR_BADARG;
    const int i = g_store->folders.FindKey(name);
    if (i < 0) return ERR_BADARG;
    *index = i;
    return 0;
}

std::string SavedMsg_GetRoot() {
    return g_store ? g_store->root : std::string();
}

std::string SavedMsg_FileName(std::string_view folder, const MSG_RECORD& record) {
    std::string path = g_store ? g_store->root : std::string();
    path.append(folder);
    path += '/';
    path += SavedFile_RecordName(record.Date, record.Subject(), record.MsgId(),
                                 record.Status == kPartialStatus);
    return path;
}

uint32_t SavedMsg_LoadMsg(const char* name, int index, const MSG_RECORD* record,
                          std::string* text) {
    int at = -1;
    SAVED_FOLDER* f = _folder(name, index, &at);
    if (!f || !record || !text) return ERR_NOT_READY;
    return SavedFile_Load(SavedMsg_FileName(*g_store->folders.KeyAt(at), *record), text);
}

uint32_t SavedMsg_DeleteMsg(const char* name, int index, MSG_RECORD* record) {
    int at = -1;
    SAVED_FOLDER* f = _folder(name, index, &at);
    if (!f || !record || !f->hMsgBox) return ERR_NOT_READY;
    const std::string path = SavedMsg_FileName(*g_store->folders.KeyAt(at), *record);
    const bool partial = record->Status == kPartialStatus;
    std::error_code ec;
    if (!fs::remove(path, ec)) {
        DebugLog_Write("SavedMsg_DeleteMsg: cannot delete \"%s\": %s\n", path.c_str(),
                       ec ? ec.message().c_str() : "no such file");
        return ERR_OPERATION;
    }
    if (MsgBox_DeleteMsg(f->hMsgBox, record, -1) != 0) return ERR_NOT_READY;
    if (!partial && f->FileCount > 0) --f->FileCount;
    return 0;
}

uint32_t SavedMsg_DeleteFolder(const char* name, int index) {
    if (!g_store) return ERR_NOT_READY;
    int at = -1;
    if (!_folder(name, index, &at)) return ERR_BADARG;
    const std::string folder = _folderPath(at);
    std::vector<SAVEDFILE_ENTRY> entries;
    SavedFile_List(folder, &entries);
    bool failed = false;
    for (const auto& e : entries) {
        std::error_code ec;
        if (!fs::remove(folder + "/" + e.name, ec)) {
            DebugLog_Write("SavedMsg_DeleteFolder: cannot delete \"%s/%s\": %s\n", folder.c_str(),
                           e.name.c_str(), ec ? ec.message().c_str() : "no such file");
            failed = failed || ec;
        }
    }
    if (failed) {
        SavedMsg_LoadFolder(nullptr, at);
        return ERR_OPERATION;
    }
    std::error_code ec;
    fs::remove(folder, ec); // a folder that still holds other files stays
    g_store->folders.Delete(at);
    return 0;
}
