// SPDX-License-Identifier: GPL-3.0-or-later
// The program's side of the filter plug-in (message/iwfilter.h): loading
// libiwfilter.so, one stub per entry point that returns the documented
// default when the plug-in or the entry point is missing, and one mutex
// around every call into the plug-in (the check worker and the windows both
// call it).
//
// Without the library every stub returns its default and mail is checked
// unfiltered.
#pragma once

#include "message/iwfilter.h"

#include <cstdint>
#include <string>

// The program's handle of one filter context (the account's FilterHandle).
struct FILTER;
using FILTER_HANDLE = FILTER*;

// The name under which the global filter is opened.
inline constexpr const char* FILTER_GLOBAL_NAME = "_GLB_SETTINGS_";

// Loads the plug-in (once; later calls return the first result): 0, or
// ERR_NOT_READY when the library is absent, one of the required entry points
// is missing, or it was built for another ABI version. Looked for in
// $INBOXWARDEN_PLUGIN_DIR when that is set; else in the program's folder,
// then in the installation's plug-in folder (lib/inboxwarden/).
uint32_t Filter_Load();

// Unloads the plug-in after closing nothing: callers close their handles
// first. Lets a later Filter_Load pick up another library (tests).
void Filter_Unload();

// Opens the filter context of an account (or of the global filter, name
// FILTER_GLOBAL_NAME, with `filterFile` = the GlbFilterFile setting). Key
// path = root key path + "\" + name; the global filter is shown as "Global
// Filter". *out stays null on any failure. 0 or the plug-in's or the
// loader's code.
uint32_t Filter_Open(const std::string& name, const char* filterFile, FILTER_HANDLE* out);

// Closes a context and sets *handle to null; ERR_NOT_READY without one.
uint32_t Filter_Close(FILTER_HANDLE* handle);

// Action bits (IWF_ACT_*) for a message text (header or whole message); 0
// without a filter.
uint32_t Filter_GetMsgAction(FILTER_HANDLE h, const char* messageText);

// The account was renamed: 0 or the plug-in's code.
uint32_t Filter_ChangePath(FILTER_HANDLE h, const std::string& accountName,
                           const std::string& newName, const char* value);

uint32_t Filter_Reload(FILTER_HANDLE h, int flags);                                // default 1
uint32_t Filter_AssignVars(FILTER_HANDLE h, const char* login, const char* email); // default 0
uint32_t Filter_AssignGlobal(FILTER_HANDLE h, int count, const char* const* names,
                             const char* const* values);                // default 0
int32_t Filter_IsEmpty(FILTER_HANDLE h);                                // default 1
int32_t Filter_GetCount(FILTER_HANDLE h);                               // default -1
uint32_t Filter_Copy(FILTER_HANDLE dst, FILTER_HANDLE src, int append); // default 0
uint32_t Filter_DeleteAll(FILTER_HANDLE h);                             // default 0
uint32_t Filter_Export(FILTER_HANDLE h, const char* fileName);          // default 0
uint32_t Filter_Import(FILTER_HANDLE h, const char* fileName);          // default 0
// The plug-in's edit entry points; IWF_NO_EDITOR when it has no editor of
// its own (the tray program then opens its built-in one).
uint32_t Filter_Modify(FILTER_HANDLE h, uintptr_t owner); // default 0
uint32_t Filter_BlockMsgDlg(FILTER_HANDLE h, uintptr_t owner, int flags, const char* from,
                            const char* to, const char* subject); // default ERR_NOT_READY

// The text of the plug-in's last failure on `h` (an import's bad line), or
// "" when it tells none.
std::string Filter_LastError(FILTER_HANDLE h);
