// SPDX-License-Identifier: GPL-3.0-or-later
// The about box: the program's version and the date of its sources, its
// licence. UI thread only.
#pragma once

#include <functional>
#include <string>

class QWidget;

// "Inboxwarden <version>\n(<YYYY-MM-DD>)": the version "inboxwarden
// --version" prints and the date the build takes from its sources (never
// the clock of the machine that built it).
std::string AboutBox_VersionLine();

// Runs the modal box in front of `owner` (may be null) until OK.
void AboutBox_Run(QWidget* owner);

// The box while it is shown (null otherwise), for tests and screenshots.
QWidget* AboutBox_Window();

// Shows the licence text to the user; true when it was shown. The build that
// installs the text provides it; without one, "License" says that this
// build does not have the text.
using AboutLicenceFn = std::function<bool(QWidget* owner)>;
void AboutBox_SetLicenceViewer(AboutLicenceFn fn);
