// SPDX-License-Identifier: GPL-3.0-or-later
// "Delete now" as the windows run it: fast delete of some of an account's
// messages behind the delete progress box, with the outcome's boxes shown
// in front of the window that asked. UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QWidget;
struct ACCOUNT;
struct FASTPOP3_RESULT;

// FastDelete_Run (engine/fastdelete.h) for these ids, with `owner` as the
// parent of the progress box, the password prompt and the boxes. The box
// of the account follows what the server confirmed when it returns.
uint32_t DeleteNow_Run(QWidget* owner, ACCOUNT* account, const std::vector<std::string>& ids,
                       FASTPOP3_RESULT* result);
