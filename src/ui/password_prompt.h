// SPDX-License-Identifier: GPL-3.0-or-later
// The password prompt: asked for an account whose password is not stored
// (POP3 before a check or a delete, SMTP before a send). UI thread only.
#pragma once

#include <cstdint>
#include <string>

class QWidget;

// A modal box titled "Inboxwarden Password Prompt" showing the account and
// the login, with a masked field that has the focus; brought to the front.
// `owner` (may be null) is the window it sits in front of.
//   0              *password holds what was typed
//   ERR_NOT_READY  OK with an empty field, or a null `password` (then
//                  nothing is shown)
//   ERR_CANCELLED  Cancel, or the box was closed
// The typed text goes nowhere else: not to a log, not to the clipboard.
uint32_t PasswordPrompt_Ask(QWidget* owner, const std::string& accountName,
                            const std::string& login, std::string* password);

// The prompt while it is shown (null otherwise), for tests.
QWidget* PasswordPrompt_Window();
