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
