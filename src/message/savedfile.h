// SPDX-License-Identifier: GPL-3.0-or-later
// Saved message files: one raw message per file, in a folder per account
// under a root folder, named "[p]yymmdd-hhmmss-subject-id.eml" from the
// message's date, a short subject and the start of its unique id ("p" marks a
// message saved only in part).
//
// One name builder serves the writer, the look-up of a saved copy and the
// name of a listed record, so a message is always found under the name it
// was written with. Names are bytes (UTF-8 cut on character boundaries),
// never converted to another encoding on the way to the file system.
#pragma once

#include "common/datetime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Bytes of the subject and id parts in the name of a saved message.
inline constexpr size_t SAVEDFILE_SUBJECT_MAX = 21;
inline constexpr size_t SAVEDFILE_ID_MAX = 16;

// The name a message is saved under and looked up by: the date ("000000-000000"
// for a message without one), the subject trimmed of blanks and tabs, cut to
// SAVEDFILE_SUBJECT_MAX bytes and trimmed again, and the first
// SAVEDFILE_ID_MAX bytes of the id; both cuts end on a character boundary.
// In the subject and id parts the characters  " \ / : * ? < > |  and control
// characters become '_', so the name is one path component.
std::string SavedFile_Name(const DATETIME& date, std::string_view subject, std::string_view id,
                           bool partial);

// The name of a record read back from a file name (SavedFile_ParseName): the
// same rule without the trims and short cuts, so that a listed file's record
// gives back that file's name. Subject and id are cut only as far as the
// whole name must stay within 255 bytes.
std::string SavedFile_RecordName(const DATETIME& date, std::string_view subject,
                                 std::string_view id, bool partial);

// Whether an account name can be used as its folder name: not empty, at most
// 255 bytes, no '/' or NUL, and not "." or "..".
bool SavedFile_FolderNameOk(std::string_view name);

// What a saved file's name says about its message.
struct SAVEDFILE_INFO {
    bool partial = false;
    DATETIME date{};     // year yy+2000 below 99, else yy+1900; missing for 000000-000000
    std::string subject; // the text between the time and the next '-'
    std::string id;      // the rest up to ".eml"
};

// Reads a file name of the form the writer makes. Returns false, and leaves
// *info unspecified, for any other name (wrong shape, non-digit date, or a
// character the builder would have replaced), so that every name it accepts
// is given back by SavedFile_RecordName.
bool SavedFile_ParseName(std::string_view name, SAVEDFILE_INFO* info);

// One saved file of a folder.
struct SAVEDFILE_ENTRY {
    std::string name; // file name in the folder
    SAVEDFILE_INFO info;
    uint64_t size = 0; // bytes
};

// Lists the saved files of a folder: the full saves, then the partial ones,
// each group in byte order of the names. Folders and names that are not
// saved-file names are skipped. Returns 0, or ERR_NOT_READY when the folder
// cannot be listed (*entries is then empty).
uint32_t SavedFile_List(const std::string& folder, std::vector<SAVEDFILE_ENTRY>* entries);

// The number of full saves in a folder (0 when it cannot be listed).
int SavedFile_CountFull(const std::string& folder);

// Largest saved file that SavedFile_Load reads into memory.
inline constexpr uint64_t SAVEDFILE_LOAD_MAX = 256ull * 1024 * 1024;

// Loads a saved file whole. Returns 0, ERR_NOT_FOUND when it does not exist,
// ERR_NOMEM when it is larger than SAVEDFILE_LOAD_MAX, ERR_OPERATION when it
// cannot be read. *text is empty on failure.
uint32_t SavedFile_Load(const std::string& path, std::string* text);

// The message text of a POP3 answer as it is saved: the status line is left
// out and, when the answer ends with the "." line of a multi-line answer,
// that line is dropped and the byte-stuffing of lines undone (RFC 1939 §3),
// so the file holds the message itself.
std::string SavedFile_MessageText(std::string_view answer);

// Saves a message (a server's answer, status line included) for `account`
// under `root`: creates the root and the account folder when missing and
// writes the file through a temporary file, replacing a file of the same
// name only once the new one is complete. `id` is the message's unique id;
// date and subject come from the message's own header.
//   0              saved; *path (when given) is the file
//   1              root is empty: nothing to do
//   ERR_OPERATION  the root cannot be reached (access denied)
//   ERR_CREATE     a folder or the file cannot be created or written, or the
//                  account name cannot be a folder; nothing is left behind
//                  and an existing file of that name is untouched
// Failures are logged. *errorText (when given) gets what the caller shows the
// user under the caption "_saveMessageIfNeeded": the folder failures unless
// `quiet`, and a file that cannot be written always; it is empty otherwise.
uint32_t SavedFile_Save(const std::string& root, std::string_view account, std::string_view answer,
                        std::string_view id, bool partial, bool quiet, std::string* path = nullptr,
                        std::string* errorText = nullptr);
