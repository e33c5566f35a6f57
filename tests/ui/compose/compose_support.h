// SPDX-License-Identifier: GPL-3.0-or-later
// What the compose window tests share: the window interface that answers
// the password prompt, and a window filled and sent as a user does it.
#pragma once

#include "../mailbox/window_harness.h"
#include "engine/mailsend.h"
#include "ui/compose/compose_window.h"
#include "ui/progress.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace iwtest {

// The program's windows as a compose window meets them: the password
// prompt answers `password` and counts the questions.
class PromptWindows final : public LaterWindows {
  public:
    std::string password;
    int asked = 0;
    uint32_t AskPassword(const std::string&, const std::string&, std::string* pw) override {
        ++asked;
        *pw = password;
        return 0;
    }
};

// Types the recipients, subject and text into the window's fields.
inline void Fill(ComposeWindow* w, const std::string& to, const std::string& subject,
                 const std::string& text) {
    w->Field("to")->setText(QString::fromStdString(to));
    w->Field("subject")->setText(QString::fromStdString(subject));
    w->TextField()->setPlainText(QString::fromStdString(text));
}

} // namespace iwtest
