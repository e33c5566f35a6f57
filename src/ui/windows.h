// SPDX-License-Identifier: GPL-3.0-or-later
// The window layer's side of APP_WINDOWS (core/app_windows.h): the windows
// the tray program opens, with a message box for windows that later parts
// of the program provide.
#pragma once

#include "ui/app_windows.h"
#include "ui/settings/settings_dialog.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

// What the windows need of the tray program around them (installed by the
// program; empty members do nothing).
struct UI_APP_HOOKS {
    // A tray command (Tray_Command): settings, profiles, automatic
    // checking, exit, about, help.
    std::function<void(int command)> trayCommand;
    // MailClient_Launch for the account (null: the global client).
    std::function<bool(ACCOUNT* account)> launchMailClient;
    // Tray_UpdateSummary.
    std::function<void()> trayRefresh;
    // Stops the tray's new-mail blink.
    std::function<void()> stopBlink;
    // Whether a compose window is open.
    std::function<bool()> composeOpen;
    // The start-up's "/smtp:" server (empty: none).
    std::function<std::string()> smtpServer;
    // The tray menu (its commands carry their number as data).
    std::function<QMenu*()> trayMenu;
};

class UiWindows final : public APP_WINDOWS {
  public:
    UiWindows();
    ~UiWindows() override;
    void SetAppHooks(UI_APP_HOOKS hooks) { hooks_ = std::move(hooks); }
    bool Has(APP_WINDOW w) override;
    void Open(APP_WINDOW w) override;
    bool IsOpen(APP_WINDOW w) override;
    void MailBoxAccountChecked(uint32_t result, ACCOUNT* account) override;
    void MailBoxRefresh(ACCOUNT* account) override;
    void MailBoxCommand(int command) override;
    void SettingsChanged() override;
    void ProgressStart(bool hideAllowed) override;
    void ProgressSetAccount(const std::string& text) override;
    void ProgressSetStatus(const std::string& text) override;
    void ProgressClose() override;
    int ProgressDownload(std::shared_ptr<CHECK_COMPLETION> completion) override;
    void CloseAll() override;
    int MessageBox(const std::string& caption, const std::string& text, unsigned flags) override;
    bool ShowMessage(const std::string& accountName, std::string_view text) override;
    void OpenCompose(const COMPOSE_REQUEST& request) override;
    void NewMailPopup(int count) override;
    uint32_t AskPassword(const std::string& accountName, const std::string& login,
                         std::string* password) override;
    void StatusWindow(StatusMode mode, int icon, const std::string& tip, QMenu* menu) override;

  private:
    std::vector<SETTINGS_MENU_ITEM> trayCommands() const;
    void runSettings();

    UI_APP_HOOKS hooks_;
};

// While one lives, the boxes and prompts of MessageBox and AskPassword have
// `owner` as their parent: a window that asks the user something puts it
// in front of itself. Scopes nest; a deleted owner is forgotten.
class UiBoxOwner {
  public:
    explicit UiBoxOwner(QWidget* owner);
    ~UiBoxOwner();
    UiBoxOwner(const UiBoxOwner&) = delete;
    UiBoxOwner& operator=(const UiBoxOwner&) = delete;

  private:
    QPointer<QWidget> previous_;
};

// What APP_WINDOWS::SettingsChanged does, for the window layer's own
// dialogs: the windows that show accounts are rebuilt from the tables.
void UiWindows_SettingsChanged();

// The window that stands in for the tray icon when no tray is available
// (null when not shown); for tests and screenshots.
QWidget* UiWindows_StatusWindow();
