// Printing of a text field: an optional heading and the field's text (or
// its selection, when the user asks for that) as plain text, wrapped to the
// page width, page after page, with a small window that cancels the job.
// UI thread only.
#pragma once

#include <string>

class QWidget;

// Prints `field`, a QTextEdit or QPlainTextEdit, after `heading` (null: no
// heading). Asks for the printer first; failures are logged or shown.
void Print_WindowText(const std::string* heading, QWidget* field);
