// SPDX-License-Identifier: GPL-3.0-or-later
/* The filter plug-in ABI: what libiwfilter.so exports and what the program
 * hands it. Plain C, so a plug-in can be built by any compiler.
 *
 * The program loads libiwfilter.so (message/filter.h says where from) on first use and
 * resolves the entry points below by name. Filter_Initialize,
 * Filter_ChangePath, Filter_GetMsgAction and Filter_Close are required; every
 * other entry point is optional and the program uses a default when it is
 * missing. A plug-in that exports Filter_AbiVersion must return
 * IWFILTER_ABI_VERSION, or it is not loaded. The program never calls into the
 * plug-in from two threads at once.
 *
 * Results are 0 for success or the program's status codes (0xF0000002 "not
 * ready", 0xF000F000 "operation failed"). Texts are UTF-8 and NUL-terminated;
 * the plug-in must not keep pointers to them after the call returns. */
#ifndef IWFILTER_H
#define IWFILTER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define IWFILTER_ABI_VERSION 1u

/* Action bits returned by Filter_GetMsgAction. */
#define IWF_ACT_DELETE 0x01u      /* delete on the server */
#define IWF_ACT_SAVE 0x02u        /* save to a file */
#define IWF_ACT_SAVE2 0x04u       /* save to a file */
#define IWF_ACT_SHOW 0x08u        /* show the message now */
#define IWF_ACT_SAVE_STRICT 0x10u /* save; a failed save cancels every action */
#define IWF_ACT_BOUNCE 0x20u      /* return to the sender as undeliverable */
#define IWF_ACT_QUIET 0x40u       /* add without notification */
#define IWF_ACT_SPAM 0x80u        /* spam: save to the spam folder when deleting */

/* Combinations the program acts on: any bit that saves a copy, and the bits
 * that save one even without IWF_ACT_SAVE. */
#define IWF_ACT_ANY_SAVE (IWF_ACT_SAVE | IWF_ACT_SAVE2 | IWF_ACT_SAVE_STRICT | IWF_ACT_SPAM)
#define IWF_ACT_IMPLIES_SAVE (IWF_ACT_SAVE_STRICT | IWF_ACT_SPAM)

/* Filter_Modify and Filter_BlockMsgDlg: the plug-in has no editor of its
 * own. The program then opens its own rule editor, which reads and writes
 * the rules as a rule file (the shipped plug-in's format) through
 * Filter_Export and Filter_Import. */
#define IWF_NO_EDITOR 0xF0000010u

/* A filter context, owned by the plug-in. */
typedef struct iwf_filter* IWF_HANDLE;

/* Value types of the settings store. */
#define IWF_TYPE_STRING 1u
#define IWF_TYPE_BINARY 3u
#define IWF_TYPE_NUMBER 4u

/* Access to the program's settings store, in place of a registry root. Key
 * paths are relative to the top of the store, levels separated by '\\'.
 * Each call returns 0, or 0xF0000006 when the key or value is absent, or
 * 0xF000F000. get_value: *len gives the buffer size and returns the stored
 * size; a buffer that is too small gets nothing and 0xF0000003. */
typedef struct IWF_STORE {
    uint32_t size; /* sizeof(IWF_STORE) as the program knows it */
    void* ctx;
    uint32_t (*get_value)(void* ctx, const char* key_path, const char* name, uint32_t* type,
                          void* buf, uint32_t* len);
    uint32_t (*set_value)(void* ctx, const char* key_path, const char* name, uint32_t type,
                          const void* data, uint32_t len);
    uint32_t (*delete_value)(void* ctx, const char* key_path, const char* name);
    uint32_t (*delete_key)(void* ctx, const char* key_path);
} IWF_STORE;

typedef uint32_t (*IWF_AbiVersion)(void);
typedef uint32_t (*IWF_Initialize)(const IWF_STORE* store, const char* display_name,
                                   const char* key_path, const char* filter_file, IWF_HANDLE* out);
typedef uint32_t (*IWF_ChangePath)(IWF_HANDLE h, const IWF_STORE* store, const char* account_name,
                                   const char* new_key_path, const char* value);
typedef uint32_t (*IWF_GetMsgAction)(IWF_HANDLE h, const char* message_text);
typedef uint32_t (*IWF_Close)(IWF_HANDLE h);
typedef uint32_t (*IWF_Reload)(IWF_HANDLE h, int flags);
/* count name/value pairs: the account's ChkLogin and Email ("ChkLogin",
 * "Email"), or the global settings the plug-in may use. */
typedef uint32_t (*IWF_AssignVars)(IWF_HANDLE h, int count, const char* const* names,
                                   const char* const* values);
typedef int32_t (*IWF_IsEmpty)(IWF_HANDLE h);
typedef int32_t (*IWF_GetCount)(IWF_HANDLE h);
typedef uint32_t (*IWF_Copy)(IWF_HANDLE dst, IWF_HANDLE src, int append);
typedef uint32_t (*IWF_DeleteAll)(IWF_HANDLE h);
typedef uint32_t (*IWF_File)(IWF_HANDLE h, const char* file_name);
/* owner: the native window id of the dialog's owner, or 0. */
typedef uint32_t (*IWF_Modify)(IWF_HANDLE h, uintptr_t owner);
/* Optional: the text of the last failure on h (for the user: "line 3:
 * unknown match \"like\""), or NULL; valid until the next call on h. */
typedef const char* (*IWF_LastError)(IWF_HANDLE h);
typedef uint32_t (*IWF_BlockMsgDlg)(IWF_HANDLE h, uintptr_t owner, int flags, const char* from,
                                    const char* to, const char* subject);

#ifdef __cplusplus
}
#endif

#endif /* IWFILTER_H */
