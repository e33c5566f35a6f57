// SPDX-License-Identifier: GPL-3.0-or-later
// The filter rule editor of the tray program: the rules of one account, or
// the global ones, read and written through the filter plug-in's interface.
// UI thread only.
#pragma once

#include <string>

class QWidget;

// Edits the rules of account `accountName` ("" for the global rules) in a
// modal dialog owned by `owner`. A plug-in with an editor of its own is
// asked to show it instead. true when rules were changed.
bool FilterEditor_Open(QWidget* owner, const std::string& accountName);

// "Add Filter" for a message of account `accountName`: the plug-in's own
// dialog when it has one, else the built-in editor with a rule for the
// message's sender added and selected. true when a rule was added (the
// caller then saves the profile).
bool FilterEditor_AddRule(QWidget* owner, const std::string& accountName, const std::string& from,
                          const std::string& to, const std::string& subject);
