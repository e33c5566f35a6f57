// SPDX-License-Identifier: GPL-3.0-or-later
// The stored form of message records: one string value per message under
// root\<account name>\MsgBox, named after the record's MsgId and holding
//   ;Fm=;From;Rt=;ReplyTo;To=;To;Sj=;Subject;Sz=;Size;DS=; y m dow d h min s status ;A=;0|1;En=;
// There is no escaping; instead the writer breaks any marker inside the four
// texts (its ';' becomes ','), and the reader takes the numbers from after
// the last ";Sz=;", so header text can never set a record's size or status.
// Stored files and profiles rely on this exact form.
#pragma once

#include "common/notice.h"
#include "settings/msgbox.h"
#include "settings/reg.h"

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

struct ACCOUNT;

// Writes the record's value (or deletes it when the status is MSG_DELETED).
// Always returns 0: a failed open or write is logged and kept for
// Reg_TakeWriteFailure; a failed delete is only logged. The record then
// lives on in memory only. Any thread.
uint32_t Reg_UpdateMsgStatus(ACCOUNT* account, const MSG_RECORD* record);

// For the user, once per operation (a check, a command, a load): the text of
// the first record write that failed since the last call ("" for none), and
// in *more the number of those that failed after it. The writes come from
// inside the boxes' rules, thousands to a pass, so they are gathered here
// rather than returned by each. Any thread.
std::string Reg_TakeWriteFailure(int* more = nullptr);

// The same as the notice to show ("Reg_UpdateMsgStatus"), added to `into`
// when a write failed; how many more failed goes to the debug log.
void Reg_TakeWriteFailureNotice(NOTICES* into);

// The root key handle Reg_UpdateMsgStatus writes through, and the boxes'
// writer (MsgBox_SetWriter). Start-up sets it; when it is null the next
// write opens the root key itself. The handle stays owned by the caller.
void Reg_SetMsgRootKey(REGKEY* root);

// Called before every record write, on the writing thread, while set: the
// boxes were filled from values the store does not hold yet, and they must
// be stored before a write changes one of them.
void Reg_SetBeforeRecordWrite(void (*fn)());

// The value text of a record.
std::string MsgRecord_ToValue(const MSG_RECORD& record);

// Reads a value back into a record (MsgId is not touched). False when a
// marker is missing, so the value is to be skipped. Fewer than eight
// numbers after ";DS=;" leave a missing date and MSG_NEW for the rest.
bool MsgRecord_FromValue(std::string_view value, MSG_RECORD* record);

// Record values kept in memory as a message import would have stored them:
// for boxes filled from the profile while the store does not hold them yet.
// A later value of a name replaces the earlier one's type and data in its
// place, as a store write does.
class MSG_VALUES {
  public:
    void Add(HREGKEY account, std::string_view name, uint32_t type, std::string_view data);
    // Calls fn(name, type, data) for the values of `account`'s box in order,
    // until it returns false.
    void ForEach(HREGKEY account, const RegValueFn& fn) const;

  private:
    struct Value {
        std::string name;
        uint32_t type;
        std::string data;
    };
    struct Box {
        std::deque<Value> values; // a deque: the index below views the names
        std::unordered_map<std::string_view, size_t> at;
    };
    std::unordered_map<HREGKEY, Box> boxes_;
};

// Fills the message boxes of all accounts, in table order, from the store
// below `root`, or from `values` instead when given (records are added without being written back;
// those stored as new or notified become unread, and that is written unless `storeUnread` is false:
// a listing that must leave the store as it was). A value that cannot be read is skipped, not the
// rest of its account; an account whose key cannot be opened keeps an empty box; the first such
// failure goes to *errorText (when given), for the caller to show under the caption
// "Account_GetMessages". Each box is recounted, nothing dropped.
// 0, ERR_NOT_READY without a root, ERR_NOMEM.
uint32_t Account_GetMessages(REGKEY* root, bool storeUnread = true,
                             std::string* errorText = nullptr, const MSG_VALUES* values = nullptr);
