// SPDX-License-Identifier: GPL-3.0-or-later
// The dial-up steps of the mail-check engine and the scheduler, on the
// dial-up options of the global settings (DialUp_GetRecord) and the
// NetworkManager hooks of net/ras.h:
//   mode 0  no dial-up: a queued check waits only for the system's network;
//   mode 1  dial the entry before a check, hang it up afterwards when asked;
//   mode 2  check only while a dial-up connection is up.
// Where NetworkManager is not available, dialling does nothing and mode 2
// behaves as mode 0 (said once in the debug log).
#pragma once

#include "net/socket.h"

#include <functional>
#include <string_view>

// Before the first account of a check (the worker): in mode 1 with an entry
// name, reports "Dialing..." through status (may be empty; it gets the entry
// name and the text) and brings the entry up. A failed dial is only logged:
// the check goes on and its accounts fail with their own errors. abort (may
// be null) ends a dial in progress.
void DialUp_OnCheckStart(
    const std::function<void(std::string_view entry, std::string_view text)>& status,
    const SockAbort* abort);

// After the last account, after a cancel (newMail false) and on the
// out-of-memory exit: in mode 1 with UseAutoHangUp, the line this program
// dialled is left up but forgotten when DontHangUpIfNew is set and there was
// new mail, otherwise hung up. A line it did not dial is never touched.
void DialUp_OnCheckEnd(bool newMail);

// 1 in mode 2.
int DialUp_RequiresConnection();

// Whether a queued check may start: in mode 2 (with NetworkManager) only
// while the entry (or, without a name, any dial-up connection) is up;
// otherwise when networkPresent.
bool DialUp_ConnectionUsable(bool networkPresent);
