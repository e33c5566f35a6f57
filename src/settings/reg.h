// SPDX-License-Identifier: GPL-3.0-or-later
// The program's settings tree and the value codec that turns its field types
// into stored values and back, including the stored form of passwords.
//
// Tree (below the top of the store):
//   Software\Corvale                      vendor key: CleanShutdown, OptimizeStartup,
//                                         TimeStamp, InboxwardenDefProfile, Recovery
//   Software\Corvale\Inboxwarden          root key: global settings, CheckCmd
//   root\<account name>                   one key per account
//   root\<account name>\MsgBox            one value per message of the account's box
//
// All calls return 0 or a status code of common/status.h.
#pragma once

#include "platform/registry.h"

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* REG_VENDOR_PATH = "Software\\Corvale";
inline constexpr const char* REG_ROOT_PATH = "Software\\Corvale\\Inboxwarden";

// An owned handle of one open key of the settings tree.
struct REGKEY {
    HREGKEY key = HREGKEY_NONE;
    std::string path; // as given to Reg_OpenRoot, for messages
};

// Field types of the codec. What `field` points to in Reg_GetValue / Reg_SetValue:
//   REG_T_STRBUF  get: char[*len]; at most *len-1 bytes, cut on a UTF-8
//                 character boundary, and a NUL are written, *len returns the
//                 bytes copied with the NUL.  set: const char* text
//   REG_T_STR     get: std::string*; *len (optional) returns the stored length
//                 with its NUL.  set: const char* text
//   REG_T_PSWD    get: std::string* unscrambled; *len (optional) its length.
//                 set: const char* text, stored scrambled as a byte block
//   REG_T_DWORD   uint32_t* (or int32_t*): a stored number is taken whole, a
//                 stored byte block gives its first byte, any other stored type
//                 leaves the field unchanged
//   REG_T_BOOL    uint8_t*: the first byte of whatever is stored; set stores 1 byte
//   REG_T_BINARY  uint8_t[*len]; *len returns the bytes copied (get) or gives
//                 the length to store (set)
enum : uint32_t {
    REG_T_STRBUF = 1,
    REG_T_STR = 2,
    REG_T_PSWD = 3,
    REG_T_DWORD = 4,
    REG_T_BOOL = 5,
    REG_T_BINARY = 6,
};

// Creates or opens `path` below the top of the store and returns a new
// handle in *out. ERR_BADARG for a null out, ERR_NOMEM, ERR_FAILED when the
// key cannot be created.
uint32_t Reg_OpenRoot(REGKEY** out, std::string_view path);

// Closes and frees a handle; ERR_BADARG for a null handle or one without key.
uint32_t Reg_Close(REGKEY* handle);

// Number of subkeys and the length of the longest subkey name; ERR_OPERATION.
uint32_t Reg_QueryInfo(REGKEY* handle, uint32_t* subkeys, uint32_t* maxSubkeyLen);

// Name of the index-th subkey in case-insensitive name order; ERR_OPERATION
// on failure and past the last.
uint32_t Reg_EnumKey(REGKEY* handle, uint32_t index, std::string* name);

// Creates or opens a subkey of the handle's key; ERR_OPERATION.
uint32_t Reg_OpenSubKey(REGKEY* handle, std::string_view name, HREGKEY* out);
uint32_t Reg_CloseSubKey(REGKEY* handle, HREGKEY key);

// Reads value `name` of `subkey` (or of the handle's key when subkey is
// HREGKEY_NONE) into `field` as `type` (table above).
//   ERR_BADARG     null handle, key, name or field; a required length missing
//                  (REG_T_STRBUF first sets the field to the empty text)
//   ERR_NOT_FOUND  the value is absent; the field is left as it was, so
//                  callers preset their defaults
//   ERR_OPERATION  a failed read or an unknown type
// A stored length of 0 read as REG_T_STRBUF gives the empty text and length 0.
uint32_t Reg_GetValue(REGKEY* handle, HREGKEY subkey, const char* name, void* field, uint32_t* len,
                      uint32_t type);

// Writes `field` as `type` (table above); a null field deletes the value, and
// so does an empty text for the text types and REG_T_PSWD.
//   ERR_BADARG     null handle, key or name
//   ERR_NOMEM      out of memory
//   ERR_OPERATION  an unknown type, or the store refused the write or delete
//                  (full disk, store held by another process, key deleted)
uint32_t Reg_SetValue(REGKEY* handle, HREGKEY subkey, const char* name, const void* field,
                      uint32_t len, uint32_t type);

// Reg_DeleteBranch of `name` below the handle's key; any failure gives ERR_OPERATION.
uint32_t Reg_DeleteKey(REGKEY* handle, std::string_view name, std::string* errorText = nullptr);

// Deletes the key at `path` below `parent` with everything under it. Returns
// 0 when it is gone (also when it never existed), else the store's error
// number (REGSTORE_*). A failed delete is logged, and *errorText (when
// given) gets the text the caller shows under the caption "Reg_DeleteBranch".
// The deletion is made durable at once unless `flush` is false: for a tree
// whose return after a power cut is handled as after a crash, and which the
// store's close makes durable anyway.
uint32_t Reg_DeleteBranch(HREGKEY parent, std::string_view path, std::string* errorText = nullptr,
                          bool flush = true);

// 1 when something exists, else 0:
//   kind 0: the key `name` below the top of the store can be opened;
//   kind 1: the file `name` exists. Mode 0 takes it inside the program's
//   folder; mode 2 does so unless it is an absolute path (after an optional
//   opening quote); any other mode takes it as it stands. Surrounding quotes
//   are removed. ERR_FAILED when the program's folder is needed but unknown.
uint32_t Reg_Exists(int kind, int mode, std::string_view name);

// The stored form of a password: 2 bytes per character, position-salted.
// This only keeps the password from being read at a glance; it is not
// encryption, which is why every file holding it is private to the user.
std::string Reg_ScramblePassword(std::string_view text);

// The inverse; an odd last byte is ignored and the text ends at the first NUL.
std::string Reg_UnscramblePassword(std::string_view stored);
