// SPDX-License-Identifier: GPL-3.0-or-later
// Profile files (.iwpf): text snapshots of the settings tree in the
// registry-export format with a first line of its own. One writer and two
// readers: the settings import (everything but the message boxes) runs
// while the program starts, the message import after the main window
// exists, right before Account_GetMessages.
//
// File layout (lines end with CR LF):
//   <INBOXWARDEN6>
//   (empty line)
//   [HKEY_CURRENT_USER\Software\Corvale\Inboxwarden]       one section per key,
//   "name"="text"                                          depth-first, values
//   "name"=dword:00000438                                  in store order
//   "name"=hex:01,ab
//   (empty line)
//   [HKEY_CURRENT_USER\Software\Corvale\Inboxwarden\Work]
//   ...
// Names and texts escape '"' as \", '\' as \\; texts write a line break (CR
// LF, CR or LF) as \n, which reads back as CR LF. Value names are kept byte
// for byte (message ids): a byte outside valid UTF-8 and a control character
// are written \xHH. Older files hold no \xHH in names and read as before.
#pragma once

#include "common/notice.h"
#include "platform/registry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* PROFILE_MAGIC = "<INBOXWARDEN6>";
inline constexpr const char* PROFILE_ROOT_NAME = "HKEY_CURRENT_USER";

// Results of Reg_ExportKey (the desktop platform's error numbers, which the
// messages show): 0, or one of these.
inline constexpr uint32_t PROFILE_E_BAD_ROOT = 87; // a root name other than the four known ones
inline constexpr uint32_t PROFILE_E_NO_KEY = 1016; // the key cannot be opened
inline constexpr uint32_t PROFILE_E_CREATE = 82;   // the file cannot be created or written

// Results of the imports besides 0.
inline constexpr uint32_t PROFILE_E_OPEN = 2;    // the file cannot be opened
inline constexpr uint32_t PROFILE_E_READ = 30;   // reading the file failed
inline constexpr uint32_t PROFILE_E_FORMAT = 11; // the first line is not the magic

// Writes the key `keyPath` below the top of the store (known by `rootName`,
// which the program passes as "HKEY_CURRENT_USER") with all its values and
// subkeys into `fileName`. The file is written beside its target and renamed
// over it only when complete and flushed (mode 0600), so a crash, a full
// disk or a failed walk leaves the old file as it was. `magic` null writes
// "REGEDIT4" as the first line. `withNames` is kept for callers; values are
// always written with their names. Returns 0 or PROFILE_E_* or the store's
// error number (REGSTORE_*).
// `extra` (when given) adds values to a section: it gets the section's path
// ("HKEY_CURRENT_USER\\...") and returns values (name, REGTYPE_*, bytes)
// that the store does not hold.
struct PROFILE_VALUE {
    std::string name;
    uint32_t type;
    std::string data;
};
using ProfileExtraFn = std::function<std::vector<PROFILE_VALUE>(const std::string& section)>;
uint32_t Reg_ExportKey(const char* rootName, const std::string& keyPath, bool withNames,
                       const char* magic, const std::string& fileName,
                       const ProfileExtraFn& extra = {});

// What an import has to tell the user, in order, captioned
// PROFILE_NOTICE_CAPTION. The importer itself shows nothing.
inline constexpr const char* PROFILE_NOTICE_CAPTION = ".iwpf File Load";
using PROFILE_NOTICES = NOTICES;

// Reads every section of `fileName` except the message sections into the
// store. Only sections under HKEY_CURRENT_USER\`keyPath` (compared ignoring
// case) are applied; others are logged and skipped. A message section is
// exactly <keyPath>\<account>\MsgBox. *fileSize (optional) receives the
// file's length. Lines are read whole (up to 1 MiB; longer ones are skipped
// and logged); a section line or value text that is not UTF-8 is read as
// Windows-1252, value names are taken as written. The first line may carry a
// UTF-8 byte-order mark and may end in LF alone.
//   0                 read (an empty file, 0 bytes, is no error)
//   PROFILE_E_OPEN    cannot be opened
//   PROFILE_E_READ    a read failed
//   PROFILE_E_FORMAT  the first line is not `magic` ("REGEDIT4" is refused)
// The file name is remembered for Profile_ImportMessages.
// What is to be told the user goes to *notices (when given), in order.
uint32_t Profile_ImportSettings(const std::string& fileName, const char* magic,
                                const char* rootName, const std::string& keyPath, int64_t* fileSize,
                                PROFILE_NOTICES* notices = nullptr);

// Reads only the message sections of `fileName` (empty: the file the last
// settings import read), under the same key. Results as above.
uint32_t Profile_ImportMessages(const std::string& fileName = "",
                                PROFILE_NOTICES* notices = nullptr);

// The progress texts of the imports and the settings lifecycle go to this
// handler (the progress window); none by default.
using ProfileProgressFn = std::function<void(std::string_view text)>;
void Profile_SetProgressHandler(ProfileProgressFn fn);
void Profile_ShowProgress(std::string_view text);

// Escaping of texts in value lines, and its inverse.
std::string Profile_Escape(std::string_view text);
std::string Profile_Unescape(std::string_view text);

// Escaping of value names, lossless for any bytes, and its inverse (which
// also reads the names of older files).
std::string Profile_EscapeName(std::string_view name);
std::string Profile_UnescapeName(std::string_view text);

// Reads the whole file into *text (an empty file gives ""). 0,
// PROFILE_E_OPEN or PROFILE_E_READ.
uint32_t Profile_ReadFile(const std::string& fileName, std::string* text);

// Reads the message sections of a profile's contents as
// Profile_ImportText(contents, true, ...) would store them, but stores
// nothing: `fn` gets each value the store would take, with the key of the
// account whose box it belongs to, in file order. Sections of accounts the
// store does not have are skipped, as the import skips them. Results as the
// imports.
using ProfileRecordFn = std::function<void(HREGKEY account, std::string_view name, uint32_t type,
                                           std::string_view data)>;
uint32_t Profile_ReadMessages(std::string_view contents, const std::string& keyPath,
                              const ProfileRecordFn& fn, PROFILE_NOTICES* notices = nullptr);

// A line from an old profile that is not UTF-8, read as Windows-1252.
std::string Profile_FromCp1252(std::string_view line);

// Applies one file's contents (as the imports do; for the fuzz target and
// tests): `messages` selects which sections apply. Results as the imports.
uint32_t Profile_ImportText(std::string_view contents, bool messages, const char* magic,
                            const char* rootName, const std::string& keyPath,
                            PROFILE_NOTICES* notices = nullptr);
