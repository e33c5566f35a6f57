// SPDX-License-Identifier: GPL-3.0-or-later
// The address book picker: the user's contacts as a tree, from which
// addresses are moved into To, Cc and Bcc lists. UI thread only.
#pragma once

#include <string>

class QWidget;

// The three address lines a picker edits ("a@x, B <b@y>").
struct ADDRESS_LINES {
    std::string to, cc, bcc;
};

// Runs the modal picker owned by `owner`, starting from `lines`. true with
// the edited lines when the user pressed OK.
bool AddressBook_Pick(QWidget* owner, ADDRESS_LINES* lines);
