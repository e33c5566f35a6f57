// SPDX-License-Identifier: GPL-3.0-or-later
// Printing of a text field: an optional heading and the field's text (or
// its selection, when the user asks for that) as plain text, wrapped to the
// page width, page after page, with a small window that cancels the job.
// UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QPrinter;
class QWidget;

// Prints `field`, a QTextEdit or QPlainTextEdit, after `heading` (null: no
// heading). Asks for the printer first; failures are logged or shown.
void Print_WindowText(const std::string* heading, QWidget* field);

// Where the printer comes from. `selectionAllowed` tells whether the field
// has a selection; the source sets `*selectionChosen` when only the
// selection is to be printed. Null: no printer was chosen, nothing prints.
// The default shows the print dialog, without page ranges.
using PrintPrinterSource = std::function<std::unique_ptr<QPrinter>(
    QWidget* owner, bool selectionAllowed, bool* selectionChosen)>;

// Replaces the source (an empty one restores the dialog) and returns the
// previous one; tests hand in a printer that writes a PDF file.
PrintPrinterSource Print_SetPrinterSource(PrintPrinterSource source);

// The cancel window of the running job, or null; tests press its "cancel"
// button.
QWidget* Print_CancelWindow();
