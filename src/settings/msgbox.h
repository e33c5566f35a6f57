// SPDX-License-Identifier: GPL-3.0-or-later
// The message box of an account: the messages seen on its POP3 server, one
// MSG_RECORD each, with a status, in the order they were added. Every record
// change that a function below "writes" goes to the installed writer at once
// (the settings store's, so the box survives a restart).
//
// Lookups by id are hashed and the passes that drop records compact the box
// in one stable pass, so a box of 100,000 records stays fast. A bulk pass
// commits its store writes as one transaction before it returns.
//
// The box has no lock: the mail-check worker changes it only while it holds
// the check mutex, and the windows do not change a box under a running check.
#pragma once

#include "common/datetime.h"
#include "common/keyed_array.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

struct ACCOUNT;

enum : int32_t {
    MSG_NEW = 0,              // arrived in the latest check, to be announced
    MSG_UNREAD = 1,           // seen in the list, not read
    MSG_OLD = 2,              // read or otherwise dealt with
    MSG_TO_DELETE = 3,        // marked by the user; deleted on the server at the next check
    MSG_UNREAD_PENDING = 4,   // MSG_UNREAD awaiting confirmation during a check
    MSG_OLD_PENDING = 5,      // MSG_OLD awaiting confirmation
    MSG_QUIET_PENDING = 6,    // MSG_QUIET awaiting confirmation
    MSG_QUIET = 7,            // new, but a filter turned its notification off
    MSG_NOTIFIED = 8,         // new, already announced by an earlier check
    MSG_NOTIFIED_PENDING = 9, // MSG_NEW or MSG_NOTIFIED awaiting confirmation
    MSG_DELETED = 10,         // deleted on the server (or found gone); about to be dropped
};

// Status for MsgBox_SetAllStatus: the user has looked at the box.
inline constexpr int32_t MSG_LOOKED_AT = 12;

// A text of a record as it lies in the record: UTF-8, NUL-terminated, valid
// until the record's texts change. Reads as a const char* ("" when empty).
class MsgTextView {
  public:
    MsgTextView() = default;
    MsgTextView(const char* p, size_t n) : p_(p), n_(n) {}

    operator const char*() const { return p_; }
    operator std::string_view() const { return view(); }
    const char* c_str() const { return p_; }
    std::string_view view() const { return {p_, n_}; }
    bool empty() const { return n_ == 0; }

  private:
    const char* p_ = "";
    size_t n_ = 0;
};

// The texts of a record, and the bytes each may hold.
enum MSG_FIELD : uint8_t {
    MSGF_ID, // UIDL id, or Message-ID where the server has no UIDL
    MSGF_FROM,
    MSGF_REPLYTO,
    MSGF_TO,
    MSGF_SUBJECT,
    MSGF_SIZETEXT, // "%.1fKB" of Size/1024, or the digits as received when Size is 0
};
inline constexpr int MSGF_COUNT = 6;
inline constexpr size_t kMsgFieldMax[MSGF_COUNT] = {128, 128, 128, 256, 128, 26};

// One message, copied by value. Its texts are UTF-8, cut on a character
// boundary to their limits, and lie back to back in one block on the heap,
// so that a box of 100,000 records costs about what their headers hold.
struct MSG_RECORD {
    MSG_RECORD() = default;
    MSG_RECORD(const MSG_RECORD& o);
    MSG_RECORD(MSG_RECORD&& o) noexcept;
    MSG_RECORD& operator=(const MSG_RECORD& o);
    MSG_RECORD& operator=(MSG_RECORD&& o) noexcept;
    ~MSG_RECORD() { std::free(texts_); }

    MsgTextView Text(MSG_FIELD field) const;
    MsgTextView MsgId() const { return Text(MSGF_ID); }
    MsgTextView From() const { return Text(MSGF_FROM); }
    MsgTextView ReplyTo() const { return Text(MSGF_REPLYTO); }
    MsgTextView To() const { return Text(MSGF_TO); }
    MsgTextView Subject() const { return Text(MSGF_SUBJECT); }
    MsgTextView SizeText() const { return Text(MSGF_SIZETEXT); }

    // Copies `text` (up to a NUL in it), cut on a UTF-8 boundary to the
    // field's limit. Out of memory leaves the texts as they were.
    void SetText(MSG_FIELD field, std::string_view text);
    // All six at once, in MSG_FIELD order: one block instead of six.
    void SetTexts(const std::string_view (&texts)[MSGF_COUNT]);

    int32_t Size = 0; // bytes, as LIST reports them; read as unsigned 32 bits
    int32_t HasAttach = 0;
    DATETIME Date{}; // local time; year 65535 when the message has no date
    int32_t Status = 0;

  private:
    void assign(const std::string_view (&texts)[MSGF_COUNT]);

    char* texts_ = nullptr;         // the texts, each ended by a NUL; null when all are empty
    uint16_t end_[MSGF_COUNT] = {}; // where each text's NUL ends, from the block's start
};

// An empty record: texts empty, no date, MSG_NEW.
MSG_RECORD MsgRecord_Empty();

// Copies text (up to a NUL in it) into a char array of `size` bytes, cut on
// a UTF-8 boundary.
template <size_t N> void MsgRecord_SetText(char (&field)[N], std::string_view text);
void MsgRecord_SetTextN(char* field, size_t size, std::string_view text);
// `text` up to a NUL in it, cut on a UTF-8 boundary to at most `max` bytes.
std::string_view MsgRecord_CutText(std::string_view text, size_t max);

// "%.1fKB" of size/1024 (size read as unsigned), in any locale.
std::string MsgRecord_SizeKB(int32_t size);

// The six counters. `Size` is the total of the records' sizes (64 bits: a
// box may hold more than 2 GB).
struct MSGBOX_COUNTS {
    int32_t New;
    int32_t Notified;
    int32_t Unread;
    int32_t Old;
    int32_t Quiet;
    int64_t Size;
};

struct MSGBOX {
    KeyedArray<MSG_RECORD> MsgArray{false, 0};
    MSGBOX_COUNTS Counts{};
    // MsgId -> lowest index holding it: open addressing over the records'
    // indexes (-1 free), 4 to 8 slots a record once rebuilt and at least 2
    // before it grows, so that a look-up seldom probes twice (each probe
    // reads a record); rebuilt lazily after records move.
    std::vector<int32_t> IdIndex;
    int IdIndexUsed = 0;
    bool IdIndexValid = true;
    // Records marked for deletion that the running check found on the server
    // but could not delete: the end of the check keeps them marked.
    std::unordered_set<const MSG_RECORD*> KeepMarked;
};
using MSGBOX_HANDLE = MSGBOX*;

// Where the changes a function below "writes" go, with the box's account:
// the store's writer (Reg_SetMsgRootKey installs Reg_UpdateMsgStatus), so
// that the box itself knows nothing of the store. None installed: the
// changes stay in memory.
using MsgBoxWriter = uint32_t (*)(ACCOUNT* account, const MSG_RECORD* record);
void MsgBox_SetWriter(MsgBoxWriter writer);

// A new empty box (counters 0), or null when out of memory.
MSGBOX* MsgBox_Create();

// Frees the box with its records and sets *handle to null. A null *handle is
// no error; a null handle pointer gives ERR_BADARG.
uint32_t MsgBox_Destroy(MSGBOX_HANDLE* handle);

// Appends a copy of `record` (creating the box when *handle is null). A
// status outside 0..10 is stored as MSG_NEW. With persist 1 the record is
// written. No check for an existing id: callers look the message up first.
// ERR_BADARG for a null handle pointer or record, ERR_NOMEM.
uint32_t MsgBox_AddMsg(MSGBOX_HANDLE* handle, const MSG_RECORD* record, ACCOUNT* account,
                       int persist);
// The same, taking the record's texts over instead of copying them.
uint32_t MsgBox_AddMsg(MSGBOX_HANDLE* handle, MSG_RECORD&& record, ACCOUNT* account, int persist);

// The first (lowest index) record whose MsgId equals `id` exactly
// (case-sensitive), with its index; null and -1 when none. A null box or id
// gives null and leaves *index alone.
MSG_RECORD* MsgBox_FindMsg(MSGBOX* box, const char* id, int* index);

int MsgBox_GetCount(const MSGBOX* box);
const MSGBOX_COUNTS* MsgBox_GetCounts(const MSGBOX* box);
MSG_RECORD* MsgBox_GetMsg(MSGBOX* box, int index);

// Removes a record (found by identity, or by index when `record` is null) and
// moves the later ones down. The store is not touched. ERR_NOT_FOUND.
uint32_t MsgBox_DeleteMsg(MSGBOX* box, MSG_RECORD* record, int index);

// Sets a record's status (found as MsgBox_DeleteMsg does; nothing when not
// found) and writes it.
void MsgBox_SetStatus(MSGBOX* box, MSG_RECORD* record, int index, int32_t status, ACCOUNT* account);

// The transition of a message seen again on the server; nothing written.
void MsgBox_ConfirmMsg(MSGBOX* box, MSG_RECORD* record, int index);

// Puts the known messages into their pending forms before a check and returns
// the number of records in MSG_TO_DELETE or MSG_DELETED. keepOld is the
// account's DontCleanOldMsgs.
int MsgBox_BeginCheck(MSGBOX* box, int keepOld, ACCOUNT* account);

// The running check found this record (MSG_TO_DELETE) on the server but the
// server refused to delete it: MsgBox_EndCheck keeps it marked for the next
// check instead of taking it for gone.
void MsgBox_KeepMarked(MSGBOX* box, const MSG_RECORD* record);

// Undoes the pending forms after a check that found the server unchanged.
void MsgBox_RollbackCheck(MSGBOX* box);

// Recomputes the counters. With result 0 (a complete check) the records
// still pending or marked for deletion were not on the server any more: they
// become MSG_DELETED, are written (their stored value is removed) and are
// dropped. With any other result they count as old.
void MsgBox_EndCheck(MSGBOX* box, int result, ACCOUNT* account);

// MsgBox_EndCheck with result -1: recount, never drop.
void MsgBox_Recount(MSGBOX* box, ACCOUNT* account);

// Drops, in one pass, every record whose MsgId equals one of `ids` (the
// messages a fast delete removed from the server): each becomes
// MSG_DELETED, is written (its stored value goes) and leaves the box; the
// counters are recomputed. Returns the number dropped.
int MsgBox_DropMsgs(MSGBOX* box, const std::vector<std::string>& ids, ACCOUNT* account);

// Sets every record's status and recomputes the counters. MSG_LOOKED_AT turns
// new, unread, quiet and notified records into MSG_UNREAD and the others,
// except those marked or deleted, into MSG_OLD. With bit 0 of keepMarked,
// records in MSG_TO_DELETE keep their mark.
void MsgBox_SetAllStatus(MSGBOX* box, int32_t status, int keepMarked, ACCOUNT* account);

template <size_t N> void MsgRecord_SetText(char (&field)[N], std::string_view text) {
    MsgRecord_SetTextN(field, N, text);
}
