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
class PromptWindows final : public APP_WINDOWS {
  public:
    std::string password;
    int asked = 0;
    bool Has(APP_WINDOW) override { return false; }
    void Open(APP_WINDOW) override {}
    bool IsOpen(APP_WINDOW) override { return false; }
    void MailBoxAccountChecked(uint32_t, ACCOUNT*) override {}
    void MailBoxRefresh(ACCOUNT*) override {}
    void MailBoxCommand(int) override {}
    void SettingsChanged() override {}
    void ProgressStart(bool) override {}
    void ProgressSetAccount(const std::string&) override {}
    void ProgressSetStatus(const std::string&) override {}
    void ProgressClose() override {}
    int ProgressDownload(std::shared_ptr<CHECK_COMPLETION>) override { return 1; }
    void CloseAll() override {}
    int MessageBox(const std::string&, const std::string&, unsigned) override { return UM_IDOK; }
    bool ShowMessage(const std::string&, std::string_view) override { return false; }
    void OpenCompose(const COMPOSE_REQUEST&) override {}
    void NewMailPopup(int) override {}
    uint32_t AskPassword(const std::string&, const std::string&, std::string* pw) override {
        ++asked;
        *pw = password;
        return 0;
    }
    void StatusWindow(StatusMode, int, const std::string&, QMenu*) override {}
};

// Types the recipients, subject and text into the window's fields.
inline void Fill(ComposeWindow* w, const std::string& to, const std::string& subject,
                 const std::string& text) {
    w->Field("to")->setText(QString::fromStdString(to));
    w->Field("subject")->setText(QString::fromStdString(subject));
    w->TextField()->setPlainText(QString::fromStdString(text));
}

} // namespace iwtest
