// The stored form of message records: one string value per message under
// root\<account name>\MsgBox, named after the record's MsgId and holding
//   ;Fm=;From;Rt=;ReplyTo;To=;To;Sj=;Subject;Sz=;Size;DS=; y m dow d h min s status ;A=;0|1;En=;
// There is no escaping: a text holding the marker that follows it is cut
// there when read back. Stored files and profiles rely on this exact form.
#pragma once

#include "settings/msgbox.h"
#include "settings/reg.h"

#include <string>
#include <string_view>

struct ACCOUNT;

// Writes the record's value (or deletes it when the status is MSG_DELETED).
// Always returns 0: a failed open or write is logged and shown to the user in
// a box captioned "Reg_UpdateMsgStatus" (one box per open UserMsgBatch); a
// failed delete is only logged. The record then lives on in memory only.
uint32_t Reg_UpdateMsgStatus(ACCOUNT* account, const MSG_RECORD* record);

// The root key handle Reg_UpdateMsgStatus writes through. Start-up sets it;
// when it is null the next write opens the root key itself. The handle stays
// owned by the caller.
void Reg_SetMsgRootKey(REGKEY* root);

// The value text of a record.
std::string MsgRecord_ToValue(const MSG_RECORD& record);

// Reads a value back into a record (MsgId is not touched). False when a
// marker is missing, so the value is to be skipped.
bool MsgRecord_FromValue(std::string_view value, MSG_RECORD* record);
