// SPDX-License-Identifier: GPL-3.0-or-later
// The one way every layer shows a message box or asks the user a question.
// The layers below the user interface only describe the box; the program
// installs a handler that shows it on the UI thread, and tests install one
// that records or answers it. Without a handler the box is written to the
// debug log and to stderr and gets its default answer.
#pragma once

#include "common/notice.h"

#include <functional>
#include <string_view>

// Buttons and icon (the numbers of the platform the texts were written for).
enum : unsigned {
    UM_OK = 0x00,
    UM_OKCANCEL = 0x01,
    UM_YESNOCANCEL = 0x03,
    UM_YESNO = 0x04,
    UM_ICONERROR = 0x10,
    UM_ICONQUESTION = 0x20,
    UM_ICONWARNING = 0x30,
    UM_ICONINFO = 0x40,
};

// Answers.
enum : int { UM_IDOK = 1, UM_IDCANCEL = 2, UM_IDYES = 6, UM_IDNO = 7 };

// Shows one box and returns the answer. Texts may hold "\r\n" line breaks.
using UserMsgHandler =
    std::function<int(std::string_view caption, std::string_view text, unsigned flags)>;

// Installs the handler (an empty one restores the default) and returns the
// previous one. The handler may be called from any thread.
UserMsgHandler UserMsg_SetHandler(UserMsgHandler handler);

// Shows a box through the installed handler.
int UserMsg_Show(std::string_view caption, std::string_view text, unsigned flags = UM_OK);

// Shows each notice of a lower layer as a plain box with its kind's icon.
void UserMsg_ShowNotices(const NOTICES& notices);

// The program is ending on a signal: from now on no box reaches the handler;
// each is written to the debug log and stderr and gets its default answer at
// once, so nothing waits for a user who is not there any more.
void UserMsg_SetEnding();
bool UserMsg_IsEnding();

// The answer a box gets when nobody can be asked: OK for a plain box, Cancel
// where there is a Cancel button, No for a yes/no question.
int UserMsg_DefaultAnswer(unsigned flags);
