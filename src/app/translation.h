// SPDX-License-Identifier: GPL-3.0-or-later
// The tray program in the user's language: the catalogue for the locale, and
// the look-up of the texts the layers below the windows hand up in English.
#pragma once

#include <string>
#include <string_view>

class QCoreApplication;

// Loads inboxwarden_<locale>.qm (beside the program, or in its share folder)
// when there is one, and installs the look-up of common/translate.h. Once,
// on the UI thread, before any worker runs.
void Translation_Install(QCoreApplication* app);

// A whole text of a lower layer (a box, a notice, a status line) as it is
// shown: its translation when the catalogue has one, else the text. Any thread.
std::string Translation_Shown(std::string_view text);

// The look-up the program installs (exposed for the tests): a translation
// whose printf conversions differ from the source's is not used, since the
// caller formats with the source's arguments.
const char* Translation_Lookup(const char* context, const char* text);
