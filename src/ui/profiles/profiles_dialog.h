// The profiles dialog: the named configurations the user keeps, created,
// copied, renamed, deleted, marked and activated. UI thread only.
#pragma once

class QWidget;

// Runs the dialog (a top-level window that is not application-modal; this
// call returns when it closes) with `owner` for its boxes. The caller has
// stopped the checks first. true when another profile was activated, so
// that windows showing accounts are rebuilt.
bool ProfilesDialog_Run(QWidget* owner);
