// SPDX-License-Identifier: GPL-3.0-or-later
// The compose window: a new message, a reply or a forward, written and sent
// through the account's outgoing server behind the send progress box, saved
// as a draft file and opened again. Several can be open at once; each is a
// top-level window of its own. UI thread only.
#pragma once

#include "ui/compose/compose_model.h"

#include <QMainWindow>

#include <vector>

class APP_WINDOWS;
class QComboBox;
class QLineEdit;
class QListWidget;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// Who shows the boxes, asks for passwords and opens the settings, profiles,
// help and about windows (the program's UiWindows; null in some tests).
void Compose_SetWindows(APP_WINDOWS* windows);

class ComposeWindow : public QMainWindow {
  public:
    explicit ComposeWindow(const COMPOSE_SOURCE& source);
    ~ComposeWindow() override;

    // The window's commands (menus, buttons, shortcuts).
    void Send();
    bool SaveAs(); // true when the draft was written
    void OpenFile(const std::string& path);
    void AttachFile(const std::string& path);
    void AppendSignature();
    // The account list again (the accounts changed); the choice is kept
    // while its account exists.
    void RefillAccounts();

    // For tests and screenshots.
    ComposeModel& Model() { return model_; }
    QPlainTextEdit* TextField() const { return text_; }
    QLineEdit* Field(const char* name) const;
    QListWidget* AttachmentList() const { return attachments_; }
    QPushButton* SendButton() const { return send_; }
    // Where Save As writes without asking (tests); empty: ask.
    std::string saveAsPath;

  protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    void build();
    void showModel();
    void pullFields();
    void showAttachments();
    int ask(const std::string& text, unsigned flags);
    void pickAddresses();

    ComposeModel model_;
    QComboBox* account_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* server_ = nullptr;
    QLineEdit* to_ = nullptr;
    QLineEdit* cc_ = nullptr;
    QLineEdit* bcc_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QLabel* attachLabel_ = nullptr;
    QListWidget* attachments_ = nullptr;
    QPushButton* send_ = nullptr;
    QAction* appendSig_ = nullptr;
};

// Opens a compose window on `source`; it deletes itself when closed.
ComposeWindow* Compose_Open(const COMPOSE_SOURCE& source);
// How many compose windows are open. Any thread (the engine asks).
int Compose_Count();
// The open compose windows, oldest first.
std::vector<ComposeWindow*> Compose_Windows();
// The accounts changed: every open window refills its account list.
void Compose_SettingsChanged();
