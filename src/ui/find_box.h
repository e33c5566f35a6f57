// SPDX-License-Identifier: GPL-3.0-or-later
// The Find box of the MailBox window and the message viewer: "Find what:",
// "Match case", Find Next, Find Previous and Close. Modeless, one per
// window, made on first use and kept (hidden when closed) with its text.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;

class FindBox final : public QDialog {
  public:
    // `find(forward)` searches with the box's text and choice; the buttons
    // are greyed while the text is empty.
    FindBox(QWidget* owner, const std::string& text, bool matchCase,
            std::function<void(bool forward)> find);

    std::string Text() const;
    bool MatchCase() const;
    // Shows the box in front of its window with its text selected.
    void Present();

  private:
    QLineEdit* text_;
    QCheckBox* matchCase_;
};
