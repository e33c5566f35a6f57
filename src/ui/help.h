// SPDX-License-Identifier: GPL-3.0-or-later
// The manual installed with the program (docs/manual/, one HTML page per
// window) and the licence text: where they are, and showing them. UI thread
// only.
#pragma once

#include <string>

class QString;
class QWidget;

// The folder that holds manual/, screenshots/ and LICENSE: inboxwarden-data/
// beside the program (the build tree), the installation's data folder
// relative to the program (an installation moved as a whole), then where this
// build was configured to install it. The first that holds the manual's
// index; "" when none does. `programDir` ends with a slash.
std::string Help_DataDir(const std::string& programDir);

// The manual page about `window` (its top-level window), by what the window
// is: "mailbox.html", "settings.html", ...; "index.html" for null and for a
// window the manual has no page about.
QString Help_PageFor(const QWidget* window);

// Opens `page` of the installed manual in the desktop's browser; says so in
// a box in front of `owner` when the manual is missing or no program shows
// it. true when it was handed to the desktop.
bool Help_Open(const QString& page, QWidget* owner);

// Shows the licence text in a box in front of `owner`: the installation's
// LICENSE, else the distribution's copy of the GPL version 3. false when
// neither is there (the about box then says so).
bool Help_ShowLicence(QWidget* owner);

// F1 in any window of the program that has no F1 command of its own opens the
// manual at that window's page.
void Help_InstallKey();
