// SPDX-License-Identifier: GPL-3.0-or-later
// Marking messages of one account by id, as the MailBox window marks its
// rows: read, unread, or for deletion at the next check. A record the
// server has already confirmed deleted keeps its state. The caller makes
// sure no check touches the box meanwhile (the program: the MailBox
// window's busy rule; the command line: it holds the store).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ACCOUNT;

// The status for "read", "unread" or "delete" (ASCII case ignored); false
// for any other word.
bool Mark_ParseState(std::string_view word, int32_t* status);

// Gives the records with these ids `status` (written to the store in one
// batch) and recounts the box. Returns the ids the box does not hold, each
// once. *writeFailure gets the store's failure text, if any.
std::vector<std::string> Mark_Messages(ACCOUNT* account, const std::vector<std::string>& ids,
                                       int32_t status, std::string* writeFailure);
